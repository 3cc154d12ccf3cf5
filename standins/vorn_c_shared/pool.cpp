// Small-block recycling and per-thread live counts for the runtime's handle records.
#include "pool.hpp"

#include <pthread.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace vorn_rt {
namespace {

constexpr size_t kClassSizes[] = {32, 64};

// Under AddressSanitizer every block goes straight back to malloc, so that a use of
// a freed handle record is caught instead of landing in a recycled block.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kRecycle = false;
#else
constexpr bool kRecycle = true;
#endif
constexpr size_t kClasses = sizeof kClassSizes / sizeof kClassSizes[0];
constexpr size_t kMaxCached = size_t{1} << 17;  // blocks kept per class and thread

struct FreeBlock {
    FreeBlock* next;
};

// One thread's pool and counts. Trivial, so that access is a plain thread-local
// load on every allocation; set up on first use and torn down by a thread-exit
// key destructor.
struct ThreadState {
    FreeBlock* head[kClasses];
    size_t cached[kClasses];
    long counts[2];  // written by this thread only, read by any with __atomic loads
    ThreadState* next;
    ThreadState* prev;
    bool registered;
    bool exited;  // after teardown: handles freed later go to malloc and the retired counts
};

__attribute__((tls_model("initial-exec"))) thread_local ThreadState t_state;

std::mutex& states_mutex() noexcept {
    static std::mutex m;
    return m;
}
ThreadState* g_states = nullptr;          // live threads, guarded by states_mutex()
std::atomic<long> g_retired[2] = {0, 0};  // counts of torn-down threads

pthread_key_t g_exit_key;

void thread_exit(void* p) noexcept {
    auto* s = static_cast<ThreadState*>(p);
    {
        std::lock_guard<std::mutex> lock(states_mutex());
        for (int i = 0; i < 2; ++i) g_retired[i].fetch_add(__atomic_load_n(&s->counts[i], __ATOMIC_RELAXED));
        if (s->prev) s->prev->next = s->next;
        else g_states = s->next;
        if (s->next) s->next->prev = s->prev;
    }
    s->exited = true;
    for (size_t c = 0; c < kClasses; ++c) {
        while (FreeBlock* b = s->head[c]) {
            s->head[c] = b->next;
            std::free(b);
        }
        s->cached[c] = 0;
    }
}

// False when the thread cannot use its state (already torn down, or no key).
bool ready(ThreadState& s) noexcept {
    if (s.registered) return !s.exited;
    static bool key_made = pthread_key_create(&g_exit_key, thread_exit) == 0;
    s.registered = true;
    if (!key_made || pthread_setspecific(g_exit_key, &s) != 0) {
        s.exited = true;
        return false;
    }
    std::lock_guard<std::mutex> lock(states_mutex());
    s.next = g_states;
    if (g_states) g_states->prev = &s;
    g_states = &s;
    return true;
}

int size_class(size_t size) noexcept {
    for (size_t c = 0; c < kClasses; ++c) {
        if (size <= kClassSizes[c]) return static_cast<int>(c);
    }
    return -1;
}

}  // namespace

void* pool_alloc(size_t size) noexcept {
    int c = size_class(size);
    if (c < 0 || !kRecycle) return std::malloc(size);
    ThreadState& s = t_state;
    if (ready(s)) {
        if (FreeBlock* b = s.head[c]) {
            s.head[c] = b->next;
            --s.cached[c];
            return b;
        }
    }
    return std::malloc(kClassSizes[c]);
}

void pool_free(void* p, size_t size) noexcept {
    int c = size_class(size);
    ThreadState& s = t_state;
    if (!p || c < 0 || !kRecycle || !ready(s) || s.cached[c] >= kMaxCached) return std::free(p);
    auto* b = static_cast<FreeBlock*>(p);
    b->next = s.head[c];
    s.head[c] = b;
    ++s.cached[c];
}

void count(Counter c, long delta) noexcept {
    int i = static_cast<int>(c);
    ThreadState& s = t_state;
    if (!ready(s)) {
        g_retired[i].fetch_add(delta, std::memory_order_relaxed);
        return;
    }
    __atomic_store_n(&s.counts[i], s.counts[i] + delta, __ATOMIC_RELAXED);
}

long count_total(Counter c) noexcept {
    int i = static_cast<int>(c);
    std::lock_guard<std::mutex> lock(states_mutex());
    long total = g_retired[i].load(std::memory_order_relaxed);
    for (ThreadState* s = g_states; s; s = s->next) total += __atomic_load_n(&s->counts[i], __ATOMIC_RELAXED);
    return total;
}

}  // namespace vorn_rt
