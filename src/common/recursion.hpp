// Guards native descents into nested data against C stack exhaustion.
#pragma once

#include "common/compat.hpp"
#include "common/ref.hpp"

#include <atomic>
#include <climits>
#include <cstdint>

namespace vorn {

namespace stack_detail {

// The stack of the thread that last probed, [low, top), and the lowest address it may
// use, `floor`, a safety margin above `low`. A probe whose own address lies in that
// stack is that thread's (the stacks of live threads never overlap), so the common
// case costs a few compares instead of a thread-local lookup. Only a thread holding
// the interpreter lock writes the record, as every caller holds it; a thread that ends
// drops its record by setting `low` to all ones, so no later thread can mistake the
// region for its own.
struct LastStack {
    std::atomic<std::uintptr_t> low{~std::uintptr_t{0}};
    std::uintptr_t floor = 0;
    std::uintptr_t top = 0;
};
extern LastStack last_stack;

// Finds the calling thread's stack, records it in last_stack, and returns its floor.
std::uintptr_t refresh_last_stack() noexcept;

// Whether the probe address `here` lies in the stack recorded last, so that the
// record is the calling thread's.
inline bool probed_last(std::uintptr_t here) noexcept {
    return here >= last_stack.low.load(std::memory_order_acquire) && here < last_stack.top;
}

// Whether more than `bytes` lie between `here` and `floor`.
inline bool room_above(std::uintptr_t here, std::uintptr_t floor, std::uintptr_t bytes) noexcept {
    return here > floor && here - floor > bytes;
}

}  // namespace stack_detail

// Raises the RecursionError of a C stack nearly exhausted at `where`.
void raise_stack_exhausted(const char* where) noexcept;

// True when less than a safety margin of the calling thread's C stack is left. Call
// with the interpreter lock held.
inline bool stack_nearly_exhausted() noexcept {
    char probe;
    const auto here = reinterpret_cast<std::uintptr_t>(&probe);
    if (stack_detail::probed_last(here)) [[likely]]
        return here < stack_detail::last_stack.floor;
    return here < stack_detail::refresh_last_stack();
}

// True when more than `bytes` of the calling thread's C stack are left above the
// safety margin (always, where the stack's bounds are unknown). Call with the
// interpreter lock held.
inline bool stack_has_room(std::uintptr_t bytes) noexcept {
    char probe;
    const auto here = reinterpret_cast<std::uintptr_t>(&probe);
    const std::uintptr_t floor =
        stack_detail::probed_last(here) ? stack_detail::last_stack.floor : stack_detail::refresh_last_stack();
    return stack_detail::room_above(here, floor, bytes);
}

// stack_has_room where the calling thread's stack is the one that probed last, and
// false (no room known) where it is not, without finding it out: for a fast path
// that leaves the rest to a path that asks stack_has_room.
inline bool stack_known_to_have_room(std::uintptr_t bytes) noexcept {
    char probe;
    const auto here = reinterpret_cast<std::uintptr_t>(&probe);
    return stack_detail::probed_last(here) && stack_detail::room_above(here, stack_detail::last_stack.floor, bytes);
}

// Entered at every level of a native walk over nested values: the interpreter's
// recursion check (RecursionError past the recursion limit), plus a check of the
// real C stack, so that even a raised recursion limit cannot overflow it.
class RecursionGuard {
public:
    explicit RecursionGuard(const char* where) noexcept {
        if (stack_nearly_exhausted()) [[unlikely]] {
            raise_stack_exhausted(where);
            return;
        }
        entered_ = Py_EnterRecursiveCall(where) == 0;
    }
    ~RecursionGuard() { if (entered_) compat::leave_recursive_call(); }
    RecursionGuard(const RecursionGuard&) = delete;
    RecursionGuard& operator=(const RecursionGuard&) = delete;
    // True when the guard raised RecursionError; the caller returns its error value.
    bool failed() const noexcept { return !entered_; }

private:
    bool entered_ = false;
};

// How many recursion checks in a row, made below the calling frame, are known to pass:
// INT_MAX where a check counts nothing and one made here passed (the later ones pass
// too; the C stack is the caller's to check, stack_has_room), else the count that
// recursion_headroom reads, 0 where nothing is known. Leaves no exception: a walk that
// needs more goes on with RecursionChecks, which makes them one by one where they
// come. Read first, as it may call into the interpreter.
inline int checks_known_to_pass() noexcept {
    if constexpr (compat::recursion_checks_by_stack) {
        if (Py_EnterRecursiveCall("")) [[unlikely]] {
            PyErr_Clear();
            return 0;
        }
        return INT_MAX;
    } else {
        return compat::recursion_headroom();
    }
}

// The recursion checks of a walk that stands in for nested native calls without
// making them: entered one by one where those calls would enter theirs, so that
// RecursionError comes where it would, and all left together when the walk ends.
// When the thread has room for more checks than the walk can enter, none can fail
// and none is made; where checks read only the C stack, the first one made answers
// for all. The C stack is the caller's to check: the calls stood in for
// would each probe it deeper (stack_has_room).
class RecursionChecks {
public:
    // `most`: the most checks the walk may enter.
    explicit RecursionChecks(int most) noexcept : all_pass_(compat::recursion_headroom() > most) {}
    ~RecursionChecks() {
        for (; entered_; --entered_) compat::leave_recursive_call();
    }
    RecursionChecks(const RecursionChecks&) = delete;
    RecursionChecks& operator=(const RecursionChecks&) = delete;
    // Enters one more check; false with RecursionError set.
    bool enter(const char* where) noexcept {
        if (all_pass_) return true;
        if (Py_EnterRecursiveCall(where)) return false;
        ++entered_;
        // Where a check reads only the C stack, the later ones, made in this frame, pass too.
        all_pass_ = compat::recursion_checks_by_stack;
        return true;
    }

private:
    bool all_pass_;
    int entered_ = 0;
};

}  // namespace vorn
