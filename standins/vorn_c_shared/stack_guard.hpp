// The C stack check of the runtime's recursive walks (printers and parser).
#pragma once

namespace vorn_rt {

// True when less than a safety margin of the calling thread's C stack is left, so a
// walk gives up (its caller sees a failure) instead of overflowing the stack: the
// nesting limit alone does not fit threads made with small stacks.
bool stack_nearly_exhausted() noexcept;

}  // namespace vorn_rt
