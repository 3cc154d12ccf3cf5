// The identity functions of the record kinds: is_struct (every field identical by its
// function) and is_variant (the same tag, then the payloads by the case's function).
#include "vorn/utils/composite_call.hpp"
#include "vorn/utils/equal_functions.hpp"
#include "vorn/utils/field_access.hpp"
#include "vorn/utils/identity_functions.hpp"
#include "vorn/utils/value_access.hpp"

namespace vorn::sortkit {
namespace {

PyObject* is_struct_impl(NativeFunction* self, PyObject* const* a) noexcept {
    Level<Identity> level;
    if (level.enter(" in is_struct") != kGoOn) return nullptr;
    Ref holder;
    FieldTable* table = fields_of(self, holder);
    if (!table) return nullptr;
    return bool_result(all_fields_true(Doing::TestingIdentity, table, a[0], a[1], a[2]));
}

PyObject* is_variant_impl(NativeFunction* self, PyObject* const* a) noexcept {
    PyObject *x = a[0], *y = a[1];
    Level<Identity> level;
    if (level.enter(" in is_variant") != kGoOn) return nullptr;
    PyObject* cases = case_table(self);
    if (!cases) return nullptr;
    Ref x_tag;
    int differ = tags_differ(x, y, &x_tag);
    if (differ != 0) return differ < 0 ? nullptr : Py_NewRef(Py_False);
    x_tag = Ref::steal(subscript(x, str<"type">()));  // read again for the lookup
    if (!x_tag) return nullptr;
    Ref case_fn = Ref::steal(subscript(cases, x_tag.get()));
    if (!case_fn) return nullptr;
    Ref xv = Ref::steal(subscript(x, str<"value">()));
    if (!xv) return nullptr;
    Ref yv = Ref::steal(subscript(y, str<"value">()));
    if (!yv) return nullptr;
    PyObject* r = call3(case_fn.get(), xv.get(), yv.get(), a[2]);
    if (!r) [[unlikely]]
        child_failed(Doing::TestingIdentity, Child::case_of(x_tag.get()));
    return r;
}

}  // namespace

const FunctionSpec is_struct_spec =
    function_spec("is_struct", "cy_is_for.<locals>.is_struct", kModuleName, kContextParams, is_struct_impl);
const FunctionSpec is_variant_spec =
    function_spec("is_variant", "cy_is_for.<locals>.is_variant", kModuleName, kContextParams, is_variant_impl);

}  // namespace vorn::sortkit
