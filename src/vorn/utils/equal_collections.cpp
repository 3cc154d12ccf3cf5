// The equality functions of the collection kinds: equal_set and equal_dict, which
// match elements and keys by Python membership.
#include "common/compat.hpp"
#include "vorn/utils/composite_call.hpp"
#include "vorn/utils/dict_items.hpp"
#include "vorn/utils/equal_functions.hpp"
#include "vorn/utils/leaf_functions.hpp"
#include "vorn/utils/value_access.hpp"

namespace vorn::sortkit {
namespace {

int equal_set_impl(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept {
    RecursionGuard guard(" in equal_set");
    if (guard.failed()) return kFailed;
    Py_ssize_t n;
    int differ = lengths_differ(x, y, &n);
    if (differ != 0) return differ < 0 ? kFailed : 0;
    Ref it = Ref::steal(PyObject_GetIter(x));
    if (!it) return kFailed;
    while (Ref element = Ref::steal(PyIter_Next(it.get()))) {
        int found = PySequence_Contains(y, element.get());
        if (found < 0) return kFailed;
        if (!found) return 0;
    }
    return PyErr_Occurred() ? kFailed : 1;
}

// One entry of `x`: whether `key` is in `y` and value_comparer(x_val, y[key], ctx)
// is true; `fresh` when x_val was made by x.items(). Returns 1, 0, or -1.
int entry_equal(PyObject* key, PyObject* x_val, PyObject* y, PyObject* value_comparer, Leaf leaf,
                PyObject* ctx, bool fresh) noexcept {
    if (PyDict_CheckExact(y) && PyUnicode_CheckExact(key) && compat::dict_has_only_str_keys(y)) {
        // `key in y`, then `y[key]`: with an exact str looked up among exact strs no user
        // code runs in either lookup, so one tells all.
        PyObject* y_val = PyDict_GetItemWithError(y, key);
        if (!y_val) return PyErr_Occurred() ? -1 : 0;
        int equal;
        if (inline_equal(leaf, x_val, y_val, &equal)) return equal;
        Ref held = Ref::borrow(y_val);
        return call_truth(value_comparer, x_val, y_val, ctx, fresh);
    }
    int found = PySequence_Contains(y, key);
    if (found <= 0) return found;
    Ref y_val = Ref::steal(subscript(y, key));
    if (!y_val) return -1;
    int equal;
    if (inline_equal(leaf, x_val, y_val.get(), &equal)) return equal;
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

// all_entries_equal of two exact dicts, when every key of `x` is an exact str, every
// key of `y` too, and the leaf compares every pair of values inline, read in place:
// true with the truth in `*out`; false, having had no effect, when some entry needs
// more (the stepped walk then starts over). Nothing here runs user code, so neither
// dict can change while it reads them. Two dicts made alike hold their keys in the
// same order: y is read beside x, and while y's next key equals x's, that entry is the
// one y[key] finds (a dict's keys are unique), with no lookup. From the first that
// differs on, y is looked up.
bool all_entries_equal_inline(PyObject* x, PyObject* y, Leaf leaf, int* out) noexcept {
    if (leaf == Leaf::None || !compat::dict_has_only_str_keys(y)) return false;
    compat::DictCursor xc(x), yc(y);
    if (!xc.ok()) return false;
    bool beside = yc.ok();
    PyObject *key = nullptr, *x_val = nullptr, *y_key = nullptr, *y_val = nullptr;
    while (xc.next(&key, &x_val)) {
        if (!PyUnicode_CheckExact(key)) return false;
        if (!(beside && yc.next(&y_key, &y_val) && equal_strs(key, y_key))) {
            beside = false;
            // An exact str among exact strs: no user code, and no error possible.
            y_val = PyDict_GetItemWithError(y, key);
        }
        int equal = 0;
        if (y_val && !inline_equal(leaf, x_val, y_val, &equal)) return false;
        if (!equal) {
            *out = 0;
            return true;
        }
    }
    *out = 1;
    return true;
}

// Every entry of `x` equal to its counterpart in `y`, in x's order: 1, 0 or -1.
int all_entries_equal(PyObject* x, PyObject* y, PyObject* value_comparer, PyObject* ctx) noexcept {
    const Leaf leaf = leaf_of(value_comparer, kWithContext);
    int inline_truth;
    if (PyDict_CheckExact(x) && PyDict_CheckExact(y) && all_entries_equal_inline(x, y, leaf, &inline_truth))
        return inline_truth;
    if (PyDict_CheckExact(x)) {
        // x.items() of an exact dict runs no user code: stepped in C, with its errors.
        DictItems items(x);
        PyObject *k, *v;
        int more;
        while ((more = items.next(&k, &v)) > 0) {
            // Held across the comparison, which may run Python code that changes x.
            Ref key = Ref::borrow(k), x_val = Ref::borrow(v);
            int t = entry_equal(key.get(), x_val.get(), y, value_comparer, leaf, ctx, false);
            if (t < 0) [[unlikely]]
                return child_failed(Doing::TestingEquality, Child::entry(key.get()), -1);
            if (t == 0) return 0;
        }
        return more < 0 ? -1 : 1;
    }
    Ref entries = Ref::steal(PyObject_CallMethodNoArgs(x, str<"items">()));
    if (!entries) return -1;
    Ref it = Ref::steal(PyObject_GetIter(entries.get()));
    if (!it) return -1;
    while (Ref entry = Ref::steal(PyIter_Next(it.get()))) {
        Ref key, x_val;
        if (unpack_entry(entry.get(), &key, &x_val) < 0) return -1;
        int t = entry_equal(key.get(), x_val.get(), y, value_comparer, leaf, ctx, true);
        if (t < 0) [[unlikely]]
            return child_failed(Doing::TestingEquality, Child::entry(key.get()), -1);
        if (t == 0) return 0;
    }
    return PyErr_Occurred() ? -1 : 1;
}

int equal_dict_impl(NativeFunction* self, PyObject* x, PyObject* y, PyObject* ctx, PyObject**) noexcept {
    return equal_sized(self, x, y, ctx, " in equal_dict",
                       [](PyObject* xd, PyObject* yd, Py_ssize_t, PyObject* fn, PyObject* c) noexcept {
                           return all_entries_equal(xd, yd, fn, c);
                       });
}

}  // namespace

const NativeSpec equal_set_spec = equality_spec<equal_set_impl>(
    "equal_set", "cy_equal_for.<locals>.equal_set", kValueParams, kIgnoresContext);
const NativeSpec equal_dict_spec = equality_spec<equal_dict_impl>(
    "equal_dict", "cy_equal_for.<locals>.equal_dict", kContextParams, kKeepsContextPrivate);

}  // namespace vorn::sortkit
