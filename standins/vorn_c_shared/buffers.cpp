// Accounting of the heap buffers that cross the runtime boundary: messages of error
// results taken over from platform functions, and names taken over by registries.
// Printed texts handed to callers are counted in test builds only (testing_hooks.cpp).
#include "buffers.hpp"
#include "runtime.hpp"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <unordered_set>

namespace vorn_rt {
namespace {

// The messages taken over and not yet released: a set, so that a buffer is counted
// once however it is released.
struct Messages {
    std::mutex mutex;
    std::unordered_set<const void*> held;
    long repeated = 0;  // messages taken over while already held
};

Messages& messages() noexcept {
    static Messages* m = new Messages;  // never destroyed: releases may come late
    return *m;
}

std::atomic<long> g_names{0};

}  // namespace

void take_over_message(const char* message) noexcept {
    if (!message) return;
    Messages& m = messages();
    try {
        std::lock_guard<std::mutex> lock(m.mutex);
        if (!m.held.insert(message).second) ++m.repeated;
    } catch (...) {
    }
}

void release_message(char* message) noexcept {
    if (!message) return;
    Messages& m = messages();
    {
        std::lock_guard<std::mutex> lock(m.mutex);
        m.held.erase(message);
    }
    std::free(message);
}

void count_name(long delta) noexcept { g_names.fetch_add(delta, std::memory_order_relaxed); }

}  // namespace vorn_rt

using namespace vorn_rt;

extern "C" {

void vorn_live_buffers(VornLiveBuffers* out) {
    out->printed_texts = printed_texts_outstanding();
    Messages& m = messages();
    std::lock_guard<std::mutex> lock(m.mutex);
    out->error_messages = static_cast<long>(m.held.size());
    out->repeated_messages = m.repeated;
    out->registry_names = g_names.load(std::memory_order_relaxed);
}

}  // extern "C"
