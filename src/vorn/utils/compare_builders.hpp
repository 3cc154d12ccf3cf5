// What the files of cy_compare_for share: the composite builders, and the two ways a
// comparer reads a component comparer's result.
#pragma once

#include "vorn/utils/sortkit.hpp"

namespace vorn::sortkit {

// The composite comparers, each defined in the file of its kind: over one
// component (Vector, Matrix, Array, Ref), the field list (Struct), the case table
// (Variant).
extern const FunctionSpec compare_vector_spec, compare_matrix_spec, compare_array_spec;  // compare_sequences.cpp
extern const FunctionSpec compare_ref_spec, compare_struct_spec, compare_variant_spec;   // compare_records.cpp

// The Set and Dict comparers of descriptor `t`, built with the type context
// `type_ctx` (compare_collections.cpp). New reference, or null.
PyObject* build_set(PyObject* t, PyObject* type_ctx) noexcept;
PyObject* build_dict(PyObject* t, PyObject* type_ctx) noexcept;

// The name nested comparer builds call through the module namespace.
inline constexpr const char* kCompareBuilder = "cy_compare_for";

// The value of an exact int that fits in one digit, the common comparer result.
inline bool small_int_value(PyObject* r, int32_t* out) noexcept {
    if (!PyLong_CheckExact(r)) return false;
    Py_ssize_t size = Py_SIZE(r);
    if (size == 0) {
        *out = 0;
        return true;
    }
    if (size != 1 && size != -1) return false;
    *out = static_cast<int32_t>(size) *
           static_cast<int32_t>(reinterpret_cast<PyLongObject*>(r)->ob_digit[0]);
    return true;
}

// The value of an exact int of at most two digits (60 bits), read directly.
inline bool short_int_value(PyObject* o, int64_t* out) noexcept {
    if (!PyLong_CheckExact(o)) return false;
    const Py_ssize_t size = Py_SIZE(o);
    const digit* d = reinterpret_cast<PyLongObject*>(o)->ob_digit;
    switch (size) {
        case 0: *out = 0; return true;
        case 1: *out = d[0]; return true;
        case -1: *out = -static_cast<int64_t>(d[0]); return true;
        case 2: *out = static_cast<int64_t>(d[0]) | static_cast<int64_t>(d[1]) << PyLong_SHIFT; return true;
        case -2: *out = -(static_cast<int64_t>(d[0]) | static_cast<int64_t>(d[1]) << PyLong_SHIFT); return true;
        default: return false;
    }
}

// The integer result of a component call: `r` as a signed 32-bit integer (an int as
// it is, anything else through __int__). 0 with `*out` set, or -1 with an exception.
inline int integer_result(PyObject* r, int32_t* out) noexcept {
    if (small_int_value(r, out)) return 0;
    return to_int32(r, out);
}

// The object result of a component call: whether `r != 0` by Python's `!=`.
// 1 or 0, or -1 with an exception set.
int object_result(PyObject* r) noexcept;

// The scalar order a comparer applies, when it is one of our Integer, Float or String
// comparers (built or module-level): what a key may mirror natively.
enum class ScalarOrder { None, Int64, Double, String };
ScalarOrder scalar_order(PyObject* comparer) noexcept;

}  // namespace vorn::sortkit
