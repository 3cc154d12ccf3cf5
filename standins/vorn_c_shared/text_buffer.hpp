// A growable text buffer in C heap memory, handed to callers that free() it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace vorn_rt {

// Appends never throw: a failed allocation marks the buffer failed, later appends
// are ignored, and release() returns NULL.
class TextBuffer {
public:
    TextBuffer() noexcept = default;
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;
    ~TextBuffer() { std::free(data_); }

    bool failed() const noexcept { return failed_; }
    size_t size() const noexcept { return size_; }

    // Makes room for `n` more bytes (plus the final NUL); false once failed.
    bool reserve(size_t n) noexcept {
        if (failed_) return false;
        if (size_ + n < capacity_) return true;
        size_t want = capacity_ ? capacity_ : 64;
        while (want <= size_ + n) {
            if (want > (SIZE_MAX >> 1)) return fail();
            want <<= 1;
        }
        char* grown = static_cast<char*>(std::realloc(data_, want));
        if (!grown) return fail();
        data_ = grown;
        capacity_ = want;
        return true;
    }

    void put(char c) noexcept {
        if (reserve(1)) data_[size_++] = c;
    }

    void put(const char* s, size_t n) noexcept {
        if (n && reserve(n)) {
            std::memcpy(data_ + size_, s, n);
            size_ += n;
        }
    }

    void put(const char* s) noexcept { put(s, std::strlen(s)); }

    // Drops what was written after the first `n` bytes.
    void truncate(size_t n) noexcept {
        if (n < size_) size_ = n;
    }

    // Room for `n` bytes written directly at end(), then commit(written).
    char* end() noexcept { return data_ + size_; }
    void commit(size_t n) noexcept { size_ += n; }

    // The NUL-terminated text, now the caller's; NULL when an append failed.
    char* release() noexcept {
        if (!reserve(0)) return nullptr;
        data_[size_] = '\0';
        char* out = data_;
        data_ = nullptr;
        size_ = capacity_ = 0;
        return out;
    }

private:
    bool fail() noexcept {
        failed_ = true;
        return false;
    }

    char* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
    bool failed_ = false;
};

}  // namespace vorn_rt
