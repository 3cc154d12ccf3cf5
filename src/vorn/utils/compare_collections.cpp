// The Set comparer (both sides sorted by the element key class, then walked in step)
// and the Dict comparer (entries paired by iteration order).
#include "vorn/utils/compare_builders.hpp"
#include "vorn/utils/composites.hpp"
#include "vorn/utils/value_access.hpp"
#include "vorn/utils/walk.hpp"

namespace vorn::sortkit {
namespace {

constexpr const char* kWhere = " while comparing values";

// ---- Set (component: the element comparer; the element key class) ---------------------

// sorted(values, key=key_class). New reference, or null.
PyObject* sorted_by(PyObject* values, PyObject* key_class) noexcept {
    static PyObject* kwnames = nullptr;
    if (!kwnames && !(kwnames = PyTuple_Pack(1, str<"key">()))) return nullptr;
    PyObject* args[2] = {values, key_class};
    return PyObject_Vectorcall(builtins.sorted, args, 1, kwnames);
}

PyObject* compare_set(NativeFunction* self, PyObject* const* a) noexcept {
    PyObject *x = a[0], *y = a[1], *ctx = a[2];
    if (x == y) return three_way(0);
    CompositeCall guard(kWhere);
    if (guard.failed()) return nullptr;
    PyObject* elem = component(self);
    PyObject* keys = elem ? key_class(self) : nullptr;
    if (!keys) return nullptr;
    Ref xs = Ref::steal(sorted_by(x, keys));
    if (!xs) return nullptr;
    Ref ys = Ref::steal(sorted_by(y, keys));
    if (!ys) return nullptr;
    // Both lists are ours alone; an element is held while it is compared all the same,
    // and is fresh to a context, which outlives the lists.
    for (Py_ssize_t i = 0;; ++i) {
        if (i >= PyList_GET_SIZE(xs.get())) return three_way(i < PyList_GET_SIZE(ys.get()) ? -1 : 0);
        if (i >= PyList_GET_SIZE(ys.get())) return three_way(1);
        Ref xi = Ref::borrow(PyList_GET_ITEM(xs.get(), i));
        Ref yi = Ref::borrow(PyList_GET_ITEM(ys.get(), i));
        Ref r = Ref::steal(call_component(elem, xi.get(), yi.get(), ctx, true));
        if (!r) return nullptr;
        int nonzero = object_result(r.get());
        if (nonzero < 0) return nullptr;
        if (nonzero) return r.release();
    }
}

// ---- Dict (component: the value comparer; the key comparer) ----------------------------

// Unpacks a two-item entry into `first` and `second`, with the messages of a
// compiled `k, v = item`. Returns 0, or -1 with an exception set.
int unpack_pair(PyObject* entry, Ref& first, Ref& second) noexcept {
    if (PyTuple_CheckExact(entry)) {
        Py_ssize_t n = PyTuple_GET_SIZE(entry);
        if (n == 2) {
            first = Ref::borrow(PyTuple_GET_ITEM(entry, 0));
            second = Ref::borrow(PyTuple_GET_ITEM(entry, 1));
            return 0;
        }
        if (n > 2) {
            PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zd)", Py_ssize_t{2});
        } else {
            PyErr_Format(PyExc_ValueError, "need more than %zd value%.1s to unpack", n,
                         n == 1 ? "" : "s");
        }
        return -1;
    }
    Ref it = Ref::steal(PyObject_GetIter(entry));
    if (!it) return -1;
    Ref* slots[2] = {&first, &second};
    for (Py_ssize_t i = 0; i < 2; ++i) {
        *slots[i] = Ref::steal(PyIter_Next(it.get()));
        if (!*slots[i]) {
            if (!PyErr_Occurred())
                PyErr_Format(PyExc_ValueError, "need more than %zd value%.1s to unpack", i,
                             i == 1 ? "" : "s");
            return -1;
        }
    }
    Ref extra = Ref::steal(PyIter_Next(it.get()));
    if (extra) {
        PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zd)", Py_ssize_t{2});
        return -1;
    }
    return PyErr_Occurred() ? -1 : 0;
}

// iter(mapping.items()). New reference, or null.
PyObject* iterate_items(PyObject* mapping) noexcept {
    Ref items = Ref::steal(PyObject_CallMethodNoArgs(mapping, str<"items">()));
    return items ? PyObject_GetIter(items.get()) : nullptr;
}

