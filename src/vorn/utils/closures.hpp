// The functions the builders return: how they take part in the comparison context
// (the flags of their specs), their parameter lists, and their closure state, read
// and written by name.
#pragma once

#include "common/function.hpp"

namespace vorn::sortkit {

// ---- The comparison-context protocol, in FunctionSpec::flags -------------------------

enum ContextProtocol : unsigned {
    // Neither reads nor passes on a comparison context (a leaf comparer or
    // equality function): callers may skip making a context for it.
    kIgnoresContext = 1u,
    // Hands a comparison context on only as the private context rules allow
    // (context_for), so a context kept natively may be passed to it.
    kKeepsContextPrivate = 2u,
    // A recursive forwarder: calls the function in its cell with the context it got.
    kForwardsContext = 4u,
};

inline unsigned protocol_of(PyObject* fn) noexcept {
    return is_native_function(fn) ? reinterpret_cast<NativeFunction*>(fn)->spec->flags : 0u;
}

// True when `fn` is one of our functions that never reads a comparison context, so
// a caller holding None need not make one for it.
inline bool ignores_context(PyObject* fn) noexcept { return protocol_of(fn) & kIgnoresContext; }

// Parameter lists of the returned functions: values compared, values ignored, and
// values compared under a comparison context.
inline constexpr Params kValueParams{3, 2, {"x", "y", "_ctx"}};
inline constexpr Params kIgnoredParams{3, 2, {"_x", "_y", "_ctx"}};
inline constexpr Params kContextParams{3, 2, {"x", "y", "ctx"}};

// ---- Closure state, by kind of function ------------------------------------------------
//
// Where each kind keeps what it closes over (NativeFunction::state):
//   over one component (Vector, Matrix, Array, Ref, Set comparer; Dict comparer and
//     equality: the value function): its component function       - component()
//   Set comparer: the element key class                            - key_class()
//   Dict comparer: the key comparer                                - key_comparer()
//   Struct: the field list, a list of (name, function) pairs while the build fills
//     it, a tuple once it is done                                  - fields_of() (composites.hpp)
//   Variant: the dict from case name to function                   - case_table()
//   recursive forwarder: the one-item list (cell) with its target  - forward_target()
//   VornKey.__init__: the comparer of the key class                - bound_comparer()
//
// A slot is empty while the function's own build still fills it (a predicate can
// reach the half-made function) or after the collector cleared the function; reading
// it then raises RuntimeError instead.

namespace slot {
inline constexpr int kComponent = 0, kFields = 0, kCases = 0, kCell = 0, kBoundComparer = 0;
inline constexpr int kKeyClass = 1, kKeyComparer = 1;
}  // namespace slot

// Closure state `i` (borrowed), or null with RuntimeError when it is empty.
inline PyObject* state_of(NativeFunction* self, int i) noexcept {
    PyObject* s = self->state[i];
    if (!s) [[unlikely]]
        PyErr_Format(PyExc_RuntimeError, "%U called before its build finished or after it was cleared",
                     self->qualname);
    return s;
}

inline PyObject* component(NativeFunction* f) noexcept { return state_of(f, slot::kComponent); }
inline PyObject* key_class(NativeFunction* f) noexcept { return state_of(f, slot::kKeyClass); }
inline PyObject* key_comparer(NativeFunction* f) noexcept { return state_of(f, slot::kKeyComparer); }
inline PyObject* case_table(NativeFunction* f) noexcept { return state_of(f, slot::kCases); }
inline PyObject* bound_comparer(NativeFunction* f) noexcept { return state_of(f, slot::kBoundComparer); }

// The function in a recursive forwarder's cell: `cell[0]` as Python reads it (the cell
// is reachable from Python). New reference, or null with an exception set.
inline PyObject* forward_target(NativeFunction* f) noexcept {
    PyObject* cell = state_of(f, slot::kCell);
    return cell ? PySequence_GetItem(cell, 0) : nullptr;
}

// The same without side effects, for looking through forwarders: borrowed, or null
// when `fn` is no forwarder or its cell is not the one-item list the build made.
inline PyObject* peek_forward_target(PyObject* fn) noexcept {
    if (!(protocol_of(fn) & kForwardsContext)) return nullptr;
    PyObject* cell = reinterpret_cast<NativeFunction*>(fn)->state[slot::kCell];
    if (!cell || !PyList_CheckExact(cell) || PyList_GET_SIZE(cell) != 1) return nullptr;
    return PyList_GET_ITEM(cell, 0);
}

// Fills slot `i` of a function made before the function it holds there, taking over
// `value`.
inline void fill_state(PyObject* fn, int i, Ref value) noexcept {
    PyObject*& s = reinterpret_cast<NativeFunction*>(fn)->state[i];
    Ref old = Ref::steal(s);
    s = value.release();
}

}  // namespace vorn::sortkit
