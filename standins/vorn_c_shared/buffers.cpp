// Accounting of the heap buffers that cross the runtime boundary: printed texts
// handed to callers (freed by them with free()), messages of error results taken
// over from platform functions, and names taken over by registries.
//
// Modules built against this runtime are linked with --wrap=free, so their free()
// calls reach __wrap_free below, which notes a printed text as freed and frees it.
#include "buffers.hpp"
#include "runtime.hpp"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_set>

namespace vorn_rt {
namespace {

// The texts handed out and not yet freed, and the messages taken over and not yet
// released. A set each, so that a buffer is counted once however it is freed.
struct Outstanding {
    std::mutex mutex;
    std::unordered_set<const void*> texts;
    std::unordered_set<const void*> messages;
    long repeated_messages = 0;  // messages taken over while already held
};

Outstanding& outstanding() noexcept {
    static Outstanding* o = new Outstanding;  // never destroyed: frees may come late
    return *o;
}

std::atomic<long> g_texts{0};  // a lock-free look before each free
std::atomic<long> g_names{0};

// The caller's bytes to print instead of the runtime's text, when set.
std::mutex g_override_mutex;
bool g_override_on = false;
std::string g_override;

}  // namespace

char* hand_out_text(char* text) noexcept {
    if (!text) return nullptr;
    Outstanding& o = outstanding();
    try {
        std::lock_guard<std::mutex> lock(o.mutex);
        if (o.texts.insert(text).second) g_texts.fetch_add(1, std::memory_order_relaxed);
    } catch (...) {
        // Not counted: the caller still frees it.
    }
    return text;
}

char* printed_override(bool* active) noexcept {
    std::lock_guard<std::mutex> lock(g_override_mutex);
    *active = g_override_on;
    if (!g_override_on) return nullptr;
    char* text = static_cast<char*>(std::malloc(g_override.size() + 1));
    if (!text) return nullptr;
    std::memcpy(text, g_override.data(), g_override.size());
    text[g_override.size()] = '\0';
    return text;
}

void take_over_message(const char* message) noexcept {
    if (!message) return;
    Outstanding& o = outstanding();
    try {
        std::lock_guard<std::mutex> lock(o.mutex);
        if (!o.messages.insert(message).second) ++o.repeated_messages;
    } catch (...) {
    }
}

void release_message(char* message) noexcept {
    if (!message) return;
    Outstanding& o = outstanding();
    {
        std::lock_guard<std::mutex> lock(o.mutex);
        o.messages.erase(message);
    }
    std::free(message);
}

void count_name(long delta) noexcept { g_names.fetch_add(delta, std::memory_order_relaxed); }

}  // namespace vorn_rt

using namespace vorn_rt;

extern "C" {

VORN_C_API void __wrap_free(void* p) {
    if (p && g_texts.load(std::memory_order_relaxed) > 0) {
        Outstanding& o = outstanding();
        std::lock_guard<std::mutex> lock(o.mutex);
        if (o.texts.erase(p)) g_texts.fetch_sub(1, std::memory_order_relaxed);
    }
    std::free(p);
}

void vorn_live_buffers(VornLiveBuffers* out) {
    Outstanding& o = outstanding();
    std::lock_guard<std::mutex> lock(o.mutex);
    out->printed_texts = static_cast<long>(o.texts.size());
    out->error_messages = static_cast<long>(o.messages.size());
    out->repeated_messages = o.repeated_messages;
    out->registry_names = g_names.load(std::memory_order_relaxed);
}

bool vorn_testing_print_override(const char* bytes, size_t size) {
    try {
        std::lock_guard<std::mutex> lock(g_override_mutex);
        g_override_on = bytes != nullptr;
        g_override.assign(bytes ? bytes : "", bytes ? size : 0);
        return true;
    } catch (...) {
        g_override_on = false;
        return false;
    }
}

}  // extern "C"
