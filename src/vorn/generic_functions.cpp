// Lazy specialisation of generic platform functions, cached per dispatch state by
// function name and the addresses of the call's type-argument handles.
#include "vorn/pfnlink.hpp"

namespace vorn::pfnlink {

PyObject* specialize_generic(PyObject* state, PyObject* name, const CurrentCall& call) noexcept {
    // Read from the caller's copy of the record: the factory and the type conversions
    // run Python code, which may make platform calls of its own on this thread.
    VornType* const* type_args = call.type_args;
    Py_ssize_t n = type_args ? static_cast<Py_ssize_t>(call.n_type_args) : 0;
    Ref addresses = Ref::steal(PyTuple_New(n));
    if (!addresses) return nullptr;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* address = PyLong_FromVoidPtr(type_args[i]);
        if (!address) return nullptr;
        PyTuple_SET_ITEM(addresses.get(), i, address);
    }
    Ref key = Ref::steal(PyTuple_Pack(2, name, addresses.get()));
    Ref cache = Ref::steal(sequence_item(state, state_item::kCache));
    if (!key || !cache) return nullptr;
    Ref cached = Ref::steal(mapping_get(cache.get(), key.get()));
    if (!cached) return nullptr;
    if (cached.get() != Py_None) return cached.release();  // None reads as a miss

    Ref generic = Ref::steal(sequence_item(state, state_item::kGeneric));
    Ref fns = Ref::steal(sequence_item(state, state_item::kPlatformFns));
    if (!generic || !fns) return nullptr;
    Ref entry = Ref::steal(PyObject_GetItem(generic.get(), name));
    if (!entry) return nullptr;
    Ref factory = Ref::steal(sequence_item(entry.get(), entry_item::kCallable));
    if (!factory) return nullptr;

    // factory(platform_fns, *type_arguments)
    Ref call_args = Ref::steal(PyTuple_New(n + 1));
    if (!call_args) return nullptr;
    PyTuple_SET_ITEM(call_args.get(), 0, fns.new_ref());
    for (Py_ssize_t i = 0; i < n; ++i) {
        VornType* t = type_args[i] ? type_args[i] : &vorn_null_type;
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
