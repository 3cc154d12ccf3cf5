// Start-up of vorn._pfnlink: the exported registration function, the conversion
// functions of vorn._vornc_bridge, asyncio, and the dispatch state.
#include "vorn/pfnlink.hpp"

#include "common/function.hpp"

namespace vorn::pfnlink {

Conversions conversions{};

namespace {

constexpr const char* kDoc =
    "Platform function bridge: enables vorn-c to call Python platform functions.\n"
    "\n"
    "Uses the same trampoline pattern as the C runtime's WebAssembly bridge:\n"
    "1. A pre_call hook stores the platform function name before each invocation\n"
    "2. A single shared C callback dispatches to the correct Python function\n"
    "3. Generic platform functions are specialized lazily on first call\n"
    "\n"
    "The pre_call hook is set on the PlatformRegistry directly, because this module's\n"
    "declarations treat that record as opaque to break a circular dependency.\n";

PyObject* clear_platform_state_impl(NativeFunction*, PyObject* const*) noexcept {
    Ref states = Ref::steal(global(str<"_dispatch_states">()));
    if (!states) return nullptr;
    forget_target(nullptr);
    Ref r = Ref::steal(PyObject_CallMethodNoArgs(states.get(), str<"clear">()));
    if (!r) return nullptr;
    Py_RETURN_NONE;
}

const FunctionSpec clear_platform_state_spec{
    "clear_platform_state", "clear_platform_state", kModuleName,
    "Clear all platform function state. For testing.", 0, 0, {}, clear_platform_state_impl};

int bind_new(PyObject* module, const char* name, PyObject* value) noexcept {
    Ref owned = Ref::steal(value);
    if (!owned) return -1;
    return PyObject_SetAttrString(module, name, owned.get());
}

int exec_pfnlink(PyObject* module, PyObject*) noexcept {
    if (ready_function_type() < 0) return -1;
    if (export_capi_function(module, "register_platform_functions",
                             reinterpret_cast<void*>(register_platform_functions),
                             "void (PlatformRegistry *, PyObject *)") < 0)
        return -1;
    if (bind_conversions(conversions, true) < 0) return -1;
    if (bind_new(module, "asyncio", PyImport_ImportModule("asyncio")) < 0) return -1;
    if (bind_new(module, "_dispatch_states", PyDict_New()) < 0) return -1;
    current_call() = CurrentCall{};
    if (PyObject_SetAttrString(module, "_event_loop", Py_None) < 0) return -1;
    // Event loops of threads other than the main thread, one per thread.
    Ref threading = Ref::steal(PyImport_ImportModule("threading"));
    if (!threading) return -1;
    if (bind_new(module, "_thread_event_loops", PyObject_CallMethod(threading.get(), "local", nullptr)) < 0)
        return -1;
    return bind_new(module, "clear_platform_state", make_function(clear_platform_state_spec).release());
}

}  // namespace

ModuleSetup module_setup{"_pfnlink", kModuleName, kDoc, exec_pfnlink};

}  // namespace vorn::pfnlink

PyMODINIT_FUNC PyInit__pfnlink() { return vorn::init_module<vorn::pfnlink::module_setup>(); }
