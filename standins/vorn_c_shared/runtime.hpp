// Internal layout of the stand-in runtime's type and value handles, with the
// reference-counting helpers that every part of the runtime uses.
#pragma once

#include "pool.hpp"
#include "vorn_c_ext.h"

#include <atomic>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

// A type node. Nodes are immutable once made; Recursive references name their scope
// and are resolved against the wrappers enclosing them (VornScope) by each walk.
struct VornType {
    VornType(VornKind k, bool is_immortal) noexcept : kind(k), immortal(is_immortal) {}

    // Records come from the runtime's small-block pool.
    static void* operator new(size_t size, const std::nothrow_t&) noexcept { return vorn_rt::pool_alloc(size); }
    static void operator delete(void* p, size_t size) noexcept { vorn_rt::pool_free(p, size); }

    std::atomic<long> refs{1};
    VornKind kind;
    bool immortal;                     // static: never counted or freed
    bool rec_ref = false;              // Recursive: a reference, not a wrapper
    bool scope_numeric = false;        // Recursive: the scope id is an integer
    bool unprintable = false;          // refused by the type printer (a test fixture)
    std::vector<VornType*> children;   // owned; see vorn_type_child
    std::vector<std::string> names;    // Struct and Variant member names
    std::string scope;                 // Recursive scope id
};

// The common head of every value. `kind` is the value's own kind; the payload lives
// in the derived records below, chosen by kind.
struct VornValue {
    VornValue(VornKind k, bool is_immortal) noexcept : kind(k), immortal(is_immortal) {}

    // Records come from the runtime's small-block pool.
    static void* operator new(size_t size, const std::nothrow_t&) noexcept { return vorn_rt::pool_alloc(size); }
    static void operator delete(void* p, size_t size) noexcept { vorn_rt::pool_free(p, size); }

    std::atomic<long> refs{1};
    VornKind kind;
    bool immortal;
};

namespace vorn_rt {

// Deepest nesting that the printers and the parser walk before giving up; it keeps
// their recursion well inside any thread's stack.
inline constexpr int kMaxDepth = 4096;

// Null, Boolean, Integer, Float, DateTime (microseconds in `i`).
struct ScalarValue : VornValue {
    using VornValue::VornValue;
    ScalarValue(VornKind k, bool is_immortal, bool flag) noexcept : VornValue(k, is_immortal), b(flag) {}
    union {
        bool b;
        int64_t i;
        double f;
    };
};

// String (valid UTF-8) and Blob.
struct BytesValue : VornValue {
    using VornValue::VornValue;
    std::string bytes;
};

// Vector, Matrix (row by row), Array, Set, Struct (fields in type order) and Dict
// (keys and values interleaved). Items are owned references.
using ItemVector = std::vector<VornValue*, PoolAllocator<VornValue*>>;

struct ListValue : VornValue {
    using VornValue::VornValue;
    ItemVector items;
    size_t rows = 0;
    size_t cols = 0;
};

struct VariantValue : VornValue {
    using VornValue::VornValue;
    size_t index = 0;
    VornValue* payload = nullptr;  // owned
};

// A mutable cell; its target is read and replaced under ref_mutex().
struct RefValue : VornValue {
    using VornValue::VornValue;
    VornValue* target = nullptr;  // owned
};

struct FunctionValue : VornValue {
    using VornValue::VornValue;
    void* payload = nullptr;
    void (*release)(void*) = nullptr;
};

inline bool is_list_kind(VornKind k) noexcept {
    return k == VORN_VECTOR || k == VORN_MATRIX || k == VORN_ARRAY || k == VORN_SET ||
           k == VORN_STRUCT || k == VORN_DICT;
}

inline VornValue* retain(VornValue* v) noexcept {
    if (v && !v->immortal) v->refs.fetch_add(1, std::memory_order_relaxed);
    return v;
}

inline VornType* retain(VornType* t) noexcept {
    if (t && !t->immortal) t->refs.fetch_add(1, std::memory_order_relaxed);
    return t;
}

// Counts a handle made or destroyed.
inline void count_value(long delta) noexcept { count(Counter::values, delta); }
inline void count_type(long delta) noexcept { count(Counter::types, delta); }

// Drops one reference; true when it was the last, and the handle must be destroyed.
// A count of one means the caller holds the only reference, which no other thread
// can then change, so the atomic read-modify-write is skipped.
template <class Handle>
inline bool drop_ref(Handle* h) noexcept {
    if (!h || h->immortal) return false;
    if (h->refs.load(std::memory_order_acquire) == 1) return true;
    return h->refs.fetch_sub(1, std::memory_order_acq_rel) == 1;
}

// The static values.
VornValue* null_value() noexcept;
VornValue* bool_value(bool b) noexcept;

// A String value taking over bytes already known to be valid UTF-8; NULL when out of
// memory.
VornValue* make_string(std::string&& bytes) noexcept;

// Value printing (print_value.cpp) used by the built-ins as well.
char* print_value(const VornValue* value, const VornType* type) noexcept;

}  // namespace vorn_rt
