// Registry: a Python-facing driver of one runtime platform registry, for tests,
// benchmarks and the tour. It registers descriptions through vorn._pfnlink's
// exported register_platform_functions and calls platform functions the way the
// runtime does, without holding the interpreter lock during the call.
#include "bridge.hpp"


#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>


namespace vornc_bridge {
namespace {

constexpr const char kRegisterSignature[] = "void (PlatformRegistry *, PyObject *)";
using RegisterFn = void (*)(PlatformRegistry*, PyObject*);

PyObject* g_platform_error = nullptr;  // vorn._vornc_bridge.PlatformError

// A registry is held while calls run on it: free() during a call (from the called
// Python function, from the argument conversion, from another thread) marks it, and
// the last call to end frees it, so the runtime never works on a freed registry.
struct RegistryObject {
    PyObject_HEAD
    PlatformRegistry* registry;  // owned until freed; null afterwards
    bool free_requested;         // free() ran while calls were running
    long calls;                  // calls running on the registry
};

RegistryObject* as_registry(PyObject* o) noexcept { return reinterpret_cast<RegistryObject*>(o); }

PlatformRegistry* live_registry(PyObject* o) noexcept {
    RegistryObject* self = as_registry(o);
    if (!self->registry || self->free_requested) {
        PyErr_SetString(PyExc_ValueError, "the platform registry has been freed");
        return nullptr;
    }
    return self->registry;
}

// Frees the registry now; its free hook may run Python code, so a pending exception
// is kept aside meanwhile.
void free_now(RegistryObject* self) noexcept {
    PlatformRegistry* registry = std::exchange(self->registry, nullptr);
    if (!registry) return;
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    platform_registry_free(registry);
    PyErr_Restore(type, value, tb);
}

// Marks one call running on the registry for as long as it lives.
class CallHold {
public:
    explicit CallHold(RegistryObject* self) noexcept : self_(self) { ++self_->calls; }
    ~CallHold() {
        if (--self_->calls == 0 && self_->free_requested) free_now(self_);
    }
    CallHold(const CallHold&) = delete;
    CallHold& operator=(const CallHold&) = delete;

private:
    RegistryObject* self_;
};

// Bound on first use: vorn._pfnlink may be imported after this module.
RegisterFn register_function() noexcept {
    static RegisterFn fn = nullptr;
    if (!fn)
        fn = reinterpret_cast<RegisterFn>(
            import_capi("vorn._pfnlink", "register_platform_functions", kRegisterSignature));
    return fn;
}

// The type of a Python argument that has none declared: Null for None, and the
// obvious kind for bool, int, float, str and bytes.
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
    VornType* t = vorn_type_scalar(kind);
    if (!t) PyErr_NoMemory();
    return t;
}

// Everything one call needs, converted while the interpreter lock is held and
// released when it goes out of scope. Every handle it passes is its own reference,
// so nothing it uses goes with a registry freed meanwhile.
struct CallSetup {
    Ref name_bytes;
    const char* name = nullptr;
    std::vector<TypeHandle> arg_types;     // as given, or each argument's own type
    std::vector<ValueHandle> args;
    TypeHandle ret_type;                   // as given, or the declared output
    TypeHandle call_ret_type;              // what the function receives: ret_type, else Null
    std::vector<TypeHandle> type_args;
    std::vector<TypeHandle> declared;      // a typed registration's inputs
    std::vector<VornValue*> raw_args;
    std::vector<VornType*> raw_types;
    std::vector<VornType*> raw_type_args;

    // A new type reference for `o`, or a null handle for None.
    static bool optional_type(PyObject* o, TypeHandle& out) noexcept {
        if (o == Py_None) return true;
        out.reset(type_from_py(o));
        return static_cast<bool>(out);
    }

