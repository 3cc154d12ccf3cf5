// The stand-in bridge's Python C API helpers: recursion guard, argument parsing and
// __pyx_capi__ capsules.
#include "py_support.hpp"

#include <pthread.h>

#include <cstdint>
#include <cstring>

namespace vornc_bridge {
namespace {

// Lowest address a walk may reach on this thread, keeping a margin of its stack.
std::uintptr_t stack_floor() noexcept {
    thread_local std::uintptr_t floor = [] {
        constexpr std::uintptr_t kMargin = 256 * 1024;
        pthread_attr_t attr;
        std::uintptr_t low = 0;
        if (pthread_getattr_np(pthread_self(), &attr) == 0) {
            void* addr = nullptr;
            size_t size = 0;
            if (pthread_attr_getstack(&attr, &addr, &size) == 0 && size > 0)
                low = reinterpret_cast<std::uintptr_t>(addr) + (size > 2 * kMargin ? kMargin : size / 2);
            pthread_attr_destroy(&attr);
        }
        return low;
    }();
    return floor;
}

}  // namespace

RecursionGuard::RecursionGuard(const char* where) noexcept {
    char probe;
    if (reinterpret_cast<std::uintptr_t>(&probe) < stack_floor()) {
        PyErr_Format(PyExc_RecursionError, "maximum recursion depth exceeded%s", where);
        return;
    }
    entered_ = Py_EnterRecursiveCall(where) == 0;
}

int check_count(const char* function, Py_ssize_t nargs, Py_ssize_t min, Py_ssize_t max) noexcept {
    if (nargs >= min && nargs <= max) return 0;
    PyErr_Format(PyExc_TypeError, "%s() takes %s %zd positional argument%s (%zd given)", function,
                 min == max ? "exactly" : nargs < min ? "at least" : "at most", nargs < min ? min : max,
                 (nargs < min ? min : max) == 1 ? "" : "s", nargs);
    return -1;
}

int parse_args(const Params& params, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
               PyObject** out) noexcept {
    if (nargs > params.count) return check_count(params.function, nargs, params.required, params.count);
    for (int i = 0; i < params.count; ++i) out[i] = i < nargs ? args[i] : nullptr;
    Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        int found = -1;
        for (int i = 0; i < params.count && found < 0; ++i) {
            if (PyUnicode_CompareWithASCIIString(key, params.names[i]) == 0) found = i;
        }
        if (found < 0) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", params.function, key);
            return -1;
        }
        if (out[found]) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", params.function,
                         params.names[found]);
            return -1;
        }
        out[found] = args[nargs + k];
    }
    for (int i = 0; i < params.count; ++i) {
        if (out[i]) continue;
        if (i < params.required) {
            PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s'", params.function, params.names[i]);
            return -1;
        }
        out[i] = Py_None;
    }
    return 0;
}

void* import_capi(const char* module, const char* function, const char* signature) noexcept {
    Ref imported = Ref::steal(PyImport_ImportModule(module));
    if (!imported) return nullptr;
    Ref table = Ref::steal(PyObject_GetAttrString(imported.get(), "__pyx_capi__"));
    if (!table) return nullptr;
    Ref capsule = Ref::steal(PyMapping_GetItemString(table.get(), function));
    if (!capsule) return nullptr;
    return PyCapsule_GetPointer(capsule.get(), signature);
}

int export_capi(PyObject* module, const char* function, void* fn, const char* signature) noexcept {
    Ref table = Ref::steal(PyObject_GetAttrString(module, "__pyx_capi__"));
    if (!table) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        table = Ref::steal(PyDict_New());
        if (!table || PyObject_SetAttrString(module, "__pyx_capi__", table.get()) < 0) return -1;
    }
    Ref capsule = Ref::steal(PyCapsule_New(fn, signature, nullptr));
    if (!capsule) return -1;
    return PyDict_SetItemString(table.get(), function, capsule.get());
}

}  // namespace vornc_bridge
