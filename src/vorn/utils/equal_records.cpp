// The equality functions of the record kinds: equal_ref, equal_struct and
// equal_variant.
#include "vorn/utils/equal_builders.hpp"

#include "vorn/utils/type_context.hpp"

namespace vorn::sortkit {
namespace {

PyObject* equal_ref_impl(NativeFunction* self, PyObject* const* a) noexcept {
    PyObject *x = a[0], *y = a[1], *ctx = a[2];
    if (x == y) Py_RETURN_TRUE;
    RecursionGuard guard(" in equal_ref");
    if (guard.failed()) return nullptr;
    PyObject* inner_comparer = closure(self, 0);
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

// The (name, function) pair `i` of a field list (kept alive by the caller), checked
// because the list is reachable from Python through the garbage collector.
PyObject* field_pair(PyObject* fields, Py_ssize_t i) noexcept {
    PyObject* pair = PyList_GET_ITEM(fields, i);
    if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2) {
        PyErr_SetString(PyExc_TypeError, "a field entry must be a (name, function) pair");
        return nullptr;
    }
    return Py_NewRef(pair);
}

bool fields_ignore_context(PyObject* fields) noexcept {
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(fields); ++i) {
        PyObject* pair = PyList_GET_ITEM(fields, i);
        if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2 ||
            !ignores_context(PyTuple_GET_ITEM(pair, 1)))
            return false;
    }
    return true;
}

}  // namespace

int all_fields_true(PyObject* fields, PyObject* x, PyObject* y, PyObject* ctx) noexcept {
    // Sized each round: a field function may run Python code.
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(fields); ++i) {
        Ref pair = Ref::steal(field_pair(fields, i));
        if (!pair) return -1;
        PyObject* name = PyTuple_GET_ITEM(pair.get(), 0);
        Ref xv = Ref::steal(item(x, name));
        if (!xv) return -1;
        Ref yv = Ref::steal(item(y, name));
        if (!yv) return -1;
        int t = call_truth(PyTuple_GET_ITEM(pair.get(), 1), xv.get(), yv.get(), ctx,
                           subscription_is_fresh(x, y));
        if (t <= 0) return t;
    }
    return 1;
}

namespace {

PyObject* equal_struct_impl(NativeFunction* self, PyObject* const* a) noexcept {
    PyObject *x = a[0], *y = a[1], *ctx = a[2];
    RecursionGuard guard(" in equal_struct");
    if (guard.failed()) return nullptr;
    Ref fields = Ref::borrow(closure(self, 0));
    if (!fields) return nullptr;
    Ref owned;
    int seen = enter_pair(&ctx, owned, x, y, ctx == Py_None && fields_ignore_context(fields.get()));
    if (seen != 0) return seen < 0 ? nullptr : Py_NewRef(Py_True);
    int t = all_fields_true(fields.get(), x, y, ctx);
    return t < 0 ? nullptr : PyBool_FromLong(t);
}

PyObject* equal_variant_impl(NativeFunction* self, PyObject* const* a) noexcept {
    PyObject *x = a[0], *y = a[1], *ctx = a[2];
    RecursionGuard guard(" in equal_variant");
    if (guard.failed()) return nullptr;
    PyObject* cases = closure(self, 0);
    if (!cases) return nullptr;
    Ref x_tag = Ref::steal(item(x, str<"type">()));
    if (!x_tag) return nullptr;
    Ref y_tag = Ref::steal(item(y, str<"type">()));
    if (!y_tag) return nullptr;
    int differ = compare_truth(x_tag.get(), y_tag.get(), Py_NE);
    if (differ != 0) return differ < 0 ? nullptr : Py_NewRef(Py_False);

    // The case function is looked up after the context step; with a context of our
    // own, looking it up first (to learn whether it needs one) changes nothing seen.
    Ref owned;
    Ref case_fn;
    if (ctx == Py_None) {
        case_fn = Ref::steal(item(cases, x_tag.get()));
        if (!case_fn) return nullptr;
    }
    int seen = enter_pair(&ctx, owned, x, y, case_fn && ignores_context(case_fn.get()));
    if (seen != 0) return seen < 0 ? nullptr : Py_NewRef(Py_True);
    if (!case_fn && !(case_fn = Ref::steal(item(cases, x_tag.get())))) return nullptr;
    Ref xv = Ref::steal(item(x, str<"value">()));
    if (!xv) return nullptr;
    Ref yv = Ref::steal(item(y, str<"value">()));
    if (!yv) return nullptr;
    return call_component(case_fn.get(), xv.get(), yv.get(), ctx, subscription_is_fresh(x, y));
}

}  // namespace

const FunctionSpec equal_ref_spec =
    context_spec("equal_ref", "cy_equal_for.<locals>.equal_ref", equal_ref_impl, kKeepsContextPrivate);
const FunctionSpec equal_struct_spec =
    context_spec("equal_struct", "cy_equal_for.<locals>.equal_struct", equal_struct_impl, kKeepsContextPrivate);
const FunctionSpec equal_variant_spec =
    context_spec("equal_variant", "cy_equal_for.<locals>.equal_variant", equal_variant_impl,
                 kKeepsContextPrivate);

}  // namespace vorn::sortkit
