// Registry: a Python-facing driver of one runtime platform registry, for tests,
// benchmarks and the tour. It registers descriptions through vorn._pfnlink's
// exported register_platform_functions and calls platform functions the way the
// runtime does, without holding the interpreter lock during the call.
#include "bridge.hpp"

#include "common/args.hpp"
#include "common/capi_import.hpp"
#include "common/function.hpp"

#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

using vorn::Ref;

namespace vornc_bridge {
namespace {

constexpr const char kRegisterSignature[] = "void (PlatformRegistry *, PyObject *)";
using RegisterFn = void (*)(PlatformRegistry*, PyObject*);

PyObject* g_platform_error = nullptr;  // vorn._vornc_bridge.PlatformError

struct RegistryObject {
    PyObject_HEAD
    PlatformRegistry* registry;  // owned until free(); null afterwards
};

RegistryObject* as_registry(PyObject* o) noexcept { return reinterpret_cast<RegistryObject*>(o); }

PlatformRegistry* live_registry(PyObject* o) noexcept {
    PlatformRegistry* r = as_registry(o)->registry;
    if (!r) PyErr_SetString(PyExc_ValueError, "the platform registry has been freed");
    return r;
}

// Bound on first use: vorn._pfnlink may be imported after this module.
RegisterFn register_function() noexcept {
    static RegisterFn fn = nullptr;
    if (!fn) {
        Ref table = Ref::steal(vorn::import_capi_table("vorn._pfnlink"));
        if (!table) return nullptr;
        fn = reinterpret_cast<RegisterFn>(
            vorn::capi_function(table.get(), "vorn._pfnlink", "register_platform_functions", kRegisterSignature));
    }
    return fn;
}

// A type for converting a Python argument that has none declared: Null for None,
// and the obvious kind for bool, int, float, str and bytes.
VornType* inferred_type(PyObject* arg) noexcept {
    VornKind kind;
    if (arg == Py_None) kind = VORN_NULL;
    else if (PyBool_Check(arg)) kind = VORN_BOOLEAN;
    else if (PyLong_Check(arg)) kind = VORN_INTEGER;
    else if (PyFloat_Check(arg)) kind = VORN_FLOAT;
    else if (PyUnicode_Check(arg)) kind = VORN_STRING;
    else if (PyBytes_Check(arg)) kind = VORN_BLOB;
    else {
        PyErr_Format(PyExc_TypeError, "no type for an argument of type %.200s: pass arg_types",
                     Py_TYPE(arg)->tp_name);
        return nullptr;
    }
    return vorn_type_scalar(kind);
}

// Everything one call needs, converted while the interpreter lock is held and
// released when it goes out of scope.
struct CallSetup {
    Ref name_bytes;
    const char* name = nullptr;
    std::vector<TypeHandle> given_types;   // arg_types as given (entries may be null)
    std::vector<ValueHandle> args;
    TypeHandle ret_type;                   // explicit, or the declared output
    std::vector<TypeHandle> type_args;
    std::vector<VornValue*> raw_args;
    std::vector<VornType*> raw_types;
    std::vector<VornType*> raw_type_args;
    bool pass_types = false;               // arg_types were given

    // A new type reference for `o`, or a null handle for None.
    static bool optional_type(PyObject* o, TypeHandle& out) noexcept {
        if (o == Py_None) return true;
        out.reset(type_from_py(o));
        return static_cast<bool>(out);
    }

    static bool type_list(PyObject* o, const char* what, std::vector<TypeHandle>& out) noexcept {
        if (o == Py_None) return true;
        Ref seq = Ref::steal(PySequence_Fast(o, what));
        if (!seq) return false;
        for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq.get()); ++i) {
            TypeHandle t;
            if (!optional_type(PySequence_Fast_GET_ITEM(seq.get(), i), t)) return false;
            out.push_back(std::move(t));
        }
        return true;
    }

    bool prepare(PlatformRegistry* registry, PyObject* const* a) noexcept {
        try {
            return prepare_or_throw(registry, a);
        } catch (...) {
            PyErr_NoMemory();
            return false;
        }
    }

