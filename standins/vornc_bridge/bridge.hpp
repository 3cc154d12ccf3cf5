// Declarations shared by the parts of the vorn._vornc_bridge stand-in: the Python
// classes it converts to and from, the four exported conversion functions, the
// Python-visible handle classes and the runtime driver.
#pragma once

#include "py_support.hpp"
#include "vorn_c_ext.h"

#include <utility>

namespace vornc_bridge {

// Owns one runtime handle; released on destruction.
template <class T, void (*Release)(T*)>
class Handle {
public:
    Handle() noexcept = default;
    explicit Handle(T* p) noexcept : p_(p) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Handle& operator=(Handle&& o) noexcept {
        reset(std::exchange(o.p_, nullptr));
        return *this;
    }
    ~Handle() { reset(); }

    T* get() const noexcept { return p_; }
    [[nodiscard]] T* release() noexcept { return std::exchange(p_, nullptr); }
    void reset(T* p = nullptr) noexcept {
        if (p_) Release(p_);
        p_ = p;
    }
    explicit operator bool() const noexcept { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

using TypeHandle = Handle<VornType, vorn_type_release>;
using ValueHandle = Handle<VornValue, vorn_value_release>;

// Classes and modules bound at start-up and kept for the life of the process.
struct PyClasses {
    PyObject* type = nullptr;               // vorn.types.types.Type
    PyObject* recursive_payload = nullptr;  // vorn.types.types.RecursivePayload
    PyObject* blob = nullptr;               // vorn.types.values.VornBlob ...
    PyObject* vector = nullptr;
    PyObject* matrix = nullptr;
    PyObject* ref = nullptr;
    PyObject* array = nullptr;
    PyObject* dict = nullptr;
    PyObject* set = nullptr;
};
extern PyClasses py;

// Imports vorn.types.types, vorn.types.values and the datetime C API; 0 or -1.
int import_python_classes() noexcept;

// The four conversion functions published in __pyx_capi__. Each returns a new
// reference, or null with a Python exception set.
VornType* py_type_to_c(PyObject* descriptor) noexcept;
VornValue* py_value_to_c(PyObject* value, VornType* type) noexcept;
PyObject* c_value_to_py(VornValue* value, VornType* type) noexcept;
PyObject* c_type_to_py(VornType* type) noexcept;

// True when `a` (inside the Recursive scopes `env_a`) and `b` (inside `env_b`)
// describe the same type.
bool same_type(const VornType* a, const VornScope* env_a, const VornType* b, const VornScope* env_b) noexcept;
// The runtime's text of a type or a value, as str, for messages (a placeholder when
// the runtime prints nothing); null with an exception set.
PyObject* type_text(const VornType* t, const VornScope* env) noexcept;
PyObject* value_text(VornValue* v, const VornType* t, const VornScope* env) noexcept;

// Kind code of a kind name ("Integer"), or -1.
int kind_from_name(const char* name) noexcept;

// DateTime values: microseconds since the epoch, UTC. Aware datetimes only.
bool datetime_to_micros(PyObject* value, int64_t* out) noexcept;
PyObject* micros_to_datetime(int64_t micros) noexcept;

// Function values backed by a Python callable.
VornValue* wrap_callable(PyObject* callable) noexcept;
// The callable of a Function value made by wrap_callable (borrowed), else null.
PyObject* wrapped_callable(const VornValue* value) noexcept;

// CValue and CType: Python objects holding one runtime handle each.
extern PyTypeObject CValueType;
extern PyTypeObject CTypeType;
// Takes over both references; `type` may be null.
PyObject* make_cvalue(VornValue* value, VornType* type) noexcept;
// Takes over `type`.
PyObject* make_ctype(VornType* type) noexcept;
inline bool is_cvalue(PyObject* o) noexcept { return Py_IS_TYPE(o, &CValueType); }
inline bool is_ctype(PyObject* o) noexcept { return Py_IS_TYPE(o, &CTypeType); }
// Borrowed handles of a CValue or CType.
VornValue* cvalue_value(PyObject* o) noexcept;
VornType* cvalue_type(PyObject* o) noexcept;
VornType* ctype_type(PyObject* o) noexcept;
// A new type reference from a CType or a type descriptor.
VornType* type_from_py(PyObject* o) noexcept;

// Module parts added at start-up; 0 or -1.
int add_handle_types(PyObject* module) noexcept;
int add_registry_type(PyObject* module) noexcept;
// vorn._vornc_bridge._testing, in test builds only (VORN_TEST_HOOKS).
int add_testing_module(PyObject* module) noexcept;

}  // namespace vornc_bridge
