// The comparison context that the comparers and equality functions make for
// themselves when they receive None: the same pairs as the dict of id() sets, kept
// natively (a pair costs a probe of a flat table instead of two ints, a set and two
// hash lookups, and some 50 bytes instead of 600). It turns into that dict, built by
// replaying the recorded pairs in order, as soon as it would reach a function that
// could read it, so such a function finds the contents it would have found in a
// dict made from the start.
#pragma once

#include "common/ref.hpp"

namespace vorn::sortkit {

// The comparison-context step C1 to C4: a None `*ctx` is replaced by a new private
// context, kept alive by `owned`. Returns 1 when the pair (x, y) was already recorded,
// 0 when it has now been recorded, -1 with an exception set.
int visit_context(PyObject** ctx, Ref& owned, PyObject* x, PyObject* y) noexcept;

// What to pass as the context `ctx` to the component function `fn`: `ctx` itself,
// unless it is a private context and `fn` is not one of the functions that keep it
// private (kKeepsContextPrivate, or a forwarder to one), which then get the dict it
// turns into. Borrowed; null with an exception set.
PyObject* context_for(PyObject* fn, PyObject* ctx) noexcept;

}  // namespace vorn::sortkit
