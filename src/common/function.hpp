// The one native function-object type of the modules: module functions and every
// function the builders return. Named, documented, keyword-aware, bindable as a
// method, collectable, and callable from C without the generic call protocol.
#pragma once

#include "common/ref.hpp"

#include <cstddef>
#include <initializer_list>

namespace vorn {

struct NativeFunction;

// The C entry of a function: `args` holds exactly `spec->nparams` borrowed
// references, optional parameters already filled with None. Returns a new
// reference, or null with an exception set.
using NativeImpl = PyObject* (*)(NativeFunction* self, PyObject* const* args);

inline constexpr int kMaxParams = 4;
inline constexpr int kMaxState = 3;

// The parameters of a function: `count` names, the first `required` of them
// required, the rest optional and defaulting to None.
struct Params {
    int count;
    int required;
    const char* names[kMaxParams];
};

// Static description of one kind of function, shared by all its instances (so it
// must outlive them: define specs as statics). `name` and `qualname` are the initial
// __name__ and __qualname__; `module` the __module__; `doc` may be null. `flags` is
// opaque here: the owning module gives it its own meaning.
struct FunctionSpec {
    const char* name;
    const char* qualname;
    const char* module;
    const char* doc;
    int nparams;
    int nrequired;
    const char* params[kMaxParams];
    NativeImpl impl;
    unsigned flags = 0;
};

// The one way to describe a function: `FunctionSpec s = function_spec(...)`.
constexpr FunctionSpec function_spec(const char* name, const char* qualname, const char* module,
                                     const Params& params, NativeImpl impl, unsigned flags = 0,
                                     const char* doc = nullptr) {
    FunctionSpec s{name, qualname, module, doc, params.count, params.required, {}, impl, flags};
    for (int i = 0; i < params.count && i < kMaxParams; ++i) s.params[i] = params.names[i];
    return s;
}

struct NativeFunction {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    const FunctionSpec* spec;
    PyObject* name;       // __name__
    PyObject* qualname;   // __qualname__
    PyObject* module;     // __module__
    PyObject* doc;        // __doc__
    PyObject* dict;       // __dict__, made on first use
    PyObject* state[kMaxState];  // closure state, owned; null when unused
    uint64_t serial;      // this module's count of functions made when it was made: tells
                          // it from a later function at the same address
};

extern PyTypeObject NativeFunctionType;

// Readies the type; each module calls it once in its execute step.
int ready_function_type() noexcept;

// A new function of `spec` holding new references to `state` (at most kMaxState).
Ref make_function(const FunctionSpec& spec, std::initializer_list<PyObject*> state = {}) noexcept;

inline bool is_native_function(PyObject* o) noexcept { return Py_IS_TYPE(o, &NativeFunctionType); }

// Borrowed closure state `i` of a native function.
inline PyObject* function_state(PyObject* fn, int i) noexcept {
    return reinterpret_cast<NativeFunction*>(fn)->state[i];
}

// Calls `fn` with positional arguments. A native function whose arity fits is run
// through its C entry directly (no tuple, no argument parsing); anything else goes
// through vectorcall. Callers that recurse guard themselves (RecursionGuard).
inline PyObject* call_function(PyObject* fn, PyObject* const* args, Py_ssize_t nargs) noexcept {
    if (is_native_function(fn)) {
        auto* f = reinterpret_cast<NativeFunction*>(fn);
        const FunctionSpec* s = f->spec;
        if (nargs == s->nparams) return s->impl(f, args);
        if (nargs >= s->nrequired && nargs < s->nparams) {
            PyObject* full[kMaxParams];
            for (Py_ssize_t i = 0; i < nargs; ++i) full[i] = args[i];
            for (Py_ssize_t i = nargs; i < s->nparams; ++i) full[i] = Py_None;
            return s->impl(f, full);
        }
    }
    return PyObject_Vectorcall(fn, args, static_cast<size_t>(nargs), nullptr);
}

inline PyObject* call2(PyObject* fn, PyObject* x, PyObject* y) noexcept {
    PyObject* args[2] = {x, y};
    return call_function(fn, args, 2);
}

inline PyObject* call3(PyObject* fn, PyObject* x, PyObject* y, PyObject* z) noexcept {
    PyObject* args[3] = {x, y, z};
    return call_function(fn, args, 3);
}

}  // namespace vorn
