// The per-thread evaluation context, the one-time type-of-types set-up, and the
// counters of start-up events (read through vorn_runtime_counters and
// vorn_setup_calls, in test builds).
#include "context.hpp"
#include "runtime.hpp"

#include <atomic>
#include <mutex>

using namespace vorn_rt;

namespace {

std::atomic<long> g_events[static_cast<int>(Event::count)];

thread_local PlatformRegistry* t_platform = nullptr;
thread_local BuiltinRegistry* t_builtins = nullptr;

std::atomic<bool> g_type_of_type_ready{false};

// The names of the start-up and registry calls in the order they ran (the first
// kLogCapacity of them).
constexpr size_t kLogCapacity = 1024;
const char* const kEventNames[] = {"builtin_registry_new",   "vorn_register_all_builtins", "platform_registry_new",
                                   "platform_registry_free", "vorn_set_thread_context",    "vorn_type_of_type_init"};
static_assert(sizeof kEventNames / sizeof kEventNames[0] == static_cast<size_t>(Event::count));
std::mutex g_log_mutex;
const char* g_log[kLogCapacity];
size_t g_log_size = 0;

#ifdef VORN_TEST_HOOKS
// Read by the test builds' vorn_runtime_counters only.
long events(Event e) noexcept { return g_events[static_cast<int>(e)].load(std::memory_order_relaxed); }
#endif

}  // namespace

namespace vorn_rt {
void count_event(Event e) noexcept {
    g_events[static_cast<int>(e)].fetch_add(1, std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(g_log_mutex);
    if (g_log_size < kLogCapacity) g_log[g_log_size] = kEventNames[static_cast<int>(e)];
    ++g_log_size;
}
}  // namespace vorn_rt

extern "C" {

int vorn_set_thread_context(PlatformRegistry* platform, BuiltinRegistry* builtins) {
    t_platform = platform;
    t_builtins = builtins;
    count_event(Event::thread_context_set);
    return 0;
}

PlatformRegistry* vorn_thread_platform_registry(void) { return t_platform; }

BuiltinRegistry* vorn_thread_builtin_registry(void) { return t_builtins; }

// Types are described by the kind names of vorn_kind_name, which are static; the
// set-up only records that it ran, and running it again changes nothing.
int vorn_type_of_type_init(void) {
    g_type_of_type_ready.store(true, std::memory_order_release);
    count_event(Event::type_of_type_init);
    return 0;
}

bool vorn_type_of_type_ready(void) { return g_type_of_type_ready.load(std::memory_order_acquire); }

#ifdef VORN_TEST_HOOKS
void vorn_runtime_counters(VornRuntimeCounters* out) {
    out->builtin_registries_made = events(Event::builtin_registry_made);
    out->builtins_registrations = events(Event::builtins_registered);
    out->platform_registries_made = events(Event::platform_registry_made);
    out->platform_registries_freed = events(Event::platform_registry_freed);
    out->thread_contexts_set = events(Event::thread_context_set);
    out->type_of_type_inits = events(Event::type_of_type_init);
}

size_t vorn_setup_calls(const char** out, size_t capacity) {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    for (size_t i = 0; i < capacity && i < g_log_size && i < kLogCapacity; ++i) out[i] = g_log[i];
    return g_log_size;
}
#endif

}  // extern "C"
