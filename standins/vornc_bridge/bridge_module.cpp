// The vorn._vornc_bridge module: start-up, the __pyx_capi__ capsules of the four
// conversion functions, and the runtime's live counts.
#include "bridge.hpp"

namespace vornc_bridge {
namespace {

int publish_capi(PyObject* module) noexcept {
    if (export_capi(module, "py_type_to_c", reinterpret_cast<void*>(py_type_to_c), "VornType *(PyObject *)") < 0 ||
        export_capi(module, "py_value_to_c", reinterpret_cast<void*>(py_value_to_c),
                    "VornValue *(PyObject *, VornType *)") < 0 ||
        export_capi(module, "c_value_to_py", reinterpret_cast<void*>(c_value_to_py),
                    "PyObject *(VornValue *, VornType *)") < 0 ||
        export_capi(module, "_c_type_tag_to_py_type", reinterpret_cast<void*>(c_type_to_py),
                    "PyObject *(VornType *)") < 0)
        return -1;
    return 0;
}

PyObject* live_types(PyObject* const*) noexcept { return PyLong_FromLong(vorn_live_types()); }

PyObject* live_values(PyObject* const*) noexcept { return PyLong_FromLong(vorn_live_values()); }

PyObject* live_handles(PyObject* const*) noexcept {
    return Py_BuildValue("(ll)", vorn_live_types(), vorn_live_values());
}

// Heap buffers across the boundary that their holder has not freed yet.
PyObject* live_buffers(PyObject* const*) noexcept {
    VornLiveBuffers b;
    vorn_live_buffers(&b);
    return Py_BuildValue("{s:l,s:l,s:l,s:l}", "printed_texts", b.printed_texts, "error_messages",
                         b.error_messages, "registry_names", b.registry_names, "repeated_messages",
                         b.repeated_messages);
}

PyMethodDef kMethods[] = {
    VORNC_FASTCALL("live_types", live_types, 0, 0, "Number of runtime type handles alive."),
    VORNC_FASTCALL("live_values", live_values, 0, 0, "Number of runtime value handles alive."),
    VORNC_FASTCALL("live_handles", live_handles, 0, 0, "(live types, live values) of the runtime."),
    VORNC_FASTCALL("live_buffers", live_buffers, 0, 0,
                   "Heap buffers that crossed the runtime boundary and are not freed yet: printed texts\n"
                   "handed to callers, error-result messages taken over, names held by registries;\n"
                   "and how often a message was handed over while already held."),
    {nullptr, nullptr, 0, nullptr},
};

const char kDoc[] =
    "Conversions between Python values of vorn.types and handles of the Vorn C runtime.\n"
    "\n"
    "A stand-in for vorn._vornc_bridge of the wider Vorn package, over the stand-in\n"
    "runtime libvorn_c_shared.so.0; it promises only what vorn's native modules use.\n"
    "\n"
    "The four conversion functions are exported as C functions in __pyx_capi__.\n"
    "CValue and CType hold runtime handles; Registry drives a runtime platform\n"
    "registry; live_types(), live_values() and live_buffers() count what is alive.";

PyModuleDef kModuleDef = {PyModuleDef_HEAD_INIT, "vorn._vornc_bridge", kDoc, -1, kMethods,
                          nullptr, nullptr, nullptr, nullptr};

}  // namespace
}  // namespace vornc_bridge

PyMODINIT_FUNC PyInit__vornc_bridge() {
    using namespace vornc_bridge;
    Ref module = Ref::steal(PyModule_Create(&kModuleDef));
    if (!module) return nullptr;
    if (import_python_classes() < 0 || publish_capi(module.get()) < 0 || add_handle_types(module.get()) < 0 ||
        add_registry_type(module.get()) < 0)
        return nullptr;
#ifdef VORN_TEST_HOOKS
    if (add_testing_module(module.get()) < 0) return nullptr;
#endif
    return module.release();
}
