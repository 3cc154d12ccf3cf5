// Guards native descents into nested data against C stack exhaustion.
#pragma once

#include "common/ref.hpp"

namespace vorn {

// True when less than a safety margin of the calling thread's C stack is left.
bool stack_nearly_exhausted() noexcept;

// Entered at every level of a native walk over nested values: the interpreter's
// recursion check (RecursionError past the recursion limit), plus a check of the
// real C stack, so that even a raised recursion limit cannot overflow it.
class RecursionGuard {
public:
    explicit RecursionGuard(const char* where) noexcept;
    ~RecursionGuard() { if (entered_) Py_LeaveRecursiveCall(); }
    RecursionGuard(const RecursionGuard&) = delete;
    RecursionGuard& operator=(const RecursionGuard&) = delete;
    // True when the guard raised RecursionError; the caller returns its error value.
    bool failed() const noexcept { return !entered_; }

private:
    bool entered_ = false;
};

}  // namespace vorn
