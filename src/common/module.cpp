// The create and execute steps of multi-phase initialisation, written once for all
// three modules and parameterised by their names.
#include "common/module.hpp"

#include "common/strings.hpp"

#include <frameobject.h>

#include <cstddef>
#include <cstdio>

namespace vorn {
namespace {

ModuleSetup* setup_of(PyModuleDef* def) noexcept { return reinterpret_cast<ModuleSetup*>(def); }

// Copies spec.<from> into the module dict as <to>; a missing attribute is skipped,
// and so is None unless `allow_none`.
int copy_spec_attribute(PyObject* spec, PyObject* dict, const char* from, const char* to,
                        bool allow_none) noexcept {
    Ref value = Ref::steal(PyObject_GetAttrString(spec, from));
    if (!value) {
        if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
            PyErr_Clear();
            return 0;
        }
        return -1;
    }
    if (!allow_none && value.get() == Py_None) return 0;
    return PyDict_SetItemString(dict, to, value.get());
}

PyObject* module_create(PyObject* spec, PyModuleDef* def) noexcept {
    ModuleSetup* setup = setup_of(def);
    int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (setup->interpreter_id == -1) {
        setup->interpreter_id = current;
        if (current == -1) return nullptr;
    } else if (current != setup->interpreter_id) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one "
                        "interpreter per process.");
        return nullptr;
    }
    if (setup->module) return Py_NewRef(setup->module);

    Ref name = Ref::steal(PyObject_GetAttrString(spec, "name"));
    if (!name) return nullptr;
    Ref module = Ref::steal(PyModule_NewObject(name.get()));
    if (!module) return nullptr;
    PyObject* dict = PyModule_GetDict(module.get());
    if (!dict) return nullptr;
    if (copy_spec_attribute(spec, dict, "loader", "__loader__", true) < 0 ||
        copy_spec_attribute(spec, dict, "origin", "__file__", true) < 0 ||
        copy_spec_attribute(spec, dict, "parent", "__package__", true) < 0 ||
        copy_spec_attribute(spec, dict, "submodule_search_locations", "__path__", false) < 0)
        return nullptr;
    return module.release();
}

int warn_on_version_mismatch(const char* full_name) noexcept {
    int run_major = static_cast<int>((Py_Version >> 24) & 0xff);
    int run_minor = static_cast<int>((Py_Version >> 16) & 0xff);
    if (run_major == PY_MAJOR_VERSION && run_minor == PY_MINOR_VERSION) return 0;
    char message[200];
    std::snprintf(message, sizeof message,
                  "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                  PY_MAJOR_VERSION, PY_MINOR_VERSION, full_name, "does not match", run_major,
                  run_minor);
    return PyErr_WarnEx(nullptr, message, 1);
}

int register_in_sys_modules(PyObject* module, const char* full_name) noexcept {
    PyObject* modules = PyImport_GetModuleDict();
    Ref name = Ref::steal(PyUnicode_FromString(full_name));
    if (!name) return -1;
    int present = PyDict_Contains(modules, name.get());
    if (present < 0) return -1;
    if (present) return 0;
    return PyDict_SetItemString(modules, full_name, module);
}

int run_exec(ModuleSetup* setup, PyObject* module) noexcept {
    setup->module = Py_NewRef(module);
    setup->globals = PyModule_GetDict(module);
    if (!setup->globals) return -1;
    PyObject* builtins = PyImport_AddModule("builtins");  // borrowed
    if (!builtins || PyDict_SetItemString(setup->globals, "__builtins__", builtins) < 0) return -1;
    if (intern_strings() < 0 || warn_on_version_mismatch(setup->full_name) < 0) return -1;
    if (register_in_sys_modules(module, setup->full_name) < 0) return -1;
    return setup->exec(module, setup->globals);
}

}  // namespace

int ModuleSetup::execute(PyObject* candidate) noexcept {
    ModuleSetup* setup = this;
    if (setup->module) {
        if (setup->module == candidate) return 0;
        PyErr_Format(PyExc_RuntimeError,
                     "Module '%s' has already been imported. Re-initialisation is not supported.",
                     setup->short_name);
        return -1;
    }
    if (run_exec(setup, candidate) == 0) return 0;
    // Forget the module, so that a later import runs every step again.
    char entry[160];
    std::snprintf(entry, sizeof entry, "init %s", setup->full_name);
    if (PyErr_Occurred()) add_traceback(entry, setup->full_name);
    else PyErr_SetString(PyExc_ImportError, entry);
    Py_CLEAR(setup->module);
    setup->globals = nullptr;
    return -1;
}

ModuleSetup::ModuleSetup(const char* short_name_, const char* full_name_, const char* doc,
                         int (*exec_)(PyObject*, PyObject*)) noexcept
    : def{}, short_name(short_name_), full_name(full_name_), exec(exec_) {
    static_assert(offsetof(ModuleSetup, def) == 0);
    slots[0] = {Py_mod_create, reinterpret_cast<void*>(module_create)};
    slots[1] = {0, nullptr};  // the execute slot, set by init_module
#ifdef Py_mod_gil
    // The modules rely on the interpreter lock: a free-threaded interpreter keeps it
    // on while they are loaded.
    slots[2] = {Py_mod_gil, Py_MOD_GIL_USED};
#else
    slots[2] = {0, nullptr};
#endif
    slots[3] = {0, nullptr};
    def.m_base = PyModuleDef_HEAD_INIT;
    def.m_name = short_name_;
    def.m_doc = doc;
    def.m_size = 0;
    def.m_methods = nullptr;
    def.m_slots = slots;
}

PyObject* lookup_global(PyObject* globals, PyObject* name) noexcept {
    PyObject* value = PyDict_GetItemWithError(globals, name);
    if (value) return Py_NewRef(value);
    if (PyErr_Occurred()) return nullptr;
    PyObject* builtins = PyEval_GetBuiltins();
    if (builtins) {
        value = PyDict_GetItemWithError(builtins, name);
        if (value) return Py_NewRef(value);
        if (PyErr_Occurred()) return nullptr;
    }
    PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    return nullptr;
}

void add_traceback(const char* funcname, const char* filename) noexcept {
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyCodeObject* code = PyCode_NewEmpty(filename, funcname, 0);
    Ref globals = Ref::steal(PyDict_New());
    PyFrameObject* frame = nullptr;
    if (code && globals) frame = PyFrame_New(PyThreadState_Get(), code, globals.get(), nullptr);
    if (!frame) {
        // Keep the original exception; the extra entry is a courtesy.
        PyErr_Clear();
        Py_XDECREF(code);
        PyErr_Restore(type, value, tb);
        return;
    }
    PyErr_Restore(type, value, tb);
    PyTraceBack_Here(frame);
    Py_DECREF(frame);
    Py_DECREF(code);
}

}  // namespace vorn
