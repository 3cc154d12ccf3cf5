// The equality functions of the collection kinds: equal_set and equal_dict, which
// match elements and keys by Python membership.
#include "vorn/utils/equal_builders.hpp"

#include "vorn/utils/value_access.hpp"

namespace vorn::sortkit {
namespace {

PyObject* equal_set_impl(NativeFunction*, PyObject* const* a) noexcept {
    PyObject *x = a[0], *y = a[1];
    RecursionGuard guard(" in equal_set");
    if (guard.failed()) return nullptr;
    Py_ssize_t n;
    int differ = lengths_differ(x, y, &n);
    if (differ != 0) return differ < 0 ? nullptr : Py_NewRef(Py_False);
    Ref it = Ref::steal(PyObject_GetIter(x));
    if (!it) return nullptr;
    while (Ref element = Ref::steal(PyIter_Next(it.get()))) {
        int found = PySequence_Contains(y, element.get());
        if (found < 0) return nullptr;
        if (!found) Py_RETURN_FALSE;
    }
    if (PyErr_Occurred()) return nullptr;
    Py_RETURN_TRUE;
}

// One entry of `x`: whether `key` is in `y` and value_comparer(x_val, y[key], ctx)
// is true; `fresh` when x_val was made by x.items(). Returns 1, 0, or -1.
int entry_equal(PyObject* key, PyObject* x_val, PyObject* y, PyObject* value_comparer,
                PyObject* ctx, bool fresh) noexcept {
    int found = PySequence_Contains(y, key);
    if (found <= 0) return found;
    Ref y_val = Ref::steal(subscript(y, key));
    if (!y_val) return -1;
    return call_truth(value_comparer, x_val, y_val.get(), ctx, fresh || !PyDict_CheckExact(y));
}

// Splits an item of `x.items()` into key and value, as `for key, x_val in ...` does.
int unpack_entry(PyObject* entry, Ref* key, Ref* value) noexcept {
    Ref pair = Ref::steal(PySequence_Tuple(entry));
    if (!pair) return -1;
    Py_ssize_t n = PyTuple_GET_SIZE(pair.get());
    if (n < 2) {
        PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected 2, got %zd)", n);
        return -1;
    }
    if (n > 2) {
        PyErr_SetString(PyExc_ValueError, "too many values to unpack (expected 2)");
        return -1;
    }
    *key = Ref::borrow(PyTuple_GET_ITEM(pair.get(), 0));
    *value = Ref::borrow(PyTuple_GET_ITEM(pair.get(), 1));
    return 0;
}

// Every entry of `x` equal to its counterpart in `y`, in x's order: 1, 0 or -1.
int all_entries_equal(PyObject* x, PyObject* y, PyObject* value_comparer, PyObject* ctx) noexcept {
    if (PyDict_CheckExact(x)) {
        const Py_ssize_t size = PyDict_GET_SIZE(x);
        Py_ssize_t pos = 0;
        PyObject *k, *v;
        while (PyDict_Next(x, &pos, &k, &v)) {
            // Held across the comparison, which may run Python code that changes x.
            Ref key = Ref::borrow(k), x_val = Ref::borrow(v);
            int t = entry_equal(key.get(), x_val.get(), y, value_comparer, ctx, false);
            if (t <= 0) return t;
            if (PyDict_GET_SIZE(x) != size) {
                PyErr_SetString(PyExc_RuntimeError, "dictionary changed size during iteration");
                return -1;
            }
        }
        return 1;
    }
    Ref entries = Ref::steal(PyObject_CallMethodNoArgs(x, str<"items">()));
    if (!entries) return -1;
    Ref it = Ref::steal(PyObject_GetIter(entries.get()));
    if (!it) return -1;
    while (Ref entry = Ref::steal(PyIter_Next(it.get()))) {
        Ref key, x_val;
        if (unpack_entry(entry.get(), &key, &x_val) < 0) return -1;
        int t = entry_equal(key.get(), x_val.get(), y, value_comparer, ctx, true);
        if (t <= 0) return t;
    }
    return PyErr_Occurred() ? -1 : 1;
}

PyObject* equal_dict_impl(NativeFunction* self, PyObject* const* a) noexcept {
    return equal_sized(self, a, " in equal_dict", [](PyObject* x, PyObject* y, Py_ssize_t, PyObject* fn,
                                                     PyObject* ctx) { return all_entries_equal(x, y, fn, ctx); });
}

}  // namespace

const FunctionSpec equal_set_spec = function_spec(
    "equal_set", "cy_equal_for.<locals>.equal_set", kModuleName, kValueParams, equal_set_impl, kIgnoresContext);
const FunctionSpec equal_dict_spec = function_spec(
    "equal_dict", "cy_equal_for.<locals>.equal_dict", kModuleName, kContextParams, equal_dict_impl,
    kKeepsContextPrivate);

}  // namespace vorn::sortkit
