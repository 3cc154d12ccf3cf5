// Recursion and C stack checks for native walks over nested values.
#include "common/recursion.hpp"

#include <pthread.h>

namespace vorn {
namespace stack_detail {
namespace {

constexpr std::uintptr_t kStackMargin = 256 * 1024;
constexpr std::uintptr_t kNoStack = ~std::uintptr_t{0};

// The calling thread's stack, looked up once per thread; when its bounds are unknown,
// nothing is ever too deep for it (floor 0). A thread
// made with a small stack (threading.stack_size) keeps half of it in reserve. When the
// thread ends, its record leaves last_stack.
struct ThreadStack {
    std::uintptr_t low = 0, floor = 0, top = kNoStack;

    ThreadStack() noexcept {
        pthread_attr_t attr;
        if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
        void* addr = nullptr;
        size_t size = 0;
        if (pthread_attr_getstack(&attr, &addr, &size) == 0 && size > 0) {
            std::uintptr_t margin = size > 2 * kStackMargin ? kStackMargin : size / 2;
            low = reinterpret_cast<std::uintptr_t>(addr);
            floor = low + margin;
            top = low + size;
        }
        pthread_attr_destroy(&attr);
    }
    ~ThreadStack() {
        std::uintptr_t mine = low;
        last_stack.low.compare_exchange_strong(mine, kNoStack);
    }
};

}  // namespace

LastStack last_stack;

std::uintptr_t refresh_last_stack() noexcept {
    thread_local const ThreadStack mine;
    if (mine.top == kNoStack) {
        // Unknown bounds: no record, so that other threads still find theirs.
        last_stack.low.store(kNoStack, std::memory_order_relaxed);
        return 0;
    }
    // `low` last: a reader that sees it sees the rest of the record.
    last_stack.floor = mine.floor;
    last_stack.top = mine.top;
    last_stack.low.store(mine.low, std::memory_order_release);
    return mine.floor;
}

}  // namespace stack_detail

void raise_stack_exhausted(const char* where) noexcept {
    PyErr_Format(PyExc_RecursionError, "maximum recursion depth exceeded%s", where);
}

}  // namespace vorn
