// Owning references to Python objects: the one way the modules hold a reference.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace vorn {

// An owning reference. Empty (null) or one counted reference, released on destruction.
class Ref {
public:
    Ref() noexcept = default;
    Ref(std::nullptr_t) noexcept {}

    // Takes over a new reference (which may be null, e.g. after a failed call).
    static Ref steal(PyObject* p) noexcept { return Ref(p); }
    // Adds a reference to a borrowed pointer (which may be null).
    static Ref borrow(PyObject* p) noexcept { Py_XINCREF(p); return Ref(p); }

    Ref(const Ref& other) noexcept : p_(other.p_) { Py_XINCREF(p_); }
    Ref(Ref&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    Ref& operator=(Ref other) noexcept { std::swap(p_, other.p_); return *this; }
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const noexcept { return p_; }
    // Gives up ownership: the caller now owns the reference.
    [[nodiscard]] PyObject* release() noexcept { PyObject* p = p_; p_ = nullptr; return p; }
    // A new reference to the same object, ownership kept.
    PyObject* new_ref() const noexcept { Py_XINCREF(p_); return p_; }
    void reset() noexcept { Py_CLEAR(p_); }
    explicit operator bool() const noexcept { return p_ != nullptr; }

private:
    explicit Ref(PyObject* p) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

// A new reference to an interned str, or null with an exception set.
inline Ref intern(const char* text) noexcept { return Ref::steal(PyUnicode_InternFromString(text)); }

}  // namespace vorn
