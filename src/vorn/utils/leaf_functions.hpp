// The bodies of the leaf functions: one native routine per behaviour, whatever names
// the builders and the module publish it under.
#pragma once

#include "common/compat.hpp"
#include "vorn/utils/sortkit.hpp"

#include <cstring>

namespace vorn::sortkit {

// Native entries (comparer_protocol.hpp), each the one body of its behaviour. Comparers:
// never (RuntimeError "Attempted to compare values of type .Never"), zero (Null and
// Function values), and the scalar orders: Boolean, Integer, Float, and any two
// objects that Python orders with `<` and `>` (String; exact strs without a rich
// comparison).
int never_native(NativeFunction*, PyObject*, PyObject*, PyObject*, PyObject**) noexcept;
int zero_native(NativeFunction*, PyObject*, PyObject*, PyObject*, PyObject**) noexcept;
int compare_bool_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept;
int compare_int_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept;
int compare_float_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept;
int compare_ordered_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept;
// DateTime (by timestamp()) and Blob (byte by byte, unsigned, then by length).
int compare_datetime_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept;
int compare_blob_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept;
// Equality: always True (Null, Function), `x == y` as Python returns it, Float equality,
// Blob equality (of `x.data` and `y.data`).
int true_native(NativeFunction*, PyObject*, PyObject*, PyObject*, PyObject**) noexcept;
int python_equal_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject** object) noexcept;
int equal_float_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept;
int equal_blob_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept;
// Identity: the same object (containers, references), Float identity (NaN is NaN, the
// zeros are one), the same instant (`x.timestamp() == y.timestamp()` as Python returns
// it), Blob identity (the bytes of blob_pair, paired by a strict zip).
int same_object_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept;
int is_float_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept;
int same_instant_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject** object) noexcept;
int is_blob_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept;

// The Python entry of a two-parameter module function over a native entry: the
// comparer's int result as an int object, or the equality result as True or False.
template <NativeEntry E>
PyObject* pair_comparer_entry(NativeFunction* self, PyObject* const* a) noexcept {
    PyObject* pass[3] = {a[0], a[1], Py_None};
    return comparer_python_entry<E>(self, pass);
}
template <NativeEntry E>
PyObject* pair_equality_entry(NativeFunction* self, PyObject* const* a) noexcept {
    PyObject* pass[3] = {a[0], a[1], Py_None};
    return equality_python_entry<E>(self, pass);
}

// ---- Leaves that walks run inline ------------------------------------------------------

// Code point order of two exact strs: -1, 0 or 1 (cannot fail). Two strs of one-byte
// characters compare as their bytes do.
inline int compare_strs(PyObject* x, PyObject* y) noexcept {
    if (x == y) return 0;
    if (PyUnicode_KIND(x) == PyUnicode_1BYTE_KIND && PyUnicode_KIND(y) == PyUnicode_1BYTE_KIND) {
        const Py_ssize_t lx = PyUnicode_GET_LENGTH(x), ly = PyUnicode_GET_LENGTH(y);
        int c = std::memcmp(PyUnicode_DATA(x), PyUnicode_DATA(y), static_cast<size_t>(lx < ly ? lx : ly));
        if (c) return c < 0 ? -1 : 1;
        return (lx > ly) - (lx < ly);
    }
    int c = PyUnicode_Compare(x, y);
    return (c > 0) - (c < 0);
}

// x == y of two exact strs, without a call.
inline bool equal_strs(PyObject* x, PyObject* y) noexcept {
    if (x == y) return true;
    const Py_ssize_t n = PyUnicode_GET_LENGTH(x);
    const int kind = PyUnicode_KIND(x);
    // A str is stored in the narrowest kind that holds its characters.
    return n == PyUnicode_GET_LENGTH(y) && kind == PyUnicode_KIND(y) &&
           std::memcmp(PyUnicode_DATA(x), PyUnicode_DATA(y), static_cast<size_t>(n) * kind) == 0;
}

// What a call of one of our leaf functions with `nargs` arguments does, when it is a
// scalar order or an equality test that the walks may run inline on exact built-ins.
enum class Leaf : uint8_t { None, OrderZero, OrderInt, OrderDouble, OrderString, PythonEqual, FloatEqual };
Leaf leaf_of(PyObject* fn, int nargs) noexcept;

// The argument counts a walk calls a component with: (x, y, ctx) where it passes a
// comparison context, (x, y) where it starts none (Vector and Matrix elements, a key class's comparer).
inline constexpr int kWithContext = 3, kWithoutContext = 2;

// x against y by the order `leaf` when both are exact built-ins that it reads without
// calling any user code: true with `*sign` set; false when the leaf must be called.
inline bool inline_order(Leaf leaf, PyObject* x, PyObject* y, int* sign) noexcept {
    switch (leaf) {
        case Leaf::OrderZero:  // Null and Function values: equal, whatever they are
            *sign = 0;
            return true;
        case Leaf::OrderInt: {
            int64_t a, b;
            if (!PyLong_CheckExact(x) || !compat::int64_value(x, &a)) return false;
            if (x == y) {  // the same int (small ints are shared): equal, once in range
                *sign = 0;
                return true;
            }
            if (!PyLong_CheckExact(y) || !compat::int64_value(y, &b)) return false;
            *sign = compare_int64(a, b);
            return true;
        }
        case Leaf::OrderDouble:
            if (!PyFloat_CheckExact(x) || !PyFloat_CheckExact(y)) return false;
            *sign = compare_double(PyFloat_AS_DOUBLE(x), PyFloat_AS_DOUBLE(y));
            return true;
        case Leaf::OrderString: {
            if (!PyUnicode_CheckExact(x) || !PyUnicode_CheckExact(y)) return false;
            *sign = compare_strs(x, y);
            return true;
        }
        default: return false;
    }
}

// x == y by the equality `leaf` when both are exact built-ins of one kind that it
// reads without calling any user code: true with `*equal` set; false when the leaf
// must be called.
inline bool inline_equal(Leaf leaf, PyObject* x, PyObject* y, int* equal) noexcept {
    if (leaf == Leaf::FloatEqual) {
        if (!PyFloat_CheckExact(x) || !PyFloat_CheckExact(y)) return false;
        *equal = equal_double(PyFloat_AS_DOUBLE(x), PyFloat_AS_DOUBLE(y));
        return true;
    }
    if (leaf != Leaf::PythonEqual) return false;
    if (PyUnicode_CheckExact(x) && PyUnicode_CheckExact(y)) {
        *equal = compare_strs(x, y) == 0;
        return true;
    }
    int64_t a, b;
    if (PyLong_CheckExact(x) && PyLong_CheckExact(y) && compat::int64_value(x, &a) && compat::int64_value(y, &b)) {
        *equal = a == b;
        return true;
    }
    return false;
}

}  // namespace vorn::sortkit
