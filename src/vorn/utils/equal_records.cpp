// The equality functions of the record kinds: equal_ref, equal_struct and
// equal_variant.
#include "vorn/utils/composites.hpp"
#include "vorn/utils/equal_builders.hpp"
#include "vorn/utils/value_access.hpp"

namespace vorn::sortkit {
namespace {

PyObject* equal_ref_impl(NativeFunction* self, PyObject* const* a) noexcept {
    PyObject *x = a[0], *y = a[1], *ctx = a[2];
    if (x == y) Py_RETURN_TRUE;
    CompositeCall guard(" in equal_ref");
    if (guard.failed()) return nullptr;
    PyObject* inner_comparer = component(self);
    if (!inner_comparer) return nullptr;
    Ref owned;
    int seen = enter_pair(&ctx, owned, x, y, ignores_context(inner_comparer));
    if (seen != 0) return seen < 0 ? nullptr : Py_NewRef(Py_True);
    Ref xv = Ref::steal(PyObject_GetAttr(x, str<"value">()));
    if (!xv) return nullptr;
    Ref yv = Ref::steal(PyObject_GetAttr(y, str<"value">()));
    if (!yv) return nullptr;
    return call_component(inner_comparer, xv.get(), yv.get(), ctx, true);
}

bool fields_ignore_context(PyObject* fields) noexcept {
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(fields); ++i) {
        if (!ignores_context(PyTuple_GET_ITEM(PyTuple_GET_ITEM(fields, i), 1))) return false;
    }
    return true;
}

}  // namespace

int tags_differ(PyObject* x, PyObject* y, Ref* x_tag) noexcept {
    *x_tag = Ref::steal(subscript(x, str<"type">()));
    if (!*x_tag) return -1;
    Ref y_tag = Ref::steal(subscript(y, str<"type">()));
    if (!y_tag) return -1;
    return compare_truth(x_tag->get(), y_tag.get(), Py_NE);
}

int all_fields_true(PyObject* fields, PyObject* x, PyObject* y, PyObject* ctx) noexcept {
    const bool fresh = subscription_is_fresh(x, y);
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(fields); ++i) {
        PyObject* pair = PyTuple_GET_ITEM(fields, i);
        PyObject* name = PyTuple_GET_ITEM(pair, 0);
        Ref xv = Ref::steal(subscript(x, name));
        if (!xv) return -1;
        Ref yv = Ref::steal(subscript(y, name));
        if (!yv) return -1;
        int t = call_truth(PyTuple_GET_ITEM(pair, 1), xv.get(), yv.get(), ctx, fresh);
        if (t <= 0) return t;
    }
    return 1;
}

namespace {

PyObject* equal_struct_impl(NativeFunction* self, PyObject* const* a) noexcept {
    PyObject *x = a[0], *y = a[1], *ctx = a[2];
    CompositeCall guard(" in equal_struct");
    if (guard.failed()) return nullptr;
    Ref fields = Ref::steal(fields_of(self));
    if (!fields) return nullptr;
    Ref owned;
    int seen = enter_pair(&ctx, owned, x, y, fields_ignore_context(fields.get()));
    if (seen != 0) return seen < 0 ? nullptr : Py_NewRef(Py_True);
    return bool_result(all_fields_true(fields.get(), x, y, ctx));
}

PyObject* equal_variant_impl(NativeFunction* self, PyObject* const* a) noexcept {
    PyObject *x = a[0], *y = a[1], *ctx = a[2];
    CompositeCall guard(" in equal_variant");
    if (guard.failed()) return nullptr;
    PyObject* cases = case_table(self);
    if (!cases) return nullptr;
    Ref x_tag;
    int differ = tags_differ(x, y, &x_tag);
    if (differ != 0) return differ < 0 ? nullptr : Py_NewRef(Py_False);

    // The case function is looked up after the context step; with a context of our
    // own, looking it up first (to learn whether it needs one) changes nothing seen.
    Ref owned;
    Ref case_fn;
    if (ctx == Py_None) {
        case_fn = Ref::steal(subscript(cases, x_tag.get()));
        if (!case_fn) return nullptr;
    }
    int seen = enter_pair(&ctx, owned, x, y, case_fn && ignores_context(case_fn.get()));
    if (seen != 0) return seen < 0 ? nullptr : Py_NewRef(Py_True);
    if (!case_fn && !(case_fn = Ref::steal(subscript(cases, x_tag.get())))) return nullptr;
    Ref xv = Ref::steal(subscript(x, str<"value">()));
    if (!xv) return nullptr;
    Ref yv = Ref::steal(subscript(y, str<"value">()));
    if (!yv) return nullptr;
    return call_component(case_fn.get(), xv.get(), yv.get(), ctx, subscription_is_fresh(x, y));
}

}  // namespace

const FunctionSpec equal_ref_spec = function_spec(
    "equal_ref", "cy_equal_for.<locals>.equal_ref", kModuleName, kContextParams, equal_ref_impl,
    kKeepsContextPrivate);
const FunctionSpec equal_struct_spec = function_spec(
    "equal_struct", "cy_equal_for.<locals>.equal_struct", kModuleName, kContextParams, equal_struct_impl,
    kKeepsContextPrivate);
const FunctionSpec equal_variant_spec = function_spec(
    "equal_variant", "cy_equal_for.<locals>.equal_variant", kModuleName, kContextParams, equal_variant_impl,
    kKeepsContextPrivate);

}  // namespace vorn::sortkit
