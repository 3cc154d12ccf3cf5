// The comparison context as Python code sees it: a dict from id() of a left-hand
// value to the set of id()s of the right-hand values it was paired with during one
// comparison, so that cyclic values terminate.
#pragma once

#include "common/ref.hpp"

namespace vorn::sortkit {

// The visit check on such a dict. `*ctx` is the context received; when it is None a
// new dict is made, kept alive by `owned`, and `*ctx` points at it (pass it on to
// components). Returns 1 when the pair (x, y) was already recorded (the caller
// reports "equal"), 0 when it has now been recorded, -1 with an exception set.
int visit_pair(PyObject** ctx, Ref& owned, PyObject* x, PyObject* y) noexcept;

}  // namespace vorn::sortkit
