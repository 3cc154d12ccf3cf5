// What the equality builder, its composite functions and the identity builder share:
// the function specs and the helpers for calling component functions.
#pragma once

#include "vorn/utils/sortkit.hpp"
#include "vorn/utils/walk.hpp"

namespace vorn::sortkit {

// The name nested equality builds call through the module namespace.
inline constexpr const char* kEqualBuilder = "cy_equal_for";

// ---- Function specs ---------------------------------------------------------------------

// equal_builder.cpp: loops compare the doubles of equal_float inline.
extern const FunctionSpec equal_float_spec;

// equal_sequences.cpp; component: elem_equal (Vector, Matrix), value_comparer (Array).
extern const FunctionSpec equal_blob_spec, equal_vector_spec, equal_matrix_spec, equal_array_spec;
// equal_collections.cpp; Dict component: value_comparer.
extern const FunctionSpec equal_set_spec, equal_dict_spec;
// equal_records.cpp; Ref component: inner_comparer; Struct: the field list; Variant:
// the case table.
extern const FunctionSpec equal_ref_spec, equal_struct_spec, equal_variant_spec;

// Whether fn(x[name], y[name], ctx) is true for every (name, fn) pair of the field
// tuple `fields`, in order, stopping at the first false one (equal_records.cpp).
// Returns 1, 0, or -1 with an exception set (KeyError for a missing field).
int all_fields_true(PyObject* fields, PyObject* x, PyObject* y, PyObject* ctx) noexcept;

// ---- Calling component functions ------------------------------------------------------

// Python truth of a component's result `r` (a new reference, null after an error,
// which is passed on): 1, 0, or -1 with an exception set.
inline int result_truth(Ref r) noexcept {
    if (!r) return -1;
    int t;
    return to_truth(r.get(), &t) < 0 ? -1 : t;
}

// The truth of call_component(fn, x, y, ctx, fresh).
inline int call_truth(PyObject* fn, PyObject* x, PyObject* y, PyObject* ctx, bool fresh) noexcept {
    return result_truth(Ref::steal(call_component(fn, x, y, ctx, fresh)));
}

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

// Python's `x == y` or `x != y` taken by truth, with no identity shortcut.
inline int compare_truth(PyObject* x, PyObject* y, int op) noexcept {
    return result_truth(Ref::steal(PyObject_RichCompare(x, y, op)));
}

// Whether the tags `x["type"]` and `y["type"]` of two Variant values differ by
// Python's `!=` (`x`'s tag in `*x_tag`): 1, 0, or -1 with an exception set.
int tags_differ(PyObject* x, PyObject* y, Ref* x_tag) noexcept;

// The walk of equal_array and equal_dict, after what they share: the identity
// test, the guard, the visit check, and the lengths. `all_equal(x, y, n, fn, ctx)`
// walks the n items with the component function `fn`: 1, 0, or -1.
template <typename AllEqual>
PyObject* equal_sized(NativeFunction* self, PyObject* const* a, const char* where, AllEqual all_equal) noexcept {
    PyObject *x = a[0], *y = a[1], *ctx = a[2];
    if (x == y) Py_RETURN_TRUE;
    CompositeCall guard(where);
    if (guard.failed()) return nullptr;
    PyObject* fn = component(self);
    if (!fn) return nullptr;
    Ref owned;
    int seen = enter_pair(&ctx, owned, x, y, ignores_context(fn));
    if (seen != 0) return seen < 0 ? nullptr : Py_NewRef(Py_True);
    Py_ssize_t n;
    int differ = lengths_differ(x, y, &n);
    if (differ != 0) return differ < 0 ? nullptr : Py_NewRef(Py_False);
    int t = all_equal(x, y, n, fn, ctx);
    return t < 0 ? nullptr : PyBool_FromLong(t);
}

// True or False for a truth of 1 or 0; null for -1 (the exception is set).
inline PyObject* bool_result(int t) noexcept {
    if (t < 0) return nullptr;
    return PyBool_FromLong(t);
}

}  // namespace vorn::sortkit
