// `from <module> import <names>` for start-up and the builders, with the
// "cannot import name" ImportError for a missing name.
#include "vorn/utils/sortkit.hpp"

namespace vorn::sortkit {

int import_from(const char* from, std::initializer_list<const char*> names, PyObject* bind_into) noexcept {
    Ref fromlist = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(names.size())));
    if (!fromlist) return -1;
    Py_ssize_t i = 0;
    for (const char* n : names) {
        PyObject* s = PyUnicode_InternFromString(n);
        if (!s) return -1;
        PyTuple_SET_ITEM(fromlist.get(), i++, s);
    }
    Ref module_name = Ref::steal(PyUnicode_FromString(from));
    if (!module_name) return -1;
    Ref source = Ref::steal(
        PyImport_ImportModuleLevelObject(module_name.get(), globals(), nullptr, fromlist.get(), 0));
    if (!source) return -1;
    for (i = 0; i < PyTuple_GET_SIZE(fromlist.get()); ++i) {
        PyObject* n = PyTuple_GET_ITEM(fromlist.get(), i);
        Ref value = Ref::steal(PyObject_GetAttr(source.get(), n));
        if (!value) {
            if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
                PyErr_Clear();
                PyErr_Format(PyExc_ImportError, "cannot import name %S", n);
            }
            return -1;
        }
        if (bind_into && PyObject_SetAttr(bind_into, n, value.get()) < 0) return -1;
    }
    return 0;
}

}  // namespace vorn::sortkit
