// Recursion and C stack checks for native walks over nested values.
#include "common/recursion.hpp"

#include <pthread.h>

#include <cstdint>

namespace vorn {
namespace {

constexpr std::uintptr_t kStackMargin = 256 * 1024;

// Lowest usable address of this thread's stack (stacks grow down here), 0 if unknown.
// A thread made with a small stack (threading.stack_size) keeps half of it in reserve.
std::uintptr_t stack_floor() noexcept {
    thread_local std::uintptr_t floor = [] {
        pthread_attr_t attr;
        std::uintptr_t low = 0;
        if (pthread_getattr_np(pthread_self(), &attr) == 0) {
            void* addr = nullptr;
            size_t size = 0;
            if (pthread_attr_getstack(&attr, &addr, &size) == 0 && size > 0) {
                std::uintptr_t margin = size > 2 * kStackMargin ? kStackMargin : size / 2;
                low = reinterpret_cast<std::uintptr_t>(addr) + margin;
            }
            pthread_attr_destroy(&attr);
        }
        return low;
    }();
    return floor;
}

}  // namespace

bool stack_nearly_exhausted() noexcept {
    char probe;
    std::uintptr_t here = reinterpret_cast<std::uintptr_t>(&probe);
    return here < stack_floor();
}

RecursionGuard::RecursionGuard(const char* where) noexcept {
    if (stack_nearly_exhausted()) {
        PyErr_Format(PyExc_RecursionError, "maximum recursion depth exceeded%s", where);
        return;
    }
    entered_ = Py_EnterRecursiveCall(where) == 0;
}

}  // namespace vorn