    static bool type_list(PyObject* o, const char* what, std::vector<TypeHandle>& out) {
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

    // Converts everything for a call on `o`'s registry; false with an exception set.
    // Conversions run Python code, which may free the registry: the caller checks it
    // again afterwards.
    bool prepare(PyObject* o, PyObject* const* a) noexcept {
        try {
            return prepare_or_throw(o, a);
        } catch (...) {
            PyErr_NoMemory();
            return false;
        }
    }

    bool prepare_or_throw(PyObject* o, PyObject* const* a) {
        // a: name, args, arg_types, ret_type, type_args
        if (!PyUnicode_Check(a[0])) {
            PyErr_Format(PyExc_TypeError, "Argument 'name' has incorrect type (expected str, got %.200s)",
                         Py_TYPE(a[0])->tp_name);
            return false;
        }
        name_bytes = Ref::steal(PyUnicode_AsUTF8String(a[0]));
        if (!name_bytes) return false;
        name = PyBytes_AS_STRING(name_bytes.get());
        bool given_types = a[2] != Py_None;
        if (!type_list(a[2], "arg_types must be a sequence", arg_types)) return false;
        if (!optional_type(a[3], ret_type)) return false;
        if (!type_list(a[4], "type_args must be a sequence", type_args)) return false;
        for (const TypeHandle& t : type_args) {
            if (!t) {
                PyErr_SetString(PyExc_TypeError, "type_args must not hold None");
                return false;
            }
        }
        // The declared types of a typed registration, retained before any Python
        // code runs.
        PlatformRegistry* registry = live_registry(o);
        if (!registry) return false;
        VornPlatformEntry entry{};
        ptrdiff_t found = vorn_platform_find(registry, name);
        if (found >= 0 && vorn_platform_entry(registry, static_cast<size_t>(found), &entry) &&
            entry.form == VORN_ENTRY_TYPED) {
            for (size_t i = 0; i < entry.n_inputs; ++i) declared.emplace_back(vorn_type_retain(entry.inputs[i]));
            if (!ret_type && entry.output) ret_type.reset(vorn_type_retain(entry.output));
        }
        call_ret_type.reset(vorn_type_retain(ret_type ? ret_type.get() : &vorn_null_type));

        Ref seq = Ref::steal(PySequence_Fast(a[1], "args must be a sequence"));
        if (!seq) return false;
        Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
        for (Py_ssize_t i = 0; i < n; ++i) {
            // Held: a conversion may change the sequence.
            Ref arg = Ref::borrow(PySequence_Fast_GET_ITEM(seq.get(), i));
            size_t k = static_cast<size_t>(i);
            TypeHandle own;  // the argument's own type, passed when none are given
            if (is_cvalue(arg.get())) {
                args.emplace_back(vorn_value_retain(cvalue_value(arg.get())));
                VornType* t = cvalue_type(arg.get());
                own.reset(vorn_type_retain(t ? t : &vorn_null_type));
            } else {
                VornType* t = k < arg_types.size() ? arg_types[k].get() : nullptr;
                if (!t && k < declared.size()) t = declared[k].get();
                if (t) {
                    own.reset(vorn_type_retain(t));
                } else {
                    own.reset(inferred_type(arg.get()));
                    if (!own) return false;
                }
                ValueHandle v(py_value_to_c(arg.get(), own.get()));
                if (!v) return false;
                args.push_back(std::move(v));
            }
            if (!given_types) arg_types.push_back(std::move(own));
        }
        for (const ValueHandle& v : args) raw_args.push_back(v.get());
        for (const TypeHandle& t : arg_types) raw_types.push_back(t.get());
        for (const TypeHandle& t : type_args) raw_type_args.push_back(t.get());
        return true;
    }

    EvalResult invoke(PlatformRegistry* registry) noexcept {
        return vorn_platform_call(registry, name, raw_args.data(), raw_args.size(), raw_types.data(),
                                  raw_types.size(), call_ret_type.get(), raw_type_args.data(), raw_type_args.size());
    }

    // The Python result of a finished call; the result record is cleared.
    PyObject* result(EvalResult& r) noexcept {
        if (r.kind == VORN_EVAL_ERROR) {
            const char* text = r.message ? r.message : "";
            Ref message = Ref::steal(
                PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(std::strlen(text)), "replace"));
            vorn_eval_result_clear(&r);  // the runtime frees the message it took over
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
    free_now(as_registry(o));
    Py_TYPE(o)->tp_free(o);
}

PyObject* registry_free(PyObject* o, PyObject*) noexcept {
    RegistryObject* self = as_registry(o);
    if (self->calls > 0) self->free_requested = true;
    else free_now(self);
    Py_RETURN_NONE;
}

PyObject* registry_register(PyObject* o, PyObject* platform_fns) noexcept {
    PlatformRegistry* registry = live_registry(o);
    if (!registry) return nullptr;
    RegisterFn fn = register_function();
    if (!fn) return nullptr;
    CallHold hold(as_registry(o));  // the registration runs Python code
    fn(registry, platform_fns);
    if (PyErr_Occurred()) return nullptr;
    Py_RETURN_NONE;
}

const char* const kCallNames[] = {"name", "args", "arg_types", "ret_type", "type_args"};
const Params kCallParams{"call", kCallNames, 5, 1};
const char* const kCallManyNames[] = {"n", "name", "args", "arg_types", "ret_type", "type_args"};
const Params kCallManyParams{"call_many", kCallManyNames, 6, 2};

// Runs `n` calls (results of all but the last dropped) with the interpreter lock
// released; the last result, or the first error, is converted.
PyObject* run_calls(PyObject* o, PyObject* const* a, Py_ssize_t n) noexcept {
    Ref empty = Ref::steal(PyTuple_New(0));
    if (!empty) return nullptr;
    PyObject* p[5] = {a[0], a[1] == Py_None ? empty.get() : a[1], a[2], a[3], a[4]};
    CallSetup setup;
    if (!setup.prepare(o, p)) return nullptr;
    // Checked again: converting the arguments may have freed the registry.
    PlatformRegistry* registry = live_registry(o);
    if (!registry) return nullptr;
    CallHold hold(as_registry(o));
    EvalResult last{};
    Py_BEGIN_ALLOW_THREADS
    for (Py_ssize_t i = 0; i < n; ++i) {
        vorn_eval_result_clear(&last);
        last = setup.invoke(registry);
        if (last.kind != VORN_EVAL_OK) break;
    }
    Py_END_ALLOW_THREADS
    return setup.result(last);
}

PyObject* registry_call(PyObject* o, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    PyObject* p[5];
    if (parse_args(kCallParams, args, nargs, kwnames, p) < 0) return nullptr;
    return run_calls(o, p, 1);
}

// n calls from a C loop; stops at the first error and raises it.
PyObject* registry_call_many(PyObject* o, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    PyObject* p[6];
    if (parse_args(kCallManyParams, args, nargs, kwnames, p) < 0) return nullptr;
    Py_ssize_t n = PyLong_AsSsize_t(p[0]);
    if (n == -1 && PyErr_Occurred()) return nullptr;
    if (n <= 0) Py_RETURN_NONE;
    Ref last = Ref::steal(run_calls(o, p + 1, n));
    if (!last) return nullptr;
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
    CallHold hold(as_registry(o));  // making type descriptors runs Python code
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
        // A name is reported as str, or as bytes when it is not UTF-8.
        Ref name = Ref::steal(PyUnicode_DecodeUTF8(e.name, static_cast<Py_ssize_t>(std::strlen(e.name)), "strict"));
        if (!name && PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) {
            PyErr_Clear();
            name = Ref::steal(PyBytes_FromString(e.name));
        }
        if (!name) return nullptr;
        Ref item = Ref::steal(Py_BuildValue("{s:O,s:s,s:O,s:O,s:O,s:N}", "name", name.get(), "form", forms[e.form],
                                            "async", e.is_async ? Py_True : Py_False, "inputs", inputs.get(),
                                            "output", output.get(), "fn", PyLong_FromVoidPtr(fn)));
        if (!item || PyList_Append(out.get(), item.get()) < 0) return nullptr;
    }
    return out.release();
}

PyObject* registry_address(PyObject* o, void*) noexcept {
    RegistryObject* self = as_registry(o);
    if (!self->registry || self->free_requested) Py_RETURN_NONE;
    return PyLong_FromVoidPtr(self->registry);
}

PyObject* registry_freed(PyObject* o, void*) noexcept {
    RegistryObject* self = as_registry(o);
    return PyBool_FromLong(!self->registry || self->free_requested);
}

PyMethodDef registry_methods[] = {
    {"register", registry_register, METH_O,
     "register(platform_fns)\n\nRegisters descriptions through vorn._pfnlink.register_platform_functions."},
    {"call", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(registry_call)),
     METH_FASTCALL | METH_KEYWORDS,
     "call(name, args=(), arg_types=None, ret_type=None, type_args=None)\n\n"
     "Calls a platform function as the runtime does, with the interpreter lock released.\n"
     "Arguments are converted with arg_types, else the declared inputs, else a type read\n"
     "from the argument. The function receives arg_types as given, else each argument's\n"
     "own type, and ret_type, else the declared output, else the Null type. The result is\n"
     "converted with ret_type, else the declared output, else by its kind. An error\n"
     "result raises PlatformError with its message."},
    {"call_many", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(registry_call_many)),
     METH_FASTCALL | METH_KEYWORDS,
     "call_many(n, name, args=(), arg_types=None, ret_type=None, type_args=None)\n\n"
     "Calls a platform function n times from a C loop, as call() does; results are dropped."},
    {"entries", registry_entries, METH_NOARGS, "Every registration in order, as dicts."},
    {"free", registry_free, METH_NOARGS,
     "Frees the registry (its on_free hook runs); idempotent. During a call on it, the\n"
     "registry is freed when the call ends."},
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
