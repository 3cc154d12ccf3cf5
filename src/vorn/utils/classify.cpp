// Dispatch on the kind of a type descriptor through the module's predicates.
#include "vorn/utils/sortkit.hpp"

namespace vorn::sortkit {
namespace {

constexpr const char* kPredicateNames[] = {
    "is_never_type",   "is_null_type",   "is_boolean_type",   "is_integer_type",
    "is_float_type",   "is_string_type", "is_datetime_type",  "is_blob_type",
    "is_vector_type",  "is_matrix_type", "is_array_type",     "is_set_type",
    "is_dict_type",    "is_ref_type",    "is_struct_type",    "is_variant_type",
    "is_recursive_type", "is_function_type", "is_async_function_type",
};

}  // namespace

PyObject* raise_unknown_type(PyObject* type_val, IdText how) noexcept {
    Ref kind = Ref::steal(PyObject_GetAttr(type_val, str<"type">()));
    if (!kind) return nullptr;
    Ref text = Ref::steal(as_text(kind.get(), how));
    if (!text) return nullptr;
    PyErr_Format(PyExc_RuntimeError, "Unknown type encountered during type printing: %U", text.get());
    return nullptr;
}

int classify(PyObject* type_val, Kind last, Kind* out) noexcept {
    static PyObject* names[19] = {};
    for (int i = 0; i <= static_cast<int>(last); ++i) {
        if (!names[i] && !(names[i] = PyUnicode_InternFromString(kPredicateNames[i]))) return -1;
        // Looked up at every call, so rebinding a module attribute takes effect.
        Ref predicate = Ref::steal(global(names[i]));
        if (!predicate) return -1;
        Ref result = Ref::steal(PyObject_CallOneArg(predicate.get(), type_val));
        if (!result) return -1;
        int truth = PyObject_IsTrue(result.get());
        if (truth < 0) return -1;
        if (truth) {
            *out = static_cast<Kind>(i);
            return 0;
        }
    }
    *out = Kind::Unknown;
    return 0;
}

}  // namespace vorn::sortkit
