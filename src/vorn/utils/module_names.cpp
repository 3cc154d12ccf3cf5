// The names a caller may rebind in the module namespace, looked up at each use.
#include "vorn/utils/sortkit.hpp"

#include <iterator>

namespace vorn::sortkit {
namespace {

constexpr const char* kNames[] = {
    "cy_compare_for", "cy_equal_for", "cy_is_for", "cy_make_vorn_key", "VornBlob", "__pyx_unpickle_CyVornKey",
    // The predicates, in the order of Kind.
    "is_never_type",   "is_null_type",   "is_boolean_type",   "is_integer_type",
    "is_float_type",   "is_string_type", "is_datetime_type",  "is_blob_type",
    "is_vector_type",  "is_matrix_type", "is_array_type",     "is_set_type",
    "is_dict_type",    "is_ref_type",    "is_struct_type",    "is_variant_type",
    "is_recursive_type", "is_function_type", "is_async_function_type",
};
static_assert(std::size(kNames) == static_cast<size_t>(Rebindable::FirstPredicate) + kPredicateCount,
              "a name for each rebindable name and each kind's predicate");

// The names interned on first use, kept for the process.
PyObject* interned[std::size(kNames)] = {};

}  // namespace

const char* name_of(Rebindable which) noexcept { return kNames[static_cast<int>(which)]; }

PyObject* look_up(Rebindable which) noexcept {
    PyObject*& name = interned[static_cast<int>(which)];
    if (!name && !(name = PyUnicode_InternFromString(name_of(which)))) return nullptr;
    return global(name);
}

PyObject* call_rebindable(Rebindable which, PyObject* const* args, size_t nargs) noexcept {
    Ref fn = Ref::steal(look_up(which));
    if (!fn) return nullptr;
    return PyObject_Vectorcall(fn.get(), args, nargs, nullptr);
}

}  // namespace vorn::sortkit
