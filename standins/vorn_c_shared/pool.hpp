// Small-block recycling and per-thread live counts for the runtime's handle records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

namespace vorn_rt {

// Memory for one record of `size` bytes: small sizes are recycled through a
// bounded per-thread free list, so building and dropping large values does not
// call malloc per element. Null when out of memory.
void* pool_alloc(size_t size) noexcept;
void pool_free(void* p, size_t size) noexcept;

// An allocator for std containers that takes small buffers from the pool.
template <class T>
struct PoolAllocator {
    using value_type = T;
    PoolAllocator() noexcept = default;
    template <class U>
    PoolAllocator(const PoolAllocator<U>&) noexcept {}
    T* allocate(size_t n) {
        if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        void* p = pool_alloc(n * sizeof(T));
        if (!p) throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t n) noexcept { pool_free(p, n * sizeof(T)); }
    template <class U>
    bool operator==(const PoolAllocator<U>&) const noexcept { return true; }
};

// Live handle counts, kept per thread by the thread that makes or frees a handle
// and summed when read.
enum class Counter { types = 0, values = 1 };
void count(Counter c, long delta) noexcept;
long count_total(Counter c) noexcept;

}  // namespace vorn_rt
