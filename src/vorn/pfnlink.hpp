// The platform bridge's chief header: the C runtime interface, the conversion
// functions bound from vorn._vornc_bridge, and what the bridge's files share.
#pragma once

#include "common/ref.hpp"
#include "common/module.hpp"
#include "common/strings.hpp"
#include "vorn/vorn_c.h"

namespace vorn::pfnlink {

inline constexpr const char* kModuleName = "vorn._pfnlink";

// Conversion functions of vorn._vornc_bridge, bound at start-up.
struct Conversions {
    VornType* (*py_type_to_c)(PyObject*);
    VornValue* (*py_value_to_c)(PyObject*, VornType*);
    PyObject* (*c_value_to_py)(VornValue*, VornType*);
    PyObject* (*c_type_tag_to_py_type)(VornType*);
};
extern Conversions conversions;

extern ModuleSetup module_setup;
inline PyObject* globals() noexcept { return module_setup.globals; }

// The current-call record, written by the pre-call hook and read by the trampoline.
// Kept per thread: the runtime calls pre_call and then the function on one thread,
// so platform calls on several threads at once each find their own record.
struct CurrentCall {
    PlatformRegistry* registry = nullptr;
    const char* name = nullptr;
    VornType** type_args = nullptr;
    size_t n_type_args = 0;
};
CurrentCall& current_call() noexcept;

// C entry points installed on registries (hooks.cpp, platform_call.cpp).
void pre_call_hook(PlatformRegistry* registry, const char* name, VornType** type_args,
                   size_t n_type_args) noexcept;
void on_free_hook(PlatformRegistry* registry) noexcept;
PlatformFn python_generic_factory(VornType** type_args, size_t n_type_args) noexcept;
EvalResult python_platform_fn(VornValue** args, size_t nargs, VornType** arg_types,
                              size_t n_arg_types, VornType* ret_type) noexcept;

// An error result owning a strdup'ed copy of `message` (of `length` bytes).
EvalResult error_result(const char* message, size_t length) noexcept;

// The specialised callable of generic function `name` for the current call's type
// arguments, made by its factory on first use and cached in the dispatch state.
PyObject* specialize_generic(PyObject* state, PyObject* name) noexcept;

// Runs a coroutine to completion on the calling thread's event loop.
PyObject* run_async(PyObject* coro) noexcept;

// Reports the pending exception: its traceback printed, then the unraisable hook
// called with `context`.
void report_unraisable(const char* context) noexcept;

// The module global `name` (new reference, or null with NameError set).
inline PyObject* global(PyObject* name) noexcept { return lookup_global(globals(), name); }

// The exported registration entry point (registration.cpp).
void register_platform_functions(PlatformRegistry* registry, PyObject* platform_fns) noexcept;

}  // namespace vorn::pfnlink
