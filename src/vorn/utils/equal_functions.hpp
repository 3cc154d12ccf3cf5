// The composite equality functions that cy_equal_for returns, and the steps that the
// equality and identity bodies share.
#pragma once

#include "vorn/utils/composite_call.hpp"
#include "vorn/utils/sortkit.hpp"

namespace vorn::sortkit {

struct FieldTable;

// equal_sequences.cpp; component: elem_equal (Vector, Matrix), value_comparer (Array).
extern const NativeSpec equal_vector_spec, equal_matrix_spec, equal_array_spec;
// equal_collections.cpp; Dict component: value_comparer.
extern const NativeSpec equal_set_spec, equal_dict_spec;
// equal_records.cpp; Ref component: inner_comparer; Struct: the field list; Variant:
// the case table.
extern const NativeSpec equal_ref_spec, equal_struct_spec, equal_variant_spec;
extern const NativeSpec equal_recursive_spec;  // recursive_forwarders.cpp

// Whether fn(x[name], y[name], ctx) is true for every field of `table`, in order,
// stopping at the first false one (equal_records.cpp). Exact dicts are read in place
// and leaf functions run inline, as in the Struct comparer. Returns 1, 0, or -1 with an
// exception set (KeyError for a missing field).
int all_fields_true(Doing doing, FieldTable* table, PyObject* x, PyObject* y, PyObject* ctx) noexcept;

// Whether the tags `x["type"]` and `y["type"]` of two Variant values differ by
// Python's `!=` (`x`'s tag in `*x_tag`): 1, 0, or -1 with an exception set.
int tags_differ(PyObject* x, PyObject* y, Ref* x_tag) noexcept;

// Whether `x` and `y` have unequal lengths (`len(x)` in `*n`): 1, 0, or -1 with an
// exception set.
inline int lengths_differ(PyObject* x, PyObject* y, Py_ssize_t* n) noexcept {
    Py_ssize_t nx = PyObject_Size(x);
    if (nx < 0) return -1;
    Py_ssize_t ny = PyObject_Size(y);
    if (ny < 0) return -1;
    *n = nx;
    return nx != ny;
}

// The body of equal_array and equal_dict: the prologue, then the lengths, then
// `all_equal(x, y, n, fn, ctx)`, the walk over the n items with the component `fn`
// (1, 0, or -1).
template <typename AllEqual>
int equal_sized(NativeFunction* self, PyObject* x, PyObject* y, PyObject* ctx, const char* where,
                AllEqual all_equal) noexcept {
    Level<Equality> level;
    PyObject* fn;
    if (int r = level.open(self, x, y, &ctx, where, &fn); r != kGoOn) return r;
    Py_ssize_t n;
    int differ = lengths_differ(x, y, &n);
    if (differ != 0) return differ < 0 ? kFailed : 0;
    return truth_result(all_equal(x, y, n, fn, ctx));
}

// Reads `x.<name>` and its length, then `y.<name>` and its length, as
// `len(x.name) != len(y.name)` does: 1 when the lengths differ, 0, or -1
// (equal_sequences.cpp).
int member_lengths_differ(PyObject* x, PyObject* y, PyObject* name, Ref* xd, Ref* yd, Py_ssize_t* n) noexcept;

}  // namespace vorn::sortkit
