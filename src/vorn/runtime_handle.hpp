// Owning references to the C runtime's type and value handles: one reference,
// released on destruction.
#pragma once

#include "vorn/vorn_c.h"

#include <utility>

namespace vorn {

template <class T, void (*Release)(T*)>
class RuntimeHandle {
public:
    RuntimeHandle() noexcept = default;
    // Takes over one reference (which may be null, as after a failed conversion).
    explicit RuntimeHandle(T* p) noexcept : p_(p) {}
    RuntimeHandle(const RuntimeHandle&) = delete;
    RuntimeHandle& operator=(const RuntimeHandle&) = delete;
    RuntimeHandle(RuntimeHandle&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    RuntimeHandle& operator=(RuntimeHandle&& other) noexcept {
        reset(std::exchange(other.p_, nullptr));
        return *this;
    }
    ~RuntimeHandle() { reset(); }

    T* get() const noexcept { return p_; }
    // Gives up the reference: the caller now owns it.
    [[nodiscard]] T* release() noexcept { return std::exchange(p_, nullptr); }
    // Drops the held reference (if any) and takes over `p`.
    void reset(T* p = nullptr) noexcept {
        if (p_) Release(p_);
        p_ = p;
    }
    explicit operator bool() const noexcept { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

using TypeHandle = RuntimeHandle<VornType, vorn_type_release>;
using ValueHandle = RuntimeHandle<VornValue, vorn_value_release>;

}  // namespace vorn
