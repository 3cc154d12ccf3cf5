// The comparison context that the comparers and equality functions make for
// themselves when they receive None: the same pairs as the dict of id() sets, kept
// natively (a pair costs a probe of a flat table instead of two ints, a set and two
// hash lookups, and some 50 bytes instead of 600). It turns into that very dict,
// built by replaying the recorded pairs in order, as soon as it would reach a
// function that could read it, so nothing can tell the two apart.
#pragma once

#include "vorn/utils/sortkit.hpp"

namespace vorn::sortkit {

// The comparison-context step C1 to C4: a None `*ctx` is replaced by a new private
// context, kept alive by `owned`. Returns 1 when the pair (x, y) was already recorded,
// 0 when it has now been recorded, -1 with an exception set.
int visit_context(PyObject** ctx, Ref& owned, PyObject* x, PyObject* y) noexcept;

// Keeps `x` and `y` alive while the private context `ctx` lives (nothing to do for
// any other context). For values made afresh by an access (a sequence's __getitem__,
// a mapping's items()): the id() of a freed temporary is soon reused by the next
// one, which would then be taken for a pair already seen. Values read from the
// storage of exact lists and dicts need it not, their containers hold them.
// Returns 0, or -1 with an exception set.
int keep_alive(PyObject* ctx, PyObject* x, PyObject* y) noexcept;

// What to pass as the context `ctx` to the component function `fn`: `ctx` itself,
// unless it is a private context and `fn` is not one of the functions that keep it
// private (kKeepsContextPrivate, or a forwarder to one), which then get the dict it
// turns into. Borrowed; null with an exception set.
PyObject* context_for(PyObject* fn, PyObject* ctx) noexcept;

// The context to pass to `fn` with the pair (x, y): context_for, after keep_alive of
// the pair when it is `fresh` and fn may record it. Borrowed; null with an exception.
inline PyObject* context_for_pair(PyObject* fn, PyObject* ctx, PyObject* x, PyObject* y,
                                  bool fresh) noexcept {
    if (fresh && !ignores_context(fn) && keep_alive(ctx, x, y) < 0) return nullptr;
    return context_for(fn, ctx);
}

// fn(x, y, ctx) with the context fit for `fn` (context_for), or fn(x, y) when `ctx` is
// null. `fresh` says that x and y were made by the access that read them, rather than
// read from an exact list's or dict's storage: a function that records them then
// needs them kept alive (keep_alive). New reference, or null with an exception set.
inline PyObject* call_component(PyObject* fn, PyObject* x, PyObject* y, PyObject* ctx,
                                bool fresh) noexcept {
    if (!ctx) return call2(fn, x, y);
    PyObject* passed = context_for_pair(fn, ctx, x, y, fresh);
    return passed ? call3(fn, x, y, passed) : nullptr;
}

// A list whose indexing is the list's own: an exact list, or a subclass that leaves
// __getitem__ alone, whose items are therefore read from its storage, never fresh.
bool is_plain_list(PyObject* o) noexcept;

// Whether values read from `x` and `y` by subscription are made by the access: true
// unless both are exact dicts.
inline bool subscription_is_fresh(PyObject* x, PyObject* y) noexcept {
    return !PyDict_CheckExact(x) || !PyDict_CheckExact(y);
}

}  // namespace vorn::sortkit
