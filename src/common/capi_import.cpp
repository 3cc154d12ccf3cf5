// Import and export of C functions through `__pyx_capi__` capsules.
#include "common/capi_import.hpp"

#include <cstring>

namespace vorn {

PyObject* import_capi_table(const char* module_name) noexcept {
    Ref module = Ref::steal(PyImport_ImportModule(module_name));
    if (!module) return nullptr;
    return PyObject_GetAttrString(module.get(), "__pyx_capi__");
}

void* capi_function(PyObject* table, const char* module_name, const char* function,
                    const char* signature) noexcept {
    Ref capsule = Ref::steal(PyMapping_GetItemString(table, function));
    if (!capsule) {
        if (PyErr_ExceptionMatches(PyExc_KeyError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_ImportError, "%.200s does not export expected C function %.200s",
                         module_name, function);
        }
        return nullptr;
    }
    if (!PyCapsule_CheckExact(capsule.get())) {
        PyErr_Format(PyExc_TypeError, "C function %.200s.%.200s is not a capsule", module_name,
                     function);
        return nullptr;
    }
    const char* actual = PyCapsule_GetName(capsule.get());
    if (!actual || std::strcmp(actual, signature) != 0) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError,
                     "C function %.200s.%.200s has wrong signature (expected %.500s, got %.500s)",
                     module_name, function, signature, actual ? actual : "(null)");
        return nullptr;
    }
    return PyCapsule_GetPointer(capsule.get(), signature);
}

int export_capi_function(PyObject* module, const char* function, void* fn,
                         const char* signature) noexcept {
    Ref table;
    if (PyObject_HasAttrString(module, "__pyx_capi__")) {
        table = Ref::steal(PyObject_GetAttrString(module, "__pyx_capi__"));
    } else {
        table = Ref::steal(PyDict_New());
        if (table && PyObject_SetAttrString(module, "__pyx_capi__", table.get()) < 0) return -1;
    }
    if (!table) return -1;
    // The capsule's name must outlive it: signatures are string literals.
    Ref capsule = Ref::steal(PyCapsule_New(fn, signature, nullptr));
    if (!capsule) return -1;
    return PyDict_SetItemString(table.get(), function, capsule.get());
}

}  // namespace vorn
