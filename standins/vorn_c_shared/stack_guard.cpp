// The C stack check of the runtime's recursive walks.
#include "stack_guard.hpp"

#include <pthread.h>

#include <cstddef>
#include <cstdint>

namespace vorn_rt {
namespace {

constexpr std::uintptr_t kStackMargin = 128 * 1024;

// Lowest address a walk may reach on this thread (stacks grow down here), 0 if
// unknown; a small stack keeps half of itself in reserve.
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
    return reinterpret_cast<std::uintptr_t>(&probe) < stack_floor();
}

}  // namespace vorn_rt
