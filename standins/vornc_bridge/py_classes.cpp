// The Python classes the conversions make and recognise, bound once at start-up.
#include "bridge.hpp"

namespace vornc_bridge {

PyClasses py;

namespace {

int bind(PyObject* module, const char* name, PyObject** slot) noexcept {
    PyObject* value = PyObject_GetAttrString(module, name);
    if (!value) return -1;
    Py_XSETREF(*slot, value);
    return 0;
}

}  // namespace

int datetime_import() noexcept;

int import_python_classes() noexcept {
    Ref types = Ref::steal(PyImport_ImportModule("vorn.types.types"));
    if (!types) return -1;
    Ref values = Ref::steal(PyImport_ImportModule("vorn.types.values"));
    if (!values) return -1;
    if (bind(types.get(), "Type", &py.type) < 0 ||
        bind(types.get(), "RecursivePayload", &py.recursive_payload) < 0 ||
        bind(values.get(), "VornBlob", &py.blob) < 0 || bind(values.get(), "VornVector", &py.vector) < 0 ||
        bind(values.get(), "VornMatrix", &py.matrix) < 0 || bind(values.get(), "VornRef", &py.ref) < 0 ||
        bind(values.get(), "VornArray", &py.array) < 0 || bind(values.get(), "VornDict", &py.dict) < 0 ||
        bind(values.get(), "VornSet", &py.set) < 0)
        return -1;
    return datetime_import();
}

}  // namespace vornc_bridge