    bool prepare_or_throw(PlatformRegistry* registry, PyObject* const* a) {
        // a: name, args, arg_types, ret_type, type_args
        if (!PyUnicode_Check(a[0])) {
            vorn::raise_argument_type("name", "str", a[0]);
            return false;
        }
        name_bytes = Ref::steal(PyUnicode_AsUTF8String(a[0]));
        if (!name_bytes) return false;
        name = PyBytes_AS_STRING(name_bytes.get());
        pass_types = a[2] != Py_None;
        if (!type_list(a[2], "arg_types must be a sequence", given_types)) return false;
        if (!optional_type(a[3], ret_type)) return false;
        if (!type_list(a[4], "type_args must be a sequence", type_args)) return false;
        for (const TypeHandle& t : type_args) {
            if (!t) {
                PyErr_SetString(PyExc_TypeError, "type_args must not hold None");
                return false;
            }
        }

        VornPlatformEntry entry{};
        ptrdiff_t found = vorn_platform_find(registry, name);
        bool typed = found >= 0 && vorn_platform_entry(registry, static_cast<size_t>(found), &entry) &&
                     entry.form == VORN_ENTRY_TYPED;
        if (!ret_type && typed && entry.output) ret_type.reset(vorn_type_retain(entry.output));

        Ref seq = Ref::steal(PySequence_Fast(a[1], "args must be a sequence"));
        if (!seq) return false;
        for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq.get()); ++i) {
            PyObject* arg = PySequence_Fast_GET_ITEM(seq.get(), i);
            size_t k = static_cast<size_t>(i);
            if (is_cvalue(arg)) {
                args.emplace_back(vorn_value_retain(cvalue_value(arg)));
                continue;
            }
            TypeHandle inferred;
            VornType* t = k < given_types.size() ? given_types[k].get() : nullptr;
            if (!t && typed && k < entry.n_inputs) t = entry.inputs[k];
            if (!t) {
                inferred.reset(inferred_type(arg));
                if (!inferred) return false;
                t = inferred.get();
            }
            ValueHandle v(py_value_to_c(arg, t));
            if (!v) return false;
            args.push_back(std::move(v));
        }
        for (const ValueHandle& v : args) raw_args.push_back(v.get());
        for (const TypeHandle& t : given_types) raw_types.push_back(t.get());
        for (const TypeHandle& t : type_args) raw_type_args.push_back(t.get());
        return true;
    }

    EvalResult call(PlatformRegistry* registry) noexcept {
        EvalResult r;
        Py_BEGIN_ALLOW_THREADS
        r = invoke(registry);
        Py_END_ALLOW_THREADS
        return r;
    }

    EvalResult invoke(PlatformRegistry* registry) noexcept {
        return vorn_platform_call(registry, name, raw_args.data(), raw_args.size(),
                                  pass_types ? raw_types.data() : nullptr, pass_types ? raw_types.size() : 0,
                                  ret_type.get(), raw_type_args.data(), raw_type_args.size());
    }

    // The Python result of a finished call; the result record is cleared.
    PyObject* result(EvalResult& r) noexcept {
        if (r.kind == VORN_EVAL_ERROR) {
            const char* text = r.message ? r.message : "";
            Ref message = Ref::steal(
                PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(std::strlen(text)), "replace"));
            vorn_eval_result_clear(&r);  // the message is ours to free
            if (message) PyErr_SetObject(g_platform_error, message.get());
            return nullptr;
        }
        if (r.kind != VORN_EVAL_OK || !r.value) {
            PyErr_Format(g_platform_error, "platform function returned a result of kind %d", static_cast<int>(r.kind));
            vorn_eval_result_clear(&r);
            return nullptr;
        }
        ValueHandle value(r.value);
        r = EvalResult{};
        if (ret_type) return c_value_to_py(value.get(), ret_type.get());
        VornKind kind = vorn_value_kind(value.get());
        if (kind <= VORN_BLOB) {
            TypeHandle scalar(vorn_type_scalar(kind));
            if (!scalar) return PyErr_NoMemory();
            return c_value_to_py(value.get(), scalar.get());
        }
        return make_cvalue(value.release(), nullptr);
    }
};

// ---- methods

PyObject* registry_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) noexcept {
    if (PyTuple_GET_SIZE(args) || (kwargs && PyDict_GET_SIZE(kwargs))) {
        PyErr_SetString(PyExc_TypeError, "Registry() takes no arguments");
        return nullptr;
    }
    PlatformRegistry* registry = platform_registry_new();
    if (!registry) return PyErr_NoMemory();
    auto* self = reinterpret_cast<RegistryObject*>(cls->tp_alloc(cls, 0));
    if (!self) {
        platform_registry_free(registry);
        return nullptr;
    }
    self->registry = registry;
    return reinterpret_cast<PyObject*>(self);
}

void registry_dealloc(PyObject* o) noexcept {
    RegistryObject* self = as_registry(o);
    if (self->registry) {
        PyObject *type, *value, *tb;
        PyErr_Fetch(&type, &value, &tb);  // the free hook may run Python code
        platform_registry_free(std::exchange(self->registry, nullptr));
        PyErr_Restore(type, value, tb);
    }
    Py_TYPE(o)->tp_free(o);
}

