// The equality functions of the sequence kinds: equal_blob, equal_vector,
// equal_matrix and equal_array, with one element loop for the last three.
#include "vorn/utils/equal_builders.hpp"
#include "vorn/utils/value_access.hpp"

#include <cstring>
#include <utility>

namespace vorn::sortkit {
namespace {

bool is_equal_float(PyObject* fn) noexcept {
    return is_native_function(fn) && reinterpret_cast<NativeFunction*>(fn)->spec == &equal_float_spec;
}

// Whether fn(xs[i], ys[i], ctx) is true for every i in [0, n), in order, stopping
// at the first false one; `ctx` null calls fn with two arguments. Items of plain
// lists are read in place (kept alive across the call, since it may run Python
// code that changes the lists), and when fn is our Float equality, pairs of exact
// floats are compared inline. Returns 1, 0, or -1 with an exception set.
int all_items_equal(PyObject* xs, PyObject* ys, Py_ssize_t n, PyObject* fn, PyObject* ctx) noexcept {
    const bool lists = is_plain_list(xs) && is_plain_list(ys);
    const bool floats = is_equal_float(fn);
    for (Py_ssize_t i = 0; i < n; ++i) {
        Ref a, b;
        const bool stored = lists && i < PyList_GET_SIZE(xs) && i < PyList_GET_SIZE(ys);
        if (stored) {
            PyObject* x = PyList_GET_ITEM(xs, i);
            PyObject* y = PyList_GET_ITEM(ys, i);
            if (floats && PyFloat_CheckExact(x) && PyFloat_CheckExact(y)) {
                if (!equal_double(PyFloat_AS_DOUBLE(x), PyFloat_AS_DOUBLE(y))) return 0;
                continue;
            }
            a = Ref::borrow(x);
            b = Ref::borrow(y);
        } else {
            // Also where a list shrank under us: its own IndexError then.
            a = Ref::steal(item_at(xs, i));
            if (!a) return -1;
            b = Ref::steal(item_at(ys, i));
            if (!b) return -1;
        }
        int t = call_truth(fn, a.get(), b.get(), ctx, !stored);
        if (t <= 0) return t;
    }
    return 1;
}

// Reads `x.<name>` and its length, then `y.<name>` and its length, as
// `len(x.name) != len(y.name)` does: 1 when the lengths differ, 0, or -1.
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

PyObject* equal_array_impl(NativeFunction* self, PyObject* const* a) noexcept {
    return equal_sized(self, a, " in equal_array", [](PyObject* x, PyObject* y, Py_ssize_t n, PyObject* fn,
                                                      PyObject* ctx) { return all_items_equal(x, y, n, fn, ctx); });
}

PyObject* equal_vector_impl(NativeFunction* self, PyObject* const* a) noexcept {
    PyObject *x = a[0], *y = a[1];
    if (x == y) Py_RETURN_TRUE;
    CompositeCall guard(" in equal_vector");
    if (guard.failed()) return nullptr;
    PyObject* elem_equal = component(self);
    if (!elem_equal) return nullptr;
    Ref xd, yd;
    Py_ssize_t n;
    int differ = member_lengths_differ(x, y, str<"_data">(), &xd, &yd, &n);
    if (differ != 0) return differ < 0 ? nullptr : Py_NewRef(Py_False);
    // Two arguments: each element starts a comparison context of its own.
    return bool_result(all_items_equal(xd.get(), yd.get(), n, elem_equal, nullptr));
}

PyObject* equal_matrix_impl(NativeFunction* self, PyObject* const* a) noexcept {
    PyObject *x = a[0], *y = a[1];
    if (x == y) Py_RETURN_TRUE;
    CompositeCall guard(" in equal_matrix");
    if (guard.failed()) return nullptr;
    PyObject* elem_equal = component(self);
    if (!elem_equal) return nullptr;
    for (PyObject* dim : {str<"rows">(), str<"cols">()}) {
        Ref dx = Ref::steal(PyObject_GetAttr(x, dim));
        if (!dx) return nullptr;
        Ref dy = Ref::steal(PyObject_GetAttr(y, dim));
        if (!dy) return nullptr;
        int differ = compare_truth(dx.get(), dy.get(), Py_NE);
        if (differ != 0) return differ < 0 ? nullptr : Py_NewRef(Py_False);
    }
    Ref xd, yd;
    for (auto [value, flat] : {std::pair{x, &xd}, std::pair{y, &yd}}) {
        Ref data = Ref::steal(PyObject_GetAttr(value, str<"_data">()));
        if (!data) return nullptr;
        *flat = Ref::steal(PyObject_CallMethodNoArgs(data.get(), str<"ravel">()));
        if (!*flat) return nullptr;
    }
    Py_ssize_t n = PyObject_Size(xd.get());
    if (n < 0) return nullptr;
    return bool_result(all_items_equal(xd.get(), yd.get(), n, elem_equal, nullptr));
}

// Items of two iterables compared pairwise with `==`, stopping when either ends.
int all_iterated_equal(PyObject* xs, PyObject* ys) noexcept {
    Ref ix = Ref::steal(PyObject_GetIter(xs));
    if (!ix) return -1;
    Ref iy = Ref::steal(PyObject_GetIter(ys));
    if (!iy) return -1;
    for (;;) {
        Ref p = Ref::steal(PyIter_Next(ix.get()));
        if (!p) return PyErr_Occurred() ? -1 : 1;
        Ref q = Ref::steal(PyIter_Next(iy.get()));
        if (!q) return PyErr_Occurred() ? -1 : 1;
        int t = compare_truth(p.get(), q.get(), Py_EQ);
        if (t <= 0) return t;
    }
}

PyObject* equal_blob_impl(NativeFunction*, PyObject* const* a) noexcept {
    Ref xd, yd;
    Py_ssize_t n;
    int differ = member_lengths_differ(a[0], a[1], str<"data">(), &xd, &yd, &n);
    if (differ != 0) return differ < 0 ? nullptr : Py_NewRef(Py_False);
    if (PyBytes_CheckExact(xd.get()) && PyBytes_CheckExact(yd.get())) {
        return PyBool_FromLong(std::memcmp(PyBytes_AS_STRING(xd.get()), PyBytes_AS_STRING(yd.get()),
                                           static_cast<size_t>(n)) == 0);
    }
    return bool_result(all_iterated_equal(xd.get(), yd.get()));
}

}  // namespace

const FunctionSpec equal_blob_spec = function_spec(
    "equal_blob", "cy_equal_for.<locals>.equal_blob", kModuleName, kValueParams, equal_blob_impl, kIgnoresContext);
const FunctionSpec equal_vector_spec = function_spec(
    "equal_vector", "cy_equal_for.<locals>.equal_vector", kModuleName, kValueParams, equal_vector_impl,
    kIgnoresContext);
const FunctionSpec equal_matrix_spec = function_spec(
    "equal_matrix", "cy_equal_for.<locals>.equal_matrix", kModuleName, kValueParams, equal_matrix_impl,
    kIgnoresContext);
const FunctionSpec equal_array_spec = function_spec(
    "equal_array", "cy_equal_for.<locals>.equal_array", kModuleName, kContextParams, equal_array_impl,
    kKeepsContextPrivate);

}  // namespace vorn::sortkit