PyObject* compare_dict(NativeFunction* self, PyObject* const* a) noexcept {
    PyObject *x = a[0], *y = a[1], *ctx = a[2];
    if (x == y) return three_way(0);
    CompositeCall guard(kWhere);
    if (guard.failed()) return nullptr;
    PyObject* key_cmp = key_comparer(self);
    PyObject* value_cmp = key_cmp ? component(self) : nullptr;
    if (!value_cmp) return nullptr;
    Ref own_ctx;
    // Keys always get a fresh context; values that ignore it make one pointless.
    int seen = enter_pair(&ctx, own_ctx, x, y, ignores_context(value_cmp));
    if (seen) return seen < 0 ? nullptr : three_way(0);
    Ref xi = Ref::steal(iterate_items(x));
    if (!xi) return nullptr;
    Ref yi = Ref::steal(iterate_items(y));
    if (!yi) return nullptr;
    // items() of anything but a dict may make the values it yields.
    const bool fresh = !PyDict_CheckExact(x) || !PyDict_CheckExact(y);
    for (;;) {
        Ref xe = Ref::steal(PyIter_Next(xi.get()));
        if (!xe) {
            if (PyErr_Occurred()) return nullptr;
            Ref ye = Ref::steal(PyIter_Next(yi.get()));
            if (!ye && PyErr_Occurred()) return nullptr;
            return three_way(ye ? -1 : 0);
        }
        Ref ye = Ref::steal(PyIter_Next(yi.get()));
        if (!ye) return PyErr_Occurred() ? nullptr : three_way(1);
        Ref xk, xv, yk, yv;
        if (unpack_pair(xe.get(), xk, xv) < 0 || unpack_pair(ye.get(), yk, yv) < 0) return nullptr;
        Ref r = Ref::steal(call3(key_cmp, xk.get(), yk.get(), Py_None));
        if (!r) return nullptr;
        int nonzero = object_result(r.get());
        if (nonzero) return nonzero < 0 ? nullptr : r.release();
        r = Ref::steal(call_component(value_cmp, xv.get(), yv.get(), ctx, fresh));
        if (!r) return nullptr;
        nonzero = object_result(r.get());
        if (nonzero) return nonzero < 0 ? nullptr : r.release();
    }
}

const FunctionSpec set_spec = function_spec(
    "compare_set", "cy_compare_for.<locals>.compare_set", kModuleName, kContextParams, compare_set,
    kKeepsContextPrivate);
const FunctionSpec dict_spec = function_spec(
    "compare_dict", "cy_compare_for.<locals>.compare_dict", kModuleName, kContextParams, compare_dict,
    kKeepsContextPrivate);

}  // namespace

PyObject* build_set(PyObject* t, PyObject* type_ctx) noexcept {
    Ref element_type = Ref::steal(PyObject_GetAttr(t, str<"value">()));
    Ref comparer = Ref::steal(build_over_component(kCompareBuilder, element_type.get(), type_ctx, set_spec));
    if (!comparer) return nullptr;
    // The key class builds its own comparer for the element type, without type_ctx.
    Ref make_key = Ref::steal(global(str<"cy_make_vorn_key">()));
    if (!make_key) return nullptr;
    Ref keys = Ref::steal(PyObject_CallOneArg(make_key.get(), element_type.get()));
    if (!keys) return nullptr;
    fill_state(comparer.get(), slot::kKeyClass, std::move(keys));
    return comparer.release();
}

PyObject* build_dict(PyObject* t, PyObject* type_ctx) noexcept {
    Ref payload = Ref::steal(PyObject_GetAttr(t, str<"value">()));
    if (!payload) return nullptr;
    Ref key_type_val = Ref::steal(subscript(payload.get(), str<"key">()));
    if (!key_type_val) return nullptr;
    Ref key_cmp = Ref::steal(build_nested(kCompareBuilder, key_type_val.get(), type_ctx));
    if (!key_cmp) return nullptr;
    Ref value_type_val = Ref::steal(subscript(payload.get(), str<"value">()));
    return build_over_component(kCompareBuilder, value_type_val.get(), type_ctx, dict_spec, {key_cmp.get()});
}

}  // namespace vorn::sortkit
