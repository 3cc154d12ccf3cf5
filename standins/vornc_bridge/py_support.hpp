// The small Python C API layer of the vorn._vornc_bridge stand-in, kept apart from
// the product's: owned references, interned names, a recursion guard, positional and
// keyword argument parsing for METH_FASTCALL functions, and __pyx_capi__ capsules.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>
#include <cstddef>
#include <utility>

namespace vornc_bridge {

// An owning reference: empty, or one counted reference released on destruction.
class Ref {
public:
    Ref() noexcept = default;
    static Ref steal(PyObject* p) noexcept { return Ref(p); }
    static Ref borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return Ref(p);
    }
    Ref(const Ref& other) noexcept : p_(other.p_) { Py_XINCREF(p_); }
    Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Ref& operator=(Ref other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const noexcept { return p_; }
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    explicit operator bool() const noexcept { return p_ != nullptr; }

private:
    explicit Ref(PyObject* p) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

template <std::size_t N>
struct Literal {
    char text[N];
    constexpr Literal(const char (&s)[N]) { std::copy_n(s, N, text); }
};

// A borrowed interned str kept for the life of the process; null with an exception
// set only when its first creation fails.
template <Literal L>
PyObject* str() noexcept {
    static PyObject* s = nullptr;
    if (!s) s = PyUnicode_InternFromString(L.text);
    return s;
}

// hasattr(o, name) as Python answers it: 1 or 0, or -1 with the exception set when the
// lookup raised anything but AttributeError (which hasattr() passes on, not hides).
inline int has_attr(PyObject* o, PyObject* name) noexcept {
    PyObject* v = PyObject_GetAttr(o, name);
    if (v) {
        Py_DECREF(v);
        return 1;
    }
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
    return 0;
}

// Entered at every level of a walk over nested data: RecursionError past the
// interpreter's recursion limit or when the C stack runs low.
class RecursionGuard {
public:
    explicit RecursionGuard(const char* where) noexcept;
    ~RecursionGuard() {
        if (entered_) Py_LeaveRecursiveCall();
    }
    RecursionGuard(const RecursionGuard&) = delete;
    RecursionGuard& operator=(const RecursionGuard&) = delete;
    bool failed() const noexcept { return !entered_; }

private:
    bool entered_ = false;
};

// Parameters of a METH_FASTCALL | METH_KEYWORDS function: `names` in order, the
// first `required` of them required, the rest None when absent.
struct Params {
    const char* function;
    const char* const* names;
    int count;
    int required;
};

// Fills out[0 .. params.count) with borrowed references; 0, or -1 with TypeError.
int parse_args(const Params& params, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
               PyObject** out) noexcept;

// Checks a positional-only call of a METH_FASTCALL function; 0, or -1 with TypeError.
int check_count(const char* function, Py_ssize_t nargs, Py_ssize_t min, Py_ssize_t max) noexcept;

// A METH_FASTCALL entry point over `F(args)`, which always receives Max arguments:
// absent trailing ones are None.
template <Literal Name, PyObject* (*F)(PyObject* const*), int Min, int Max>
PyObject* fastcall(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
    if (check_count(Name.text, nargs, Min, Max) < 0) return nullptr;
    PyObject* full[Max > 0 ? Max : 1];
    for (Py_ssize_t i = 0; i < Max; ++i) full[i] = i < nargs ? args[i] : Py_None;
    return F(full);
}

// A method-table entry for fastcall<>.
#define VORNC_FASTCALL(name, fn, min, max, doc) \
    {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(::vornc_bridge::fastcall<name, fn, min, max>)), \
     METH_FASTCALL, doc}

// The pointer of capsule `module.__pyx_capi__[function]`, whose name must be
// `signature`; null with an exception set.
void* import_capi(const char* module, const char* function, const char* signature) noexcept;

// Publishes `fn` in `module.__pyx_capi__` as a capsule named `signature`; 0 or -1.
int export_capi(PyObject* module, const char* function, void* fn, const char* signature) noexcept;

}  // namespace vornc_bridge
