// Test builds only (VORN_TEST_HOOKS): the accounting of printed texts handed to
// callers, and the printers' stand-in text that tests set to reach the callers'
// handling of bad printer output.
//
// Modules built against this runtime in test builds are linked with --wrap=free, so
// their free() calls reach __wrap_free below, which notes a printed text as freed and
// frees it.
#include "buffers.hpp"
#include "runtime.hpp"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_set>

namespace vorn_rt {
namespace {

// The texts handed out and not yet freed: a set, so that a text is counted once.
struct Texts {
    std::mutex mutex;
    std::unordered_set<const void*> held;
};

Texts& texts() noexcept {
    static Texts* t = new Texts;  // never destroyed: frees may come late
    return *t;
}

std::atomic<long> g_texts{0};  // a lock-free look before each free

// The caller's bytes to print instead of the runtime's text, when set.
std::mutex g_override_mutex;
bool g_override_on = false;
std::string g_override;

}  // namespace

char* hand_out_text(char* text) noexcept {
    if (!text) return nullptr;
    Texts& t = texts();
    try {
        std::lock_guard<std::mutex> lock(t.mutex);
        if (t.held.insert(text).second) g_texts.fetch_add(1, std::memory_order_relaxed);
    } catch (...) {
        // Not counted: the caller still frees it.
    }
    return text;
}

long printed_texts_outstanding() noexcept {
    Texts& t = texts();
    std::lock_guard<std::mutex> lock(t.mutex);
    return static_cast<long>(t.held.size());
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

}  // namespace vorn_rt

using namespace vorn_rt;

extern "C" {

VORN_C_API void __wrap_free(void* p) {
    if (p && g_texts.load(std::memory_order_relaxed) > 0) {
        Texts& t = texts();
        std::lock_guard<std::mutex> lock(t.mutex);
        if (t.held.erase(p)) g_texts.fetch_sub(1, std::memory_order_relaxed);
    }
    std::free(p);
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
