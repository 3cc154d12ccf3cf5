// The equality functions of the sequence kinds: equal_vector, equal_matrix and
// equal_array, with one element loop.
#include "vorn/utils/composite_call.hpp"
#include "vorn/utils/equal_functions.hpp"
#include "vorn/utils/leaf_functions.hpp"
#include "vorn/utils/value_access.hpp"

#include <utility>

namespace vorn::sortkit {
namespace {

// Whether fn(xs[i], ys[i], ctx) is true for every i in [0, n), in order, stopping
// at the first false one; `ctx` null calls fn with two arguments. Items of plain
// lists are read in place (kept alive across the call, since it may run Python
// code that changes the lists), and when fn is one of our leaf equality functions,
// pairs of exact built-ins it reads without user code are compared inline. Returns 1,
// 0, or -1 with an exception set.
int all_items_equal(PyObject* xs, PyObject* ys, Py_ssize_t n, PyObject* fn, PyObject* ctx) noexcept {
    const bool lists = is_plain_list(xs) && is_plain_list(ys);
    const Leaf leaf = lists ? leaf_of(fn, ctx ? kWithContext : kWithoutContext) : Leaf::None;
    for (Py_ssize_t i = 0; i < n; ++i) {
        Ref a, b;
        const bool stored = lists && i < PyList_GET_SIZE(xs) && i < PyList_GET_SIZE(ys);
        if (stored) {
            PyObject* x = PyList_GET_ITEM(xs, i);
            PyObject* y = PyList_GET_ITEM(ys, i);
            int equal;
            if (inline_equal(leaf, x, y, &equal)) {
                if (!equal) return 0;
                continue;
            }
            a = Ref::borrow(x);
            b = Ref::borrow(y);
        } else {
            // Also where a list shrank under us: its own IndexError then.
            a = Ref::steal(item_at(xs, i));
            b = a ? Ref::steal(item_at(ys, i)) : Ref();
            if (!b) [[unlikely]]
                return child_failed(Doing::TestingEquality, Child::item(i), -1);
        }
        int t = call_truth(fn, a.get(), b.get(), ctx, !stored);
        if (t < 0) [[unlikely]]
            return child_failed(Doing::TestingEquality, Child::item(i), -1);
        if (t == 0) return 0;
    }
    return 1;
}

int equal_array_impl(NativeFunction* self, PyObject* x, PyObject* y, PyObject* ctx, PyObject**) noexcept {
    return equal_sized(self, x, y, ctx, " in equal_array", all_items_equal);
}

int equal_vector_impl(NativeFunction* self, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept {
    Level<Equality> level;
    if (int r = level.enter(x, y, " in equal_vector"); r != kGoOn) return r;
    PyObject* elem_equal = component(self);
    if (!elem_equal) return kFailed;
    Ref xd, yd;
    Py_ssize_t n;
    int differ = member_lengths_differ(x, y, str<"_data">(), &xd, &yd, &n);
    if (differ != 0) return differ < 0 ? kFailed : 0;
    // Two arguments: each element starts a comparison context of its own.
    return truth_result(all_items_equal(xd.get(), yd.get(), n, elem_equal, nullptr));
}

int equal_matrix_impl(NativeFunction* self, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept {
    Level<Equality> level;
    if (int r = level.enter(x, y, " in equal_matrix"); r != kGoOn) return r;
    PyObject* elem_equal = component(self);
    if (!elem_equal) return kFailed;
    for (PyObject* dim : {str<"rows">(), str<"cols">()}) {
        Ref dx = Ref::steal(PyObject_GetAttr(x, dim));
        if (!dx) return kFailed;
        Ref dy = Ref::steal(PyObject_GetAttr(y, dim));
        if (!dy) return kFailed;
        int differ = compare_truth(dx.get(), dy.get(), Py_NE);
        if (differ != 0) return differ < 0 ? kFailed : 0;
    }
    Ref xd, yd;
    for (auto [value, flat] : {std::pair{x, &xd}, std::pair{y, &yd}}) {
        Ref data = Ref::steal(PyObject_GetAttr(value, str<"_data">()));
        if (!data) return kFailed;
        *flat = Ref::steal(PyObject_CallMethodNoArgs(data.get(), str<"ravel">()));
        if (!*flat) return kFailed;
    }
    Py_ssize_t n = PyObject_Size(xd.get());
    if (n < 0) return kFailed;
    return truth_result(all_items_equal(xd.get(), yd.get(), n, elem_equal, nullptr));
}

}  // namespace

int member_lengths_differ(PyObject* x, PyObject* y, PyObject* name, Ref* xd, Ref* yd,
                          Py_ssize_t* n) noexcept {
    *xd = Ref::steal(PyObject_GetAttr(x, name));
    if (!*xd) return -1;
    *n = PyObject_Size(xd->get());
    if (*n < 0) return -1;
    *yd = Ref::steal(PyObject_GetAttr(y, name));
    if (!*yd) return -1;
    Py_ssize_t ny = PyObject_Size(yd->get());
    if (ny < 0) return -1;
    return *n != ny;
}

const NativeSpec equal_vector_spec = equality_spec<equal_vector_impl>(
    "equal_vector", "cy_equal_for.<locals>.equal_vector", kValueParams, kIgnoresContext);
const NativeSpec equal_matrix_spec = equality_spec<equal_matrix_impl>(
    "equal_matrix", "cy_equal_for.<locals>.equal_matrix", kValueParams, kIgnoresContext);
const NativeSpec equal_array_spec = equality_spec<equal_array_impl>(
    "equal_array", "cy_equal_for.<locals>.equal_array", kContextParams, kKeepsContextPrivate);

}  // namespace vorn::sortkit
