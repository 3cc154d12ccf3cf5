// Function values that carry a Python callable across the runtime and back.
#include "bridge.hpp"

namespace vornc_bridge {
namespace {

// Runs when the runtime frees the value, on whatever thread that happens.
void release_callable(void* payload) {
    if (!Py_IsInitialized()) return;  // the interpreter is gone: nothing to drop
    PyGILState_STATE gil = PyGILState_Ensure();
    Py_DECREF(static_cast<PyObject*>(payload));
    PyGILState_Release(gil);
}

}  // namespace

VornValue* wrap_callable(PyObject* callable) noexcept {
    if (!PyCallable_Check(callable)) {
        PyErr_Format(PyExc_TypeError, "expected a callable for a Function value, got %.200s",
                     Py_TYPE(callable)->tp_name);
        return nullptr;
    }
    VornValue* v = vorn_value_function(Py_NewRef(callable), release_callable);
    if (!v) PyErr_NoMemory();
    return v;
}

PyObject* wrapped_callable(const VornValue* value) noexcept {
    void (*release)(void*) = nullptr;
    void* payload = vorn_value_function_payload(value, &release);
    return release == release_callable ? static_cast<PyObject*>(payload) : nullptr;
}

}  // namespace vornc_bridge
