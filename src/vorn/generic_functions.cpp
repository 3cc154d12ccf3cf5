// Lazy specialisation of generic platform functions, cached per dispatch state by
// function name and the addresses of the call's type-argument handles.
#include "vorn/pfnlink.hpp"

namespace vorn::pfnlink {

PyObject* specialize_generic(PyObject* state, PyObject* name) noexcept {
    const CurrentCall& record = current_call();
    Ref addresses = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(record.n_type_args)));
    if (!addresses) return nullptr;
    for (size_t i = 0; i < record.n_type_args; ++i) {
        PyObject* address = PyLong_FromVoidPtr(record.type_args ? record.type_args[i] : nullptr);
        if (!address) return nullptr;
        PyTuple_SET_ITEM(addresses.get(), static_cast<Py_ssize_t>(i), address);
    }
    Ref key = Ref::steal(PyTuple_Pack(2, name, addresses.get()));
    Ref cache = Ref::steal(PySequence_GetItem(state, 2));
    if (!key || !cache) return nullptr;
    Ref cached = Ref::steal(PyObject_CallMethodObjArgs(cache.get(), str<"get">(), key.get(), nullptr));
    if (!cached) return nullptr;
    if (cached.get() != Py_None) return cached.release();  // None reads as a miss

    Ref generic = Ref::steal(PySequence_GetItem(state, 1));
    Ref fns = Ref::steal(PySequence_GetItem(state, 3));
    if (!generic || !fns) return nullptr;
    Ref entry = Ref::steal(PyObject_GetItem(generic.get(), name));
    if (!entry) return nullptr;
    Ref factory = Ref::steal(PySequence_GetItem(entry.get(), 0));
    if (!factory) return nullptr;

    // factory(platform_fns, *type_arguments)
    Py_ssize_t n = static_cast<Py_ssize_t>(record.n_type_args);
    Ref call_args = Ref::steal(PyTuple_New(n + 1));
    if (!call_args) return nullptr;
    PyTuple_SET_ITEM(call_args.get(), 0, fns.new_ref());
    for (Py_ssize_t i = 0; i < n; ++i) {
        VornType* t = record.type_args[i] ? record.type_args[i] : &vorn_null_type;
        PyObject* py_type = conversions.c_type_tag_to_py_type(t);
        if (!py_type) return nullptr;
        PyTuple_SET_ITEM(call_args.get(), i + 1, py_type);
    }
    Ref specialised = Ref::steal(PyObject_Call(factory.get(), call_args.get(), nullptr));
    if (!specialised) return nullptr;
    if (PyObject_SetItem(cache.get(), key.get(), specialised.get()) < 0) return nullptr;
    return specialised.release();
}

}  // namespace vorn::pfnlink
