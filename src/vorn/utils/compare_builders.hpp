// What the files of cy_compare_for share: the composite builders, and the two ways a
// comparer reads a component comparer's result.
#pragma once

#include "common/compat.hpp"
#include "vorn/utils/sortkit.hpp"
#include "vorn/utils/walk.hpp"

namespace vorn::sortkit {

// The composite comparers, each defined in the file of its kind: over one
// component (Vector, Matrix, Array, Ref), the field list (Struct), the case table
// (Variant).
extern const NativeSpec compare_vector_spec, compare_matrix_spec, compare_array_spec;  // compare_sequences.cpp
extern const NativeSpec compare_ref_spec, compare_struct_spec, compare_variant_spec;   // compare_records.cpp
extern const NativeSpec compare_recursive_spec;  // compare_builder.cpp: the forwarder of a recursive type

// The Set and Dict comparers of descriptor `t`, built with the type context
// `type_ctx` (compare_collections.cpp). New reference, or null.
PyObject* build_set(PyObject* t, PyObject* type_ctx) noexcept;
PyObject* build_dict(PyObject* t, PyObject* type_ctx) noexcept;

// The name nested comparer builds call through the module namespace.
inline constexpr const char* kCompareBuilder = "cy_compare_for";

// The value of an exact int that fits in one digit, the common comparer result.
inline bool small_int_value(PyObject* r, int32_t* out) noexcept {
    Py_ssize_t value;
    if (!PyLong_CheckExact(r) || !compat::compact_int(r, &value)) return false;
    *out = static_cast<int32_t>(value);
    return true;
}

// The value of an exact int that fits in 64 bits, read directly where it can be.
inline bool short_int_value(PyObject* o, int64_t* out) noexcept {
    return PyLong_CheckExact(o) && compat::int64_value(o, out);
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

// The integer result of the component call fn(x, y, ctx) (see compare_component): 0
// with `*out` set, or -1 with an exception set.
inline int integer_result_of_call(PyObject* fn, PyObject* x, PyObject* y, PyObject* ctx, bool fresh,
                                  int32_t* out) noexcept {
    PyObject* object = nullptr;
    int r = compare_component(fn, x, y, ctx, fresh, &object);
    return integer_result_of(r, object, out);
}

// The object result of the component call fn(x, y, ctx): kFailed, 0 when the result
// is zero, otherwise the result as a comparer's native result (an int, or
// kObjectResult with `*object` the result object itself).
int object_result_of_call(PyObject* fn, PyObject* x, PyObject* y, PyObject* ctx, bool fresh,
                          PyObject** object) noexcept;

}  // namespace vorn::sortkit
