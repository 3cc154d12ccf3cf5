// What every composite comparer, equality and identity body does around its walk: one
// prologue (the same-object answer, the recursion guard, the component, the visit
// check), the component calls with the context fit for them, and the one failure path
// of a level. Temporaries compared during a walk are kept alive until it ends.
#pragma once

#include "common/compat.hpp"
#include "common/error_notes.hpp"
#include "common/recursion.hpp"
#include "vorn/utils/comparer_protocol.hpp"
#include "vorn/utils/component_results.hpp"
#include "vorn/utils/private_context.hpp"

#include <utility>

namespace vorn::sortkit {

// ---- The walk: depth and the temporaries it keeps ---------------------------------------

// Depth of the composite calls running on this thread, and the temporaries kept
// alive until the outermost of them returns.
struct WalkState {
    int depth;
    Py_ssize_t count, capacity;
    PyObject** kept;  // owned references
};
// Initial-exec: read at a fixed offset from the thread pointer (no lookup call);
// the few bytes fit in the static TLS reserve that loaded libraries may use.
extern thread_local WalkState walk_state [[gnu::tls_model("initial-exec")]];

// Releases the temporaries kept by the walk that has just ended.
void release_kept() noexcept;

// Keeps `x` and `y` alive until the current walk ends. 0, or -1 with an exception set.
int keep_alive(PyObject* x, PyObject* y) noexcept;

// The recursion guard of a comparer or equality level: the interpreter's check and the
// C stack's, and the walk that keep_alive extends to. The temporaries compared during
// a walk are released when its outermost call returns, whatever the context: a
// comparison context records id()s, and the id() of a freed temporary is soon reused
// by the next one, which would then be taken for a pair already seen.
struct WalkGuard {
    static bool enter(const char* where) noexcept {
        if (stack_nearly_exhausted()) [[unlikely]] {
            raise_stack_exhausted(where);
            return false;
        }
        if (Py_EnterRecursiveCall(where)) return false;
        ++walk_state.depth;
        return true;
    }
    static void leave() noexcept {
        if (--walk_state.depth == 0 && walk_state.count) release_kept();
        compat::leave_recursive_call();
    }
};

// The guard of an identity level, called through its Python entry: the recursion
// checks only (it keeps no temporaries).
struct PlainGuard {
    static bool enter(const char* where) noexcept {
        if (stack_nearly_exhausted()) [[unlikely]] {
            raise_stack_exhausted(where);
            return false;
        }
        return Py_EnterRecursiveCall(where) == 0;
    }
    static void leave() noexcept { compat::leave_recursive_call(); }
};

// ---- Calling a component ------------------------------------------------------------------

// The comparison-context step of a composite function (the visit check), skipped
// when the context received is None and the components ignore contexts: a context
// that nothing reads cannot change the outcome. A None `*ctx` is replaced by a new
// private context, kept alive by `owned`. Returns 1 when the pair was already
// recorded (the caller answers "equal"), 0 to go on, -1 with an exception set.
inline int enter_pair(PyObject** ctx, Ref& owned, PyObject* x, PyObject* y,
                      bool components_ignore_context) noexcept {
    if (*ctx == Py_None && components_ignore_context) return 0;
    return visit_context(ctx, owned, x, y);
}

// The context to pass to the component `fn` with the pair (x, y): `ctx` is None, a
// dict, or a private context (context_for). `fresh` says that x and y were made by the
// access that read them, rather than read from the storage of a container that holds
// them: when fn may record them, they are kept alive for the walk (keep_alive).
// Borrowed; null with an exception set.
inline PyObject* context_for_pair(PyObject* fn, PyObject* ctx, PyObject* x, PyObject* y, bool fresh) noexcept {
    if (ctx == Py_None) return ctx;
    if (fresh && !ignores_context(fn) && keep_alive(x, y) < 0) return nullptr;
    return context_for(fn, ctx);
}

// How a result is read back from a function that is not ours (comparer_result or
// equality_result).
using ResultRead = int (*)(PyObject*, PyObject**);

// fn(x, y, passed) in the native protocol: our functions of the kind `Result` reads run
// through their native entry, anything else is called (with two arguments when
// `two_args`) and its result read back.
template <ResultRead Result>
inline int run_native(PyObject* fn, PyObject* x, PyObject* y, PyObject* passed, bool two_args,
                      PyObject** object) noexcept {
    if (NativeEntry e = native_entry_of(fn, Result == equality_result))
        return e(reinterpret_cast<NativeFunction*>(fn), x, y, passed, object);
    return Result(two_args ? call2(fn, x, y) : call3(fn, x, y, passed), object);
}

// A component call fn(x, y, ctx) through the native protocol, with the context fit
// for fn; `ctx` null calls fn with two arguments.
template <ResultRead Result>
inline int call_native(PyObject* fn, PyObject* x, PyObject* y, PyObject* ctx, bool fresh,
                       PyObject** object) noexcept {
    PyObject* passed = Py_None;
    if (ctx && !(passed = context_for_pair(fn, ctx, x, y, fresh))) return kFailed;
    return run_native<Result>(fn, x, y, passed, !ctx, object);
}

inline int compare_component(PyObject* fn, PyObject* x, PyObject* y, PyObject* ctx, bool fresh,
                             PyObject** object) noexcept {
    return call_native<comparer_result>(fn, x, y, ctx, fresh, object);
}
inline int equal_component(PyObject* fn, PyObject* x, PyObject* y, PyObject* ctx, bool fresh,
                           PyObject** object) noexcept {
    return call_native<equality_result>(fn, x, y, ctx, fresh, object);
}

// The integer result of the comparer call fn(x, y, ctx): 0 with `*out` set, or -1.
inline int integer_result_of_call(PyObject* fn, PyObject* x, PyObject* y, PyObject* ctx, bool fresh,
                                  int32_t* out) noexcept {
    PyObject* object = nullptr;
    int r = compare_component(fn, x, y, ctx, fresh, &object);
    return integer_result_of(r, object, out);
}

// The object result of the comparer call fn(x, y, ctx): kFailed, 0 when the result
// is zero, otherwise the result as a comparer's native result (an int, or
// kObjectResult with `*object` the result object itself).
int object_result_of_call(PyObject* fn, PyObject* x, PyObject* y, PyObject* ctx, bool fresh,
                          PyObject** object) noexcept;

// The truth of the equality call fn(x, y, ctx): 1, 0, or -1 with an exception set.
inline int call_truth(PyObject* fn, PyObject* x, PyObject* y, PyObject* ctx, bool fresh) noexcept {
    PyObject* object = nullptr;
    int r = equal_component(fn, x, y, ctx, fresh, &object);
    if (r == kFailed) return -1;
    return r == kObjectResult ? result_truth(Ref::steal(object)) : r;
}

// ---- The families and the prologue ------------------------------------------------------

// What tells the three families of composite bodies apart: the answer for the same
// object and for a pair already visited, the guard, and how a component is called.
struct Comparing {
    static constexpr int kEqual = 0;
    using Guard = WalkGuard;
    static int call(PyObject* fn, PyObject* x, PyObject* y, PyObject* ctx, bool fresh, PyObject** object) noexcept {
        return compare_component(fn, x, y, ctx, fresh, object);
    }
};
struct Equality {
    static constexpr int kEqual = 1;
    using Guard = WalkGuard;
    static int call(PyObject* fn, PyObject* x, PyObject* y, PyObject* ctx, bool fresh, PyObject** object) noexcept {
        return equal_component(fn, x, y, ctx, fresh, object);
    }
};
struct Identity {
    static constexpr int kEqual = 1;
    using Guard = PlainGuard;
};

// Not a native result: what a prologue step gives when the body goes on.
inline constexpr int kGoOn = INT_MIN + 2;

// Where in a composite value a component's comparison (or the read of the values it
// compares) failed: the child's position at its level. `name` is borrowed.
struct Child {
    enum class At : uint8_t { Field, Index, Case, Entry, Element, Referent } at;
    PyObject* name;    // Field: the field's name; Case: the case's tag; Entry: the key (may be null)
    Py_ssize_t index;  // Field, Index, Element: the position
    static Child field(Py_ssize_t i, PyObject* name) noexcept { return {At::Field, name, i}; }
    static Child item(Py_ssize_t i) noexcept { return {At::Index, nullptr, i}; }
    static Child case_of(PyObject* tag) noexcept { return {At::Case, tag, 0}; }
    static Child entry(PyObject* key) noexcept { return {At::Entry, key, 0}; }
    static Child element(Py_ssize_t i) noexcept { return {At::Element, nullptr, i}; }
    static Child referent() noexcept { return {At::Referent, nullptr, 0}; }
};

// The one failure path of every composite level: the child at `where` failed with an
// exception set while the level was `doing` its work. The exception gains the note that
// names the child (error_notes.hpp), which outer levels grow. Cold and out of line,
// reached only after a failure; returns `error`, the level's error value.
[[gnu::cold, gnu::noinline]] int child_failed(Doing doing, const Child& where, int error = kFailed) noexcept;

// `r`, the result of the child at `where`, passed on; a failure (`error`) takes the
// level's failure path. Inlined, so that `where` is only made on that path.
[[gnu::always_inline]] inline int child_result(Doing doing, int r, const Child& where, int error = kFailed) noexcept {
    if (r == error) [[unlikely]]
        return child_failed(doing, where, error);
    return r;
}

// One level of a composite body of `Family`: entered by the prologue's steps, each of
// which gives kGoOn to go on or the body's result (Family::kEqual, or kFailed with an
// exception set). The guard is left, and a context made for the level released, when
// the level ends.
template <class Family>
class Level {
public:
    Level() noexcept = default;
    Level(const Level&) = delete;
    Level& operator=(const Level&) = delete;

