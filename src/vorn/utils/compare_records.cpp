// The Ref comparer (through the referenced value), the Struct comparer (field by
// field in the descriptor's order) and the Variant comparer (case name, then payload).
#include "common/compat.hpp"
#include "vorn/utils/compare_builders.hpp"
#include "vorn/utils/composites.hpp"
#include "vorn/utils/value_access.hpp"
#include "vorn/utils/walk.hpp"

namespace vorn::sortkit {
namespace {

constexpr const char* kWhere = " while comparing values";

// ---- Ref (component: the referenced type's comparer) ----------------------------------

PyObject* compare_ref(NativeFunction* self, PyObject* const* a) noexcept {
    PyObject *x = a[0], *y = a[1], *ctx = a[2];
    if (x == y) return three_way(0);
    CompositeCall guard(kWhere);
    if (guard.failed()) return nullptr;
    PyObject* target = component(self);
    if (!target) return nullptr;
    Ref own_ctx;
    int seen = enter_pair(&ctx, own_ctx, x, y, ignores_context(target));
    if (seen) return seen < 0 ? nullptr : three_way(0);
    Ref xv = Ref::steal(PyObject_GetAttr(x, str<"value">()));
    if (!xv) return nullptr;
    Ref yv = Ref::steal(PyObject_GetAttr(y, str<"value">()));
    if (!yv) return nullptr;
    return call_component(target, xv.get(), yv.get(), ctx, true);
}

// ---- Struct (the field list: (name, comparer) pairs in field order) ----------------------

PyObject* compare_struct(NativeFunction* self, PyObject* const* a) noexcept {
    PyObject *x = a[0], *y = a[1], *ctx = a[2];
    CompositeCall guard(kWhere);
    if (guard.failed()) return nullptr;
    Ref fields = Ref::steal(fields_of(self));
    if (!fields) return nullptr;
    const bool fresh = subscription_is_fresh(x, y);
    for (Py_ssize_t i = 0, n = PyTuple_GET_SIZE(fields.get()); i < n; ++i) {
        PyObject* field = PyTuple_GET_ITEM(fields.get(), i);
        PyObject* name = PyTuple_GET_ITEM(field, 0);
        Ref xv = Ref::steal(subscript(x, name));
        if (!xv) return nullptr;
        Ref yv = Ref::steal(subscript(y, name));
        if (!yv) return nullptr;
        Ref r = Ref::steal(call_component(PyTuple_GET_ITEM(field, 1), xv.get(), yv.get(), ctx, fresh));
        if (!r) return nullptr;
        int32_t c;
        if (integer_result(r.get(), &c) < 0) return nullptr;
        if (c) return PyLong_FromLong(c);
    }
    return three_way(0);
}

// ---- Variant (the case table: dict from case name to comparer) -------------------------

PyObject* compare_variant(NativeFunction* self, PyObject* const* a) noexcept {
    PyObject *x = a[0], *y = a[1], *ctx = a[2];
    CompositeCall guard(kWhere);
    if (guard.failed()) return nullptr;
    Ref xt = Ref::steal(subscript(x, str<"type">()));
    if (!xt) return nullptr;
    Ref yt = Ref::steal(subscript(y, str<"type">()));
    if (!yt) return nullptr;
    int lt = PyObject_RichCompareBool(xt.get(), yt.get(), Py_LT);
    if (lt < 0) return nullptr;
    if (lt) return three_way(-1);
    int gt = PyObject_RichCompareBool(xt.get(), yt.get(), Py_GT);
    if (gt < 0) return nullptr;
    if (gt) return three_way(1);
    // Held for the call: the table is reachable from Python (gc.get_referents).
    PyObject* cases = case_table(self);
    if (!cases) return nullptr;
    Ref comparer = Ref::borrow(PyDict_GetItemWithError(cases, xt.get()));
    if (!comparer) {
        if (!PyErr_Occurred()) compat::set_key_error(xt.get());
        return nullptr;
    }
    Ref xv = Ref::steal(subscript(x, str<"value">()));
    if (!xv) return nullptr;
    Ref yv = Ref::steal(subscript(y, str<"value">()));
    if (!yv) return nullptr;
    return call_component(comparer.get(), xv.get(), yv.get(), ctx, subscription_is_fresh(x, y));
}

}  // namespace

const FunctionSpec compare_ref_spec = function_spec(
    "compare_ref", "cy_compare_for.<locals>.compare_ref", kModuleName, kContextParams, compare_ref,
    kKeepsContextPrivate);
const FunctionSpec compare_struct_spec = function_spec(
    "compare_struct", "cy_compare_for.<locals>.compare_struct", kModuleName, kContextParams, compare_struct,
    kKeepsContextPrivate);
const FunctionSpec compare_variant_spec = function_spec(
    "compare_variant", "cy_compare_for.<locals>.compare_variant", kModuleName, kContextParams,
    compare_variant, kKeepsContextPrivate);

}  // namespace vorn::sortkit
