// What the equality builder, its composite functions and the identity builder share:
// the function specs and the helpers for calling component functions.
#pragma once

#include "vorn/utils/private_context.hpp"
#include "vorn/utils/sortkit.hpp"

namespace vorn::sortkit {

// ---- Function specs ---------------------------------------------------------------------

// A function that ignores the comparison context: (p0, p1, _ctx=None).
constexpr FunctionSpec leaf_spec(const char* name, const char* qualname, const char* p0,
                                 const char* p1, NativeImpl impl) {
    return {name, qualname, kModuleName, nullptr, 3, 2, {p0, p1, "_ctx"}, impl, kIgnoresContext};
}

// A function that uses or passes on the comparison context: (x, y, ctx=None), with
// the FunctionFlags that say how it passes it on.
constexpr FunctionSpec context_spec(const char* name, const char* qualname, NativeImpl impl,
                                    unsigned flags) {
    return {name, qualname, kModuleName, nullptr, 3, 2, {"x", "y", "ctx"}, impl, flags};
}

// equal_builder.cpp: loops compare the doubles of equal_float inline; the private
// context looks through equal_recursive.
extern const FunctionSpec equal_float_spec, equal_recursive_spec;

// equal_sequences.cpp; state 0: elem_equal (Vector, Matrix) or value_comparer (Array).
extern const FunctionSpec equal_blob_spec, equal_vector_spec, equal_matrix_spec, equal_array_spec;
// equal_collections.cpp; Dict state 0: value_comparer.
extern const FunctionSpec equal_set_spec, equal_dict_spec;
// equal_records.cpp; state 0: inner_comparer (Ref), the list of (name, function)
// pairs (Struct), the dict from case name to function (Variant).
extern const FunctionSpec equal_ref_spec, equal_struct_spec, equal_variant_spec;

// Whether fn(x[name], y[name], ctx) is true for every (name, fn) pair of the field
// list `fields`, in order, stopping at the first false one (equal_records.cpp).
// Returns 1, 0, or -1 with an exception set (KeyError for a missing field).
int all_fields_true(PyObject* fields, PyObject* x, PyObject* y, PyObject* ctx) noexcept;

// ---- Calling component functions ------------------------------------------------------

// Closure state `i` of `self` (borrowed), or null with RuntimeError once the garbage
// collector has cleared it while tearing down a cycle.
inline PyObject* closure(NativeFunction* self, int i) noexcept { return state_of(self, i); }

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

// The comparison-context step of a composite function, skipped when the context
// received is None and every component ignores contexts: a context that nothing
// reads cannot change the outcome. Returns 1 when the pair was already recorded
// (the caller answers True), 0 to go on, -1 with an exception set.
inline int enter_pair(PyObject** ctx, Ref& owned, PyObject* x, PyObject* y,
                      bool components_ignore_context) noexcept {
    if (*ctx == Py_None && components_ignore_context) return 0;
    return visit_context(ctx, owned, x, y);
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

}  // namespace vorn::sortkit
