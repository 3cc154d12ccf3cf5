// Registration of platform functions: the exported register_platform_functions and
// the typed registration it uses.
#include "vorn/pfnlink.hpp"

#include <cstdlib>
#include <cstring>

namespace vorn::pfnlink {
namespace {

// A strdup'ed copy of bytes `name` for the registry, or null with TypeError for None.
char* registry_name(PyObject* name) noexcept {
    if (name == Py_None) {
        PyErr_SetString(PyExc_TypeError, "expected bytes, NoneType found");
        return nullptr;
    }
    char* copy = strdup(PyBytes_AS_STRING(name));
    if (!copy) PyErr_NoMemory();
    return copy;
}

// `description.get(key)` (default None). New reference.
PyObject* get(PyObject* description, PyObject* key) noexcept {
    return PyObject_CallMethodObjArgs(description, str<"get">(), key, nullptr);
}

// The type handles of a typed registration: the input array (malloc'ed, as the
// registry receives it) and the output, all released when it goes.
struct TypeArray {
    VornType** items = nullptr;
    size_t count = 0;
    TypeHandle output;
    ~TypeArray() {
        for (size_t i = 0; i < count; ++i) TypeHandle released(items[i]);
        std::free(items);
    }
};

int register_typed(PlatformRegistry* registry, PyObject* name, PlatformFn fn, bool is_async,
                   PyObject* inputs, PyObject* output) noexcept {
    if (inputs == Py_None || output == Py_None) {
        char* copy = registry_name(name);
        if (!copy) return -1;
        platform_registry_add(registry, copy, fn, is_async);
        return 0;
    }
    Py_ssize_t n = PyObject_Length(inputs);
    if (n < 0) return -1;
    TypeArray types;
    if (n > 0) {
        types.items = static_cast<VornType**>(std::calloc(static_cast<size_t>(n), sizeof(VornType*)));
        if (!types.items) {
            PyErr_NoMemory();
            return -1;
        }
        types.count = static_cast<size_t>(n);
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        // Item access as `inputs[i]`: any object indexable by int serves.
        Ref index = Ref::steal(PyLong_FromSsize_t(i));
        Ref input = index ? Ref::steal(PyObject_GetItem(inputs, index.get())) : Ref();
        if (!input) return -1;
        types.items[i] = conversions.py_type_to_c(input.get());
        if (!types.items[i]) return -1;
    }
    types.output.reset(conversions.py_type_to_c(output));
    if (!types.output) return -1;
    char* copy = registry_name(name);
    if (!copy) return -1;
    platform_registry_add_typed(registry, copy, fn, is_async, types.items, types.count, types.output.get());
    return 0;
}

// Registers one description; 0, or -1 with an exception set.
int register_one(PlatformRegistry* registry, PyObject* description, PyObject* direct,
                 PyObject* generic) noexcept {
    Ref raw_name = Ref::steal(PyObject_GetItem(description, str<"name">()));
    if (!raw_name) return -1;
    Ref name = Ref::steal(PyObject_CallMethod(raw_name.get(), "encode", "s", "utf-8"));
    if (!name) return -1;
    if (name.get() != Py_None && !PyBytes_CheckExact(name.get())) {
        PyErr_Format(PyExc_TypeError, "Expected %s, got %.200s", "bytes", Py_TYPE(name.get())->tp_name);
        return -1;
    }
    Ref sync = Ref::steal(PyUnicode_FromString("sync"));
    if (!sync) return -1;
    Ref kind = Ref::steal(PyObject_CallMethodObjArgs(description, str<"get">(), str<"type">(),
                                                     sync.get(), nullptr));
    if (!kind) return -1;
    Ref is_async = Ref::steal(PyObject_RichCompare(kind.get(), str<"async">(), Py_EQ));
    if (!is_async) return -1;

    int generic_fn = PySequence_Contains(description, str<"type_parameters">());
    if (generic_fn < 0) return -1;
    if (generic_fn) {
        Ref factory = Ref::steal(get(description, str<"c_factory">()));
        if (!factory) return -1;
        GenericFactory c_factory = python_generic_factory;
        if (factory.get() == Py_None) {
            Ref fn = Ref::steal(PyObject_GetItem(description, str<"fn">()));
            if (!fn) return -1;
            Ref entry = Ref::steal(PyTuple_Pack(entry_item::kCount, fn.get(), is_async.get()));
            if (!entry || PyObject_SetItem(generic, name.get(), entry.get()) < 0) return -1;
        } else {
            c_factory = reinterpret_cast<GenericFactory>(
                PyCapsule_GetPointer(factory.get(), "vorn_generic_factory"));
            if (!c_factory) return -1;
        }
        // The name is copied before the flag's truth is taken, as the call reads them.
        char* copy = registry_name(name.get());
        if (!copy) return -1;
        int truth = PyObject_IsTrue(is_async.get());
        if (truth < 0) {
            std::free(copy);
            return -1;
        }
        platform_registry_add_generic(registry, copy, c_factory, truth != 0);
        return 0;
    }

    Ref callback = Ref::steal(get(description, str<"c_callback">()));
    if (!callback) return -1;
    PlatformFn fn_ptr = python_platform_fn;
    if (callback.get() == Py_None) {
        Ref fn = Ref::steal(PyObject_GetItem(description, str<"fn">()));
        if (!fn) return -1;
        Ref entry = Ref::steal(PyTuple_Pack(entry_item::kCount, fn.get(), is_async.get()));
        if (!entry || PyObject_SetItem(direct, name.get(), entry.get()) < 0) return -1;
    } else {
        fn_ptr = reinterpret_cast<PlatformFn>(PyCapsule_GetPointer(callback.get(), "vorn_platform_fn"));
        if (!fn_ptr) return -1;
    }
    int truth = PyObject_IsTrue(is_async.get());
    if (truth < 0) return -1;
    Ref inputs = Ref::steal(get(description, str<"inputs">()));
    if (!inputs) return -1;
    Ref output = Ref::steal(get(description, str<"output">()));
    if (!output) return -1;
    return register_typed(registry, name.get(), fn_ptr, truth != 0, inputs.get(), output.get());
}

}  // namespace

void register_platform_functions(PlatformRegistry* registry, PyObject* platform_fns) noexcept {
    if (!registry) {
        PyErr_SetString(PyExc_ValueError, "register_platform_functions: the registry is NULL");
        return;
    }
    if (platform_fns != Py_None && !PyList_Check(platform_fns)) {
        PyErr_Format(PyExc_TypeError, "platform_fns must be a list, not %.200s",
                     Py_TYPE(platform_fns)->tp_name);
        return;
    }
    Ref direct = Ref::steal(PyDict_New());
    Ref generic = Ref::steal(PyDict_New());
    Ref cache = Ref::steal(PyDict_New());
    if (!direct || !generic || !cache) return;
    Ref state = Ref::steal(PyTuple_Pack(state_item::kCount, direct.get(), generic.get(), cache.get(), platform_fns));
    Ref states = Ref::steal(global(str<"_dispatch_states">()));
    Ref key = Ref::steal(registry_key(registry));
    if (!state || !states || !key || PyObject_SetItem(states.get(), key.get(), state.get()) < 0) return;
    registry->pre_call = pre_call_hook;
    registry->on_free = on_free_hook;
    if (platform_fns == Py_None) {
        PyErr_SetString(PyExc_TypeError, "'NoneType' object is not iterable");
        return;
    }
    // Registration stops at the first failure; earlier functions stay registered.
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(platform_fns); ++i) {
        Ref description = Ref::borrow(PyList_GET_ITEM(platform_fns, i));
        if (register_one(registry, description.get(), direct.get(), generic.get()) < 0) return;
    }
}

}  // namespace vorn::pfnlink