PyObject* registry_free(PyObject* o, PyObject*) noexcept {
    RegistryObject* self = as_registry(o);
    if (self->registry) platform_registry_free(std::exchange(self->registry, nullptr));
    Py_RETURN_NONE;
}

PyObject* registry_register(PyObject* o, PyObject* platform_fns) noexcept {
    PlatformRegistry* registry = live_registry(o);
    if (!registry) return nullptr;
    RegisterFn fn = register_function();
    if (!fn) return nullptr;
    fn(registry, platform_fns);
    if (PyErr_Occurred()) return nullptr;
    Py_RETURN_NONE;
}

// Vectorcall arguments with the keyword-only ret_type and type_args taken out (None
// when absent), leaving the rest for parse_arguments.
struct SplitArguments {
    std::vector<PyObject*> rest;
    Ref rest_names;
    PyObject* ret_type = Py_None;
    PyObject* type_args = Py_None;

    int split(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
        try {
            rest.assign(args, args + nargs);
            std::vector<PyObject*> names;
            for (Py_ssize_t k = 0; kwnames && k < PyTuple_GET_SIZE(kwnames); ++k) {
                PyObject* key = PyTuple_GET_ITEM(kwnames, k);
                PyObject* value = args[nargs + k];
                if (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, "type_args") == 0) {
                    type_args = value;
                } else if (PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, "ret_type") == 0) {
                    ret_type = value;
                } else {
                    names.push_back(key);
                    rest.push_back(value);
                }
            }
            if (names.empty()) return 0;
            rest_names = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(names.size())));
            if (!rest_names) return -1;
            for (size_t i = 0; i < names.size(); ++i)
                PyTuple_SET_ITEM(rest_names.get(), static_cast<Py_ssize_t>(i), Py_NewRef(names[i]));
            return 0;
        } catch (...) {
            PyErr_NoMemory();
            return -1;
        }
    }
};

const vorn::FunctionSpec kCallArgs{"call", "Registry.call", "vorn._vornc_bridge", nullptr, 3, 1,
                                   {"name", "args", "arg_types"}, nullptr};

PyObject* registry_call(PyObject* o, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    SplitArguments split;
    if (split.split(args, nargs, kwnames) < 0) return nullptr;
    PyObject* p[3];
    if (vorn::parse_arguments(kCallArgs, split.rest.data(), nargs, split.rest_names.get(), p) < 0) return nullptr;
    Ref empty = Ref::steal(PyTuple_New(0));
    if (!empty) return nullptr;
    PyObject* a[5] = {p[0], p[1] == Py_None ? empty.get() : p[1], p[2], split.ret_type, split.type_args};
    PlatformRegistry* registry = live_registry(o);
    if (!registry) return nullptr;
    CallSetup setup;
    if (!setup.prepare(registry, a)) return nullptr;
    EvalResult r = setup.call(registry);
    return setup.result(r);
}

const vorn::FunctionSpec kCallManyArgs{"call_many", "Registry.call_many", "vorn._vornc_bridge", nullptr, 4, 2,
                                       {"n", "name", "args", "arg_types"}, nullptr};

// n calls from a C loop, results dropped; stops at the first error and raises it.
PyObject* registry_call_many(PyObject* o, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    SplitArguments split;
    if (split.split(args, nargs, kwnames) < 0) return nullptr;
    PyObject* p[4];
    if (vorn::parse_arguments(kCallManyArgs, split.rest.data(), nargs, split.rest_names.get(), p) < 0)
        return nullptr;
    Py_ssize_t n = PyLong_AsSsize_t(p[0]);
    if (n == -1 && PyErr_Occurred()) return nullptr;
    Ref empty = Ref::steal(PyTuple_New(0));
    if (!empty) return nullptr;
    PyObject* a[5] = {p[1], p[2] == Py_None ? empty.get() : p[2], p[3], split.ret_type, split.type_args};
    PlatformRegistry* registry = live_registry(o);
    if (!registry) return nullptr;
    CallSetup setup;
    if (!setup.prepare(registry, a)) return nullptr;
    EvalResult failure{};
    Py_BEGIN_ALLOW_THREADS
    for (Py_ssize_t i = 0; i < n; ++i) {
        EvalResult r = setup.invoke(registry);
        if (r.kind != VORN_EVAL_OK) {
            failure = r;
            break;
        }
        vorn_eval_result_clear(&r);
    }
    Py_END_ALLOW_THREADS
    if (failure.kind != VORN_EVAL_OK) return setup.result(failure);
    Py_RETURN_NONE;
}

PyObject* type_list_to_py(VornType* const* types, size_t n) noexcept {
    Ref out = Ref::steal(PyList_New(static_cast<Py_ssize_t>(n)));
    if (!out) return nullptr;
    for (size_t i = 0; i < n; ++i) {
        PyObject* t = types[i] ? c_type_to_py(types[i]) : Py_NewRef(Py_None);
        if (!t) return nullptr;
        PyList_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), t);
    }
    return out.release();
}

