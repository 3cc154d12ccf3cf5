// The hooks the bridge installs on registries: pre-call, free, and the generic factory.
#include "common/compat.hpp"
#include "vorn/pfnlink.hpp"

namespace vorn::pfnlink {

CurrentCall& current_call() noexcept {
    thread_local CurrentCall record;
    return record;
}

void pre_call_hook(PlatformRegistry* registry, const char* name, VornType** type_args,
                   size_t n_type_args) noexcept {
    // No lock and no Python object: the runtime may call this from any thread.
    CurrentCall& record = current_call();
    record.registry = registry;
    record.name = name;
    record.type_args = type_args;
    record.n_type_args = n_type_args;
}

PlatformFn python_generic_factory(VornType**, size_t) noexcept {
    PyGILState_STATE gil = PyGILState_Ensure();
    PyGILState_Release(gil);
    return python_platform_fn;
}

void on_free_hook(PlatformRegistry* registry) noexcept {
    // While the interpreter shuts down the module's namespace is being cleared and
    // other threads can no longer take the lock; the states go with the interpreter.
    if (compat::is_finalizing()) return;
    PyGILState_STATE gil = PyGILState_Ensure();
    {
        Ref states = Ref::steal(global(str<"_dispatch_states">()));
        Ref key = Ref::steal(PyLong_FromVoidPtr(registry));
        Ref dropped;
        if (states && key)
            dropped = Ref::steal(PyObject_CallMethodObjArgs(states.get(), str<"pop">(), key.get(),
                                                            Py_None, nullptr));
        if (!dropped) report_unraisable("vorn._pfnlink._on_free_hook", "_on_free_hook", nullptr);
        forget_target(registry);
    }
    PyGILState_Release(gil);
}

void report_unraisable(const char* context, const char* function, PyObject* during) noexcept {
    // A traceback entry for the hook itself, so that the report shows where it failed.
    add_traceback(function, kModuleName);
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    if (tb && value) PyException_SetTraceback(value, tb);
    // Chained to the exception being handled, as `raise` inside `except` would.
    if (value && during && during != value) PyException_SetContext(value, Py_NewRef(during));
    // Printed directly rather than through PyErr_Print, which would end the process
    // for a SystemExit.
    PyErr_Display(type, value, tb);
    Ref where = Ref::steal(PyUnicode_FromString(context));
    PyErr_Restore(type, value, tb);
    PyErr_WriteUnraisable(where.get() ? where.get() : Py_None);
}

}  // namespace vorn::pfnlink
