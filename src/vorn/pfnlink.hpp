// The platform bridge's chief header: the C runtime interface, the conversion
// functions bound from vorn._vornc_bridge, and what the bridge's files share.
#pragma once

#include "common/ref.hpp"
#include "common/module.hpp"
#include "common/strings.hpp"
#include "vorn/conversions.hpp"
#include "vorn/runtime_handle.hpp"
#include "vorn/vorn_c.h"

namespace vorn::pfnlink {

inline constexpr const char* kModuleName = "vorn._pfnlink";

// Conversion functions of vorn._vornc_bridge, all four bound at start-up.
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

// The callable that serves one call, and its async flag.
struct Target {
    Ref callable;
    Ref is_async;
};

// What a call's target was found through: the states dict, the state's direct table,
// and for a generic function its generic table and specialisation cache (else null);
// with the stamps of those dicts and of the module namespace, taken by stamp_trail
// once they are read and before anything that may run code (a factory) could change
// them.
struct TargetTrail {
    PyObject* states = nullptr;
    PyObject* direct = nullptr;
    PyObject* generic = nullptr;
    PyObject* cache = nullptr;
    uint64_t globals_stamp = 0, states_stamp = 0, direct_stamp = 0, generic_stamp = 0, cache_stamp = 0;
};
// Stamps the dicts of `trail` as they are now (dispatch_cache.cpp).
void stamp_trail(TargetTrail& trail) noexcept;

// The target of the last call (dispatch_cache.cpp), served again to a call of the same
// registry, name and type arguments while neither the module namespace nor any dict of
// its trail has changed since, from Python or not. True when `target` was filled.
bool cached_target(const CurrentCall& call, PyObject* name, Target& target) noexcept;
// Keeps `target` for the calls that follow, when its trail allows it: exact dicts
// whose changes can be followed (dict_signal), stamped by stamp_trail.
void remember_target(const CurrentCall& call, PyObject* name, const TargetTrail& trail,
                     const Target& target) noexcept;
// Drops what was kept for `registry` (for any registry when null), releasing it at
// once: a freed registry or a cleared state keeps nothing alive.
void forget_target(PlatformRegistry* registry) noexcept;

// The specialised callable of generic function `name` for the type arguments of
// `call`, made by its factory on first use and cached in the dispatch state.
PyObject* specialize_generic(PyObject* state, PyObject* name, const CurrentCall& call) noexcept;

// Runs a coroutine to completion on the calling thread's event loop.
PyObject* run_async(PyObject* coro) noexcept;

// Reports the pending exception, raised in C function `function` of the bridge while
// it handled the exception `during` (or null): printed with its traceback and its
// chain, then passed to the unraisable hook with `context`.
void report_unraisable(const char* context, const char* function, PyObject* during) noexcept;

// The module global `name` (new reference, or null with NameError set).
inline PyObject* global(PyObject* name) noexcept { return lookup_global(globals(), name); }

// The positions in a registry's dispatch state, the tuple (direct, generic, cache,
// platform_fns) that registration makes, and in an entry of its direct and generic
// tables, the pair (function or factory, is_async).
namespace state_item {
inline constexpr Py_ssize_t kDirect = 0, kGeneric = 1, kCache = 2, kPlatformFns = 3, kCount = 4;
}
namespace entry_item {
inline constexpr Py_ssize_t kCallable = 0, kIsAsync = 1, kCount = 2;
}

// Lookups on the tables of the dispatch state, with fast paths for the exact dicts
// and tuples that registration builds. Keys are ints, bytes and tuples of them, whose
// hashing and comparison run no Python code. Each returns a new reference, or null
// with an exception set.

// `mapping.get(key)`: None when absent.
inline PyObject* mapping_get(PyObject* mapping, PyObject* key) noexcept {
    if (!PyDict_CheckExact(mapping)) return PyObject_CallMethodOneArg(mapping, str<"get">(), key);
    PyObject* value = PyDict_GetItemWithError(mapping, key);
    if (value) return Py_NewRef(value);
    return PyErr_Occurred() ? nullptr : Py_NewRef(Py_None);
}

// `sequence[i]` for i >= 0.
inline PyObject* sequence_item(PyObject* sequence, Py_ssize_t i) noexcept {
    if (PyTuple_CheckExact(sequence) && i < PyTuple_GET_SIZE(sequence))
        return Py_NewRef(PyTuple_GET_ITEM(sequence, i));
    return PySequence_GetItem(sequence, i);
}

// `key in mapping`: 1, 0, or -1 with an exception set.
inline int mapping_contains(PyObject* mapping, PyObject* key) noexcept {
    return PyDict_CheckExact(mapping) ? PyDict_Contains(mapping, key) : PySequence_Contains(mapping, key);
}

// The truth of an async flag: exact bools without a call.
inline int truth(PyObject* flag) noexcept {
    if (flag == Py_True) return 1;
    if (flag == Py_False) return 0;
    return PyObject_IsTrue(flag);
}

// A registry's address as an int, the key of its dispatch state (new reference).
// The last one made is kept, so that registration and the calls that follow share
// one key object and the state's lookup succeeds on identity. Under the lock.
PyObject* registry_key(PlatformRegistry* registry) noexcept;

// A function name as bytes (new reference). The last one made is kept, so that a run
// of calls of one function reuses one object and its cached hash. Under the lock.
PyObject* name_bytes(const char* name) noexcept;

// The exported registration entry point (registration.cpp).
void register_platform_functions(PlatformRegistry* registry, PyObject* platform_fns) noexcept;

}  // namespace vorn::pfnlink
