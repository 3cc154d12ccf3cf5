// Module create and execute steps shared by the three modules: one interpreter per
// process, one execution per process, a version warning, registration in
// sys.modules, and a failed import that leaves nothing behind.
#pragma once

#include "common/ref.hpp"

namespace vorn {

// One module's definition and process-wide state. `exec` runs the module's own
// steps after the shared ones; it returns 0, or -1 with an exception set.
struct ModuleSetup {
    PyModuleDef def;          // first member: the slots find the setup through it
    const char* short_name;   // "_sortkit"
    const char* full_name;    // "vorn.utils._sortkit"
    int (*exec)(PyObject* module, PyObject* globals);
    PyObject* module = nullptr;   // the executed module, owned for the life of the process
    PyObject* globals = nullptr;  // its dict
    int64_t interpreter_id = -1;  // recorded by the first create step

    PyModuleDef_Slot slots[4];

    ModuleSetup(const char* short_name, const char* full_name, const char* doc,
                int (*exec)(PyObject* module, PyObject* globals)) noexcept;

    // The execute step for `candidate`; 0, or -1 with an exception set.
    int execute(PyObject* candidate) noexcept;
};

// The execute slot of one module: the interpreter may run it on any module object,
// so it reaches its setup statically rather than through the module's definition.
template <ModuleSetup& S>
int execute_slot(PyObject* module) noexcept { return S.execute(module); }

// The module init function's result (multi-phase initialisation):
// `PyMODINIT_FUNC PyInit__x() { return vorn::init_module<setup>(); }`.
template <ModuleSetup& S>
PyObject* init_module() noexcept {
    S.slots[1] = {Py_mod_exec, reinterpret_cast<void*>(execute_slot<S>)};
    return PyModuleDef_Init(&S.def);
}

// Looks `name` up in `globals`, then in the built-ins; NameError when neither has it.
// Returns a new reference, or null with an exception set.
PyObject* lookup_global(PyObject* globals, PyObject* name) noexcept;

// Adds a traceback entry named `funcname` for the pending exception.
void add_traceback(const char* funcname, const char* filename) noexcept;

}  // namespace vorn
