// How a composite reads the result of a component call: a comparer's int (or any
// object it returned), an equality function's truth, and the native protocol's form
// of each.
#pragma once

#include "common/compat.hpp"
#include "vorn/utils/comparer_protocol.hpp"
#include "vorn/utils/scalar_orders.hpp"

namespace vorn::sortkit {

// A comparer's Python result `r` (a new reference, or null after an error) in the
// native protocol: the value of a shared small int (the object that value stands
// for), otherwise the object itself.
inline int comparer_result(PyObject* r, PyObject** object) noexcept {
    if (!r) return kFailed;
    Py_ssize_t v;
    if (PyLong_CheckExact(r) && compat::shared_small_int(r, &v)) {
        Py_DECREF(r);
        return static_cast<int>(v);
    }
    *object = r;
    return kObjectResult;
}

// An equality function's Python result in the native protocol: 1 and 0 for True and
// False, otherwise the object itself.
inline int equality_result(PyObject* r, PyObject** object) noexcept {
    if (!r) return kFailed;
    if (r == Py_True || r == Py_False) {
        Py_DECREF(r);
        return r == Py_True;
    }
    *object = r;
    return kObjectResult;
}

// The value of an exact int that fits in one digit, the common comparer result.
inline bool exact_int32(PyObject* r, int32_t* out) noexcept {
    Py_ssize_t value;
    if (!PyLong_CheckExact(r) || !compat::compact_int(r, &value)) return false;
    *out = static_cast<int32_t>(value);
    return true;
}

// The value of an exact int that fits in 64 bits, read directly where it can be.
inline bool exact_int64(PyObject* o, int64_t* out) noexcept {
    return PyLong_CheckExact(o) && compat::int64_value(o, out);
}

// The integer result of a component call: `r` as a signed 32-bit integer (an int as
// it is, anything else through __int__). 0 with `*out` set, or -1 with an exception.
inline int integer_result(PyObject* r, int32_t* out) noexcept {
    if (exact_int32(r, out)) return 0;
    return to_int32(r, out);
}

// The object result of a component call: whether `r != 0` by Python's `!=`.
// 1 or 0, or -1 with an exception set.
int object_result(PyObject* r) noexcept;

// A component comparer's result through the native protocol (`r` and, for
// kObjectResult, `object`, taken over) read as its integer result (32 bits; an int
// as it is, anything else through __int__). 0 with `*out` set, or -1.
inline int integer_result_of(int r, PyObject* object, int32_t* out) noexcept {
    if (r == kFailed) return -1;
    if (r != kObjectResult) {
        *out = r;
        return 0;
    }
    Ref owned = Ref::steal(object);
    return integer_result(owned.get(), out);
}

// Python truth of a component's result `r` (a new reference, null after an error,
// which is passed on): 1, 0, or -1 with an exception set.
inline int result_truth(Ref r) noexcept {
    if (!r) return -1;
    int t;
    return to_truth(r.get(), &t) < 0 ? -1 : t;
}

// Python's `x == y` or `x != y` taken by truth, with no identity shortcut.
inline int compare_truth(PyObject* x, PyObject* y, int op) noexcept {
    return result_truth(Ref::steal(PyObject_RichCompare(x, y, op)));
}

// A truth (1, 0, -1) as an equality function's native result.
inline int truth_result(int t) noexcept { return t < 0 ? kFailed : t; }

// True or False for a truth of 1 or 0; null for -1 (the exception is set).
inline PyObject* bool_result(int t) noexcept {
    if (t < 0) return nullptr;
    return PyBool_FromLong(t);
}

}  // namespace vorn::sortkit
