// The vorn._vornc_bridge module: start-up, the __pyx_capi__ capsules of the four
// conversion functions, and the live-handle counts.
#include "bridge.hpp"

#include "common/capi_import.hpp"
#include "common/function.hpp"
#include "common/module.hpp"

using vorn::Ref;

namespace vornc_bridge {
namespace {

constexpr const char* kModule = "vorn._vornc_bridge";

int publish_capi(PyObject* module) noexcept {
    if (vorn::export_capi_function(module, "py_type_to_c", reinterpret_cast<void*>(py_type_to_c),
                                   "VornType *(PyObject *)") < 0 ||
        vorn::export_capi_function(module, "py_value_to_c", reinterpret_cast<void*>(py_value_to_c),
                                   "VornValue *(PyObject *, VornType *)") < 0 ||
        vorn::export_capi_function(module, "c_value_to_py", reinterpret_cast<void*>(c_value_to_py),
                                   "PyObject *(VornValue *, VornType *)") < 0 ||
        vorn::export_capi_function(module, "_c_type_tag_to_py_type", reinterpret_cast<void*>(c_type_to_py),
                                   "PyObject *(VornType *)") < 0)
        return -1;
    return 0;
}

PyObject* live_types(vorn::NativeFunction*, PyObject* const*) noexcept { return PyLong_FromLong(vorn_live_types()); }

PyObject* live_values(vorn::NativeFunction*, PyObject* const*) noexcept {
    return PyLong_FromLong(vorn_live_values());
}

PyObject* live_handles(vorn::NativeFunction*, PyObject* const*) noexcept {
    return Py_BuildValue("(ll)", vorn_live_types(), vorn_live_values());
}

const vorn::FunctionSpec kFunctions[] = {
    {"live_types", "live_types", kModule, "Number of runtime type handles alive.", 0, 0, {}, live_types},
    {"live_values", "live_values", kModule, "Number of runtime value handles alive.", 0, 0, {}, live_values},
    {"live_handles", "live_handles", kModule, "(live types, live values) of the runtime.", 0, 0, {}, live_handles},
};

int exec_bridge(PyObject* module, PyObject*) noexcept {
    if (vorn::ready_function_type() < 0) return -1;
    if (import_python_classes() < 0) return -1;
    if (publish_capi(module) < 0) return -1;
    if (add_handle_types(module) < 0 || add_registry_type(module) < 0 || add_testing_module(module) < 0) return -1;
    for (const vorn::FunctionSpec& spec : kFunctions) {
        Ref fn = vorn::make_function(spec);
        if (!fn || PyModule_AddObjectRef(module, spec.name, fn.get()) < 0) return -1;
    }
    return 0;
}

const char kDoc[] =
    "Conversions between Python values of vorn.types and handles of the Vorn C runtime.\n"
    "\n"
    "The four conversion functions are exported as C functions in __pyx_capi__.\n"
    "CValue and CType hold runtime handles; Registry drives a runtime platform\n"
    "registry; live_types() and live_values() count the handles alive.";

vorn::ModuleSetup setup{"_vornc_bridge", kModule, kDoc, exec_bridge};

}  // namespace
}  // namespace vornc_bridge

PyMODINIT_FUNC PyInit__vornc_bridge() { return vorn::init_module<vornc_bridge::setup>(); }
