// What every composite comparer and equality function does around its walk: the
// recursion guard, keeping compared temporaries alive for the whole walk, the visit
// check, and calling component functions with the context fit for them.
#pragma once

#include "common/compat.hpp"
#include "common/recursion.hpp"
#include "vorn/utils/closures.hpp"
#include "vorn/utils/private_context.hpp"

namespace vorn::sortkit {

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

// Entered by every composite function for the length of its call: the recursion
// guard, and the walk that keep_alive extends to. The temporaries compared during a
// walk are released when its outermost call returns, whatever the context: a
// comparison context records id()s, and the id() of a freed temporary is soon
// reused by the next one, which would then be taken for a pair already seen.
class CompositeCall {
public:
    explicit CompositeCall(const char* where) noexcept : guard_(where) {
        if (!guard_.failed()) ++walk_state.depth;
    }
    ~CompositeCall() {
        if (!guard_.failed() && --walk_state.depth == 0 && walk_state.count) release_kept();
    }
    CompositeCall(const CompositeCall&) = delete;
    CompositeCall& operator=(const CompositeCall&) = delete;
    // True when the guard raised RecursionError; the caller returns its error value.
    bool failed() const noexcept { return guard_.failed(); }

private:
    RecursionGuard guard_;
};

// Keeps `x` and `y` alive until the current walk ends. 0, or -1 with an exception set.
int keep_alive(PyObject* x, PyObject* y) noexcept;

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

// fn(x, y, ctx) with the context fit for `fn` (context_for), or fn(x, y) when `ctx` is
// null. `fresh` says that x and y were made by the access that read them, rather than
// read from the storage of a container that holds them: when fn may record them,
// they are kept alive for the walk (keep_alive). New reference, or null.
inline PyObject* call_component(PyObject* fn, PyObject* x, PyObject* y, PyObject* ctx,
                                bool fresh) noexcept {
    if (!ctx) return call2(fn, x, y);
    if (fresh && !ignores_context(fn) && keep_alive(x, y) < 0) return nullptr;
    PyObject* passed = context_for(fn, ctx);
    return passed ? call3(fn, x, y, passed) : nullptr;
}

// The context to pass to the component `fn` with the pair (x, y) (see call_component):
// `ctx` is None, a dict, or a private context. Borrowed; null with an exception set.
inline PyObject* context_for_pair(PyObject* fn, PyObject* ctx, PyObject* x, PyObject* y, bool fresh) noexcept {
    if (ctx == Py_None) return ctx;
    if (fresh && !ignores_context(fn) && keep_alive(x, y) < 0) return nullptr;
    return context_for(fn, ctx);
}

// A comparer's Python result `r` (a new reference, or null after an error) in the
// native protocol: the value of a shared small int (the object that value stands
// for), otherwise the object itself.
inline int comparer_result(PyObject* r, PyObject** object) noexcept {
    if (!r) return kFailed;
    Py_ssize_t v;
    if (PyLong_CheckExact(r) && compat::shared_small_int(r, &v)) {
        Py_DECREF(r);
        return static_cast<int>(v);
    }
    *object = r;
    return kObjectResult;
}

// An equality function's Python result in the native protocol: 1 and 0 for True and
// False, otherwise the object itself.
inline int equality_result(PyObject* r, PyObject** object) noexcept {
    if (!r) return kFailed;
    if (r == Py_True || r == Py_False) {
        Py_DECREF(r);
        return r == Py_True;
    }
    *object = r;
    return kObjectResult;
}

// call_component through the native protocol: our functions run through their native
// entry, anything else is called and its result read back (`Result` is
// comparer_result or equality_result). `ctx` null calls fn with two arguments.
template <int (*Result)(PyObject*, PyObject**)>
inline int call_native(PyObject* fn, PyObject* x, PyObject* y, PyObject* ctx, bool fresh,
                       PyObject** object) noexcept {
    PyObject* passed = Py_None;
    if (ctx && !(passed = context_for_pair(fn, ctx, x, y, fresh))) return kFailed;
    if (NativeEntry e = native_entry_of(fn, Result == equality_result))
        return e(reinterpret_cast<NativeFunction*>(fn), x, y, passed, object);
    return Result(ctx ? call3(fn, x, y, passed) : call2(fn, x, y), object);
}

inline int compare_component(PyObject* fn, PyObject* x, PyObject* y, PyObject* ctx, bool fresh,
                             PyObject** object) noexcept {
    return call_native<comparer_result>(fn, x, y, ctx, fresh, object);
}
inline int equal_component(PyObject* fn, PyObject* x, PyObject* y, PyObject* ctx, bool fresh,
                           PyObject** object) noexcept {
    return call_native<equality_result>(fn, x, y, ctx, fresh, object);
}

}  // namespace vorn::sortkit
