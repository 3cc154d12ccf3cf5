// The scalar orders on native values, and the conversions of Python objects to them.
#pragma once

#include "common/ref.hpp"

#include <cmath>
#include <cstdint>

namespace vorn::sortkit {

inline int compare_int64(int64_t a, int64_t b) noexcept { return (a > b) - (a < b); }

// NaN is greatest and equal to itself; -0.0 is below +0.0.
inline int compare_double(double a, double b) noexcept {
    if (std::isnan(a)) return std::isnan(b) ? 0 : 1;
    if (std::isnan(b)) return -1;
    if (a == 0.0 && b == 0.0) {
        double sa = std::copysign(1.0, a), sb = std::copysign(1.0, b);
        if (sa < 0 && sb > 0) return -1;
        if (sa > 0 && sb < 0) return 1;
    }
    if (b > a) return -1;
    if (a > b) return 1;
    return 0;
}

// Float equality: NaN equals NaN, -0.0 does not equal +0.0.
inline bool equal_double(double a, double b) noexcept {
    if (std::isnan(a)) return std::isnan(b);
    if (a == 0.0 && b == 0.0) return std::copysign(1.0, a) == std::copysign(1.0, b);
    return a == b;
}

// Float identity: NaN is identical to NaN, 0.0 and -0.0 are identical.
inline bool identical_double(double a, double b) noexcept {
    if (std::isnan(a) && std::isnan(b)) return true;
    return a == b;
}

// ---- Conversions to native values (each: 0, or -1 with an exception set) -----------

// Python truth; True, False and None without a call.
int to_truth(PyObject* o, int* out) noexcept;
// A signed 64-bit integer: an int (or subclass) as it is, anything else via __int__.
int to_int64(PyObject* o, int64_t* out) noexcept;
// A signed 32-bit integer by the same rules (component results of comparers).
int to_int32(PyObject* o, int32_t* out) noexcept;
// A double: an exact float directly, anything else by the interpreter's conversion.
int to_double(PyObject* o, double* out) noexcept;

// -1, 0 or 1 as the interpreter's cached small int.
inline PyObject* three_way(int r) noexcept { return PyLong_FromLong(r); }

}  // namespace vorn::sortkit