// entries(): every registration in order, as dicts.
PyObject* registry_entries(PyObject* o, PyObject*) noexcept {
    PlatformRegistry* registry = live_registry(o);
    if (!registry) return nullptr;
    size_t n = vorn_platform_entry_count(registry);
    Ref out = Ref::steal(PyList_New(0));
    if (!out) return nullptr;
    static const char* const forms[] = {"plain", "typed", "generic"};
    for (size_t i = 0; i < n; ++i) {
        VornPlatformEntry e;
        if (!vorn_platform_entry(registry, i, &e)) break;
        bool typed = e.form == VORN_ENTRY_TYPED;
        Ref inputs = typed ? Ref::steal(type_list_to_py(e.inputs, e.n_inputs)) : Ref::borrow(Py_None);
        Ref output = typed && e.output ? Ref::steal(c_type_to_py(e.output)) : Ref::borrow(Py_None);
        if (!inputs || !output) return nullptr;
        void* fn = e.form == VORN_ENTRY_GENERIC ? reinterpret_cast<void*>(e.factory) : reinterpret_cast<void*>(e.fn);
        Ref item = Ref::steal(Py_BuildValue("{s:s,s:s,s:O,s:O,s:O,s:N}", "name", e.name, "form", forms[e.form],
                                            "async", e.is_async ? Py_True : Py_False, "inputs", inputs.get(),
                                            "output", output.get(), "fn", PyLong_FromVoidPtr(fn)));
        if (!item || PyList_Append(out.get(), item.get()) < 0) return nullptr;
    }
    return out.release();
}

PyObject* registry_address(PyObject* o, void*) noexcept {
    PlatformRegistry* r = as_registry(o)->registry;
    if (!r) Py_RETURN_NONE;
    return PyLong_FromVoidPtr(r);
}

PyObject* registry_freed(PyObject* o, void*) noexcept { return PyBool_FromLong(as_registry(o)->registry == nullptr); }

PyMethodDef registry_methods[] = {
    {"register", registry_register, METH_O,
     "register(platform_fns)\n\nRegisters descriptions through vorn._pfnlink.register_platform_functions."},
    {"call", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(registry_call)),
     METH_FASTCALL | METH_KEYWORDS,
     "call(name, args=(), arg_types=None, ret_type=None, *, type_args=None)\n\n"
     "Calls a platform function as the runtime does, with the interpreter lock released.\n"
     "Arguments are converted with arg_types, else the declared inputs, else a type read\n"
     "from the argument; the result with ret_type, else the declared output. An error\n"
     "result raises PlatformError with its message."},
    {"call_many", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(registry_call_many)),
     METH_FASTCALL | METH_KEYWORDS,
     "call_many(n, name, args=(), arg_types=None, *, ret_type=None, type_args=None)\n\n"
     "Calls a platform function n times from a C loop; results are dropped."},
    {"entries", registry_entries, METH_NOARGS, "Every registration in order, as dicts."},
    {"free", registry_free, METH_NOARGS, "Frees the registry (its on_free hook runs); idempotent."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef registry_getset[] = {
    {"address", registry_address, nullptr, "Address of the PlatformRegistry, or None once freed.", nullptr},
    {"freed", registry_freed, nullptr, "True once free() has run.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject RegistryType = [] {
    PyTypeObject t{};
    Py_SET_REFCNT(reinterpret_cast<PyObject*>(&t), 1);
    t.tp_name = "vorn._vornc_bridge.Registry";
    t.tp_basicsize = sizeof(RegistryObject);
    t.tp_dealloc = registry_dealloc;
    t.tp_flags = Py_TPFLAGS_DEFAULT;
    t.tp_doc = "Registry()\n\nA runtime platform registry, freed by free() or when collected.";
    t.tp_methods = registry_methods;
    t.tp_getset = registry_getset;
    t.tp_new = registry_new;
    return t;
}();

}  // namespace

int add_registry_type(PyObject* module) noexcept {
    if (PyType_Ready(&RegistryType) < 0) return -1;
    if (PyModule_AddObjectRef(module, "Registry", reinterpret_cast<PyObject*>(&RegistryType)) < 0) return -1;
    g_platform_error = PyErr_NewExceptionWithDoc("vorn._vornc_bridge.PlatformError",
                                                 "An error result of a platform call, with its message.",
                                                 PyExc_RuntimeError, nullptr);
    if (!g_platform_error) return -1;
    return PyModule_AddObjectRef(module, "PlatformError", g_platform_error);
}

}  // namespace vornc_bridge
