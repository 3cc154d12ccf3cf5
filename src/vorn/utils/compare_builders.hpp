// What the files of cy_compare_for share: the composite builders, the two ways a
// comparer reads a component comparer's result, and small helpers of the walks.
#pragma once

#include "common/compat.hpp"
#include "vorn/utils/sortkit.hpp"

namespace vorn::sortkit {

// Each builds the comparer of descriptor `t` (whose kind the predicates chose) with
// the type context `type_ctx`. New reference, or null with an exception set.
PyObject* build_vector(PyObject* t, PyObject* type_ctx) noexcept;      // compare_sequences.cpp
PyObject* build_matrix(PyObject* t, PyObject* type_ctx) noexcept;
PyObject* build_array(PyObject* t, PyObject* type_ctx) noexcept;
PyObject* build_set(PyObject* t, PyObject* type_ctx) noexcept;         // compare_collections.cpp
PyObject* build_dict(PyObject* t, PyObject* type_ctx) noexcept;
PyObject* build_ref(PyObject* t, PyObject* type_ctx) noexcept;         // compare_records.cpp
PyObject* build_struct(PyObject* t, PyObject* type_ctx) noexcept;
PyObject* build_variant(PyObject* t, PyObject* type_ctx) noexcept;

// The comparer of a component type: cy_compare_for (looked up in the module
// namespace) called with (component, type_ctx). New reference, or null.
PyObject* build_component(PyObject* component, PyObject* type_ctx) noexcept;

// Fills state slot `i` of a comparer that was made before its component comparer
// (Array, Dict, Ref: the slot is the comparer's one-slot cell), taking over `value`.
inline void fill_slot(PyObject* comparer, int i, Ref value) noexcept {
    PyObject*& slot = reinterpret_cast<NativeFunction*>(comparer)->state[i];
    Ref old = Ref::steal(slot);
    slot = value.release();
}

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

// The scalar order a comparer applies, when it is one of our Integer, Float or String
// comparers (built or module-level): what a key may mirror natively.
enum class ScalarOrder { None, Int64, Double, String };
ScalarOrder scalar_order(PyObject* comparer) noexcept;

// `seq[i]` as Python evaluates it, with exact lists and tuples read directly.
// New reference, or null with an exception set.
PyObject* item_at(PyObject* seq, Py_ssize_t i) noexcept;

}  // namespace vorn::sortkit
