// The protocol of the functions the builders return, as comparisons run them: how
// they take part in the comparison context (the flags of their specs), their native
// entry beside the Python one, their parameter lists, and their closure state, read
// and written by name.
#pragma once

#include "common/function.hpp"
#include "vorn/utils/module_state.hpp"

#include <climits>

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
    // Declared as the `function` of a NativeSpec: the function has a native entry.
    kHasNativeEntry = 8u,
    // With kHasNativeEntry: an equality function's entry (truths), not a comparer's.
    kEqualityEntry = 16u,
};

inline unsigned protocol_of(PyObject* fn) noexcept {
    return is_native_function(fn) ? reinterpret_cast<NativeFunction*>(fn)->spec->flags : 0u;
}

// True when `fn` is one of our functions that never reads a comparison context, so
// a caller holding None need not make one for it.
inline bool ignores_context(PyObject* fn) noexcept { return protocol_of(fn) & kIgnoresContext; }

// ---- The native protocol between our own functions ---------------------------------------
//
// Besides its Python entry, each comparer and equality function has a native entry
// that our walks call directly: the same steps, with the result as a C int instead of
// an object to read back. For a comparer the int is the value of the int object the
// function returns; for an equality function 1 and 0 stand for True and False. Any
// other result (a user component's 0.5, say, passed on as it is) comes back as
// kObjectResult with the object itself.

inline constexpr int kFailed = INT_MIN;            // an exception is set
inline constexpr int kObjectResult = INT_MIN + 1;  // `*object` holds a new reference

// A comparer's integer result `c` (any 32-bit value, as a user component may give) as
// its native result: the two values that the markers above take travel as int objects.
inline int native_int_result(int32_t c, PyObject** object) noexcept {
    if (c > kObjectResult) return c;
    *object = PyLong_FromLong(c);
    return *object ? kObjectResult : kFailed;
}

// (self, x, y, ctx, object): `ctx` is None or a comparison context, never null.
using NativeEntry = int (*)(NativeFunction* self, PyObject* x, PyObject* y, PyObject* ctx, PyObject** object);

struct NativeSpec {
    FunctionSpec function;  // first: a FunctionSpec* of a NativeSpec is the NativeSpec's address
    NativeEntry entry;
};

// The native entry of `fn`, or null when it has none (not one of ours).
inline NativeEntry native_entry_of(PyObject* fn) noexcept {
    if (!is_native_function(fn)) return nullptr;
    const FunctionSpec* s = reinterpret_cast<NativeFunction*>(fn)->spec;
    return s->flags & kHasNativeEntry ? reinterpret_cast<const NativeSpec*>(s)->entry : nullptr;
}

// The native entry of `fn` when it is of the kind the caller reads (`equality`: an
// equality function, else a comparer), or null. A function of the other kind (bound
// in a type context, say) is called through its Python entry: its 1 and True differ
// where a result is passed on as it is.
inline NativeEntry native_entry_of(PyObject* fn, bool equality) noexcept {
    if (!is_native_function(fn)) return nullptr;
    const unsigned flags = reinterpret_cast<NativeFunction*>(fn)->spec->flags;
    return ((flags & kEqualityEntry) != 0) == equality ? native_entry_of(fn) : nullptr;
}

// The Python entry over a comparer's native entry: the int result as an int object.
template <NativeEntry E>
PyObject* comparer_python_entry(NativeFunction* self, PyObject* const* a) noexcept {
    PyObject* object = nullptr;
    int r = E(self, a[0], a[1], a[2], &object);
    if (r == kFailed) return nullptr;
    return r == kObjectResult ? object : PyLong_FromLong(r);
}

// The Python entry over an equality function's native entry: True or False.
template <NativeEntry E>
PyObject* equality_python_entry(NativeFunction* self, PyObject* const* a) noexcept {
    PyObject* object = nullptr;
    int r = E(self, a[0], a[1], a[2], &object);
    if (r == kFailed) return nullptr;
    if (r == kObjectResult) return object;
    return Py_NewRef(r ? Py_True : Py_False);
}

// Parameter lists of the returned functions: values compared, values ignored, and
// values compared under a comparison context.
inline constexpr Params kValueParams{3, 2, {"x", "y", "_ctx"}};
inline constexpr Params kIgnoredParams{3, 2, {"_x", "_y", "_ctx"}};
inline constexpr Params kContextParams{3, 2, {"x", "y", "ctx"}};

// The declaration of a comparer (Python results: int objects) or an equality function (True
// or False) over its native entry E, with the given parameters and protocol flags.
template <NativeEntry E>
constexpr NativeSpec comparer_spec(const char* name, const char* qualname, const Params& params,
                                   unsigned flags) {
    return {function_spec(name, qualname, kModuleName, params, comparer_python_entry<E>,
                          flags | kHasNativeEntry),
            E};
}
template <NativeEntry E>
constexpr NativeSpec equality_spec(const char* name, const char* qualname, const Params& params,
                                   unsigned flags) {
    return {function_spec(name, qualname, kModuleName, params, equality_python_entry<E>,
                          flags | kHasNativeEntry | kEqualityEntry),
            E};
}

// ---- Closure state, by kind of function ------------------------------------------------
//
// Where each kind keeps what it closes over (NativeFunction::state):
//   over one component (Vector, Matrix, Array, Ref, Set comparer; Dict comparer and
//     equality: the value function): its component function       - component()
//   Set comparer: the element key class                            - key_class()
//   Dict comparer: the key comparer                                - key_comparer()
//   Struct: the field list, a list of (name, function) pairs while the build fills
//     it, a field table once it is done                            - fields_of() (field_access.hpp)
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
    if (!cell) return nullptr;
    // The exact list the build made, read as list indexing reads it.
    if (PyList_CheckExact(cell) && PyList_GET_SIZE(cell) > 0) return Py_NewRef(PyList_GET_ITEM(cell, 0));
    return PySequence_GetItem(cell, 0);
}

// The same without side effects, for looking through forwarders: borrowed, or null
// when `fn` is no forwarder or its cell is not the one-item list the build made.
// Inline: a key's walk asks it at every forwarder it meets.
[[gnu::always_inline]] inline PyObject* peek_forward_target(PyObject* fn) noexcept {
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