    // The recursion guard (`where` names the level in RecursionError).
    int enter(const char* where) noexcept {
        if (!Family::Guard::enter(where)) return kFailed;
        guard_.entered = true;
        return kGoOn;
    }
    // The same-object answer, then the guard.
    int enter(PyObject* x, PyObject* y, const char* where) noexcept {
        if (x == y) return Family::kEqual;
        return enter(where);
    }
    // The visit check on the pair (enter_pair); a None `*ctx` becomes the level's own.
    int visit(PyObject** ctx, PyObject* x, PyObject* y, bool components_ignore_context) noexcept {
        // Made in a local of its own: the level's address never leaves the body, so that
        // the compiler keeps its guard flag out of memory.
        if (*ctx == Py_None && components_ignore_context) return kGoOn;
        Ref made;
        int seen = visit_context(ctx, made, x, y);
        if (made) owned_ctx_ = std::move(made);
        return seen == 0 ? kGoOn : seen < 0 ? kFailed : Family::kEqual;
    }
    // The whole prologue of a body over one component: the same-object answer, the
    // guard, the component (`*fn`), and the visit check.
    int open(NativeFunction* self, PyObject* x, PyObject* y, PyObject** ctx, const char* where,
             PyObject** fn) noexcept {
        if (int r = enter(x, y, where); r != kGoOn) return r;
        if (!(*fn = component(self))) return kFailed;
        return visit(ctx, x, y, ignores_context(*fn));
    }

private:
    // Left when the level ends, after the context (declared after it) is released.
    struct Guard {
        bool entered = false;
        ~Guard() {
            if (entered) Family::Guard::leave();
        }
    };
    Guard guard_;
    Ref owned_ctx_;
};

}  // namespace vorn::sortkit
