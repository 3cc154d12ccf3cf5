// vorn._vornc_bridge._testing, test-only entry points: C platform functions and
// factories as capsules, direct runtime registration, recording hooks, views of the
// runtime's context, counters, set-up log and built-ins, and fixtures that make the
// runtime misbehave on purpose (printers returning given bytes, an unprintable type),
// so tests can reach and check every path of the modules over the runtime.
#include "bridge.hpp"

#include <cstdlib>
#include <cstring>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>


namespace vornc_bridge {
namespace {

constexpr const char* kModule = "vorn._vornc_bridge._testing";

// ---- C platform functions

std::string type_text(VornType* t) {
    if (!t) return "-";
    char* s = vorn_print_type(t);
    std::string out = s ? s : "?";
    std::free(s);
    return out;
}

EvalResult string_result(const std::string& s) noexcept {
    VornValue* v = vorn_value_string(s.data(), s.size());
    return v ? eval_ok(v) : vorn_eval_error("bad string");
}

// echo(x, ...) -> x, or null without arguments.
EvalResult c_echo(VornValue** args, size_t nargs, VornType**, size_t, VornType*) {
    return eval_ok(nargs ? vorn_value_retain(args[0]) : vorn_null());
}

EvalResult c_fail(VornValue**, size_t nargs, VornType**, size_t, VornType*) {
    std::string message = "failed with " + std::to_string(nargs) + " arguments";
    return vorn_eval_error(message.c_str());
}

// describe(...) -> "args=N types=[T, ...] ret=T": what the runtime passed.
EvalResult c_describe(VornValue**, size_t nargs, VornType** arg_types, size_t n_arg_types, VornType* ret) {
    try {
        std::string s = "args=" + std::to_string(nargs) + " types=[";
        for (size_t i = 0; i < n_arg_types; ++i) {
            if (i) s += ", ";
            s += type_text(arg_types[i]);
        }
        s += "] ret=" + type_text(ret);
        return string_result(s);
    } catch (...) {
        return vorn_eval_error("out of memory");
    }
}

// add(a, b, ...) -> the sum of Integer arguments.
EvalResult c_add(VornValue** args, size_t nargs, VornType**, size_t, VornType*) {
    int64_t sum = 0;
    for (size_t i = 0; i < nargs; ++i) {
        if (vorn_value_kind(args[i]) != VORN_INTEGER) return vorn_eval_error("add: Integer arguments only");
        if (__builtin_add_overflow(sum, vorn_value_get_int(args[i]), &sum)) return vorn_eval_error("add: overflow");
    }
    VornValue* v = vorn_value_int(sum);
    return v ? eval_ok(v) : vorn_eval_error("out of memory");
}

// sleep(ms) -> null, after sleeping that long without the interpreter lock.
EvalResult c_sleep(VornValue** args, size_t nargs, VornType**, size_t, VornType*) {
    if (nargs != 1 || vorn_value_kind(args[0]) != VORN_INTEGER) return vorn_eval_error("sleep: one Integer");
    std::this_thread::sleep_for(std::chrono::milliseconds(vorn_value_get_int(args[0])));
    return eval_ok(vorn_null());
}

// constant(...) -> 42, whatever it is given: its result shows that the runtime called
// it directly, with no conversion of arguments or result on the way.
EvalResult c_constant(VornValue**, size_t, VornType**, size_t, VornType*) {
    VornValue* v = vorn_value_int(42);
    return v ? eval_ok(v) : vorn_eval_error("out of memory");
}

// constant: a factory that hands out c_constant for any type arguments.
PlatformFn c_constant_factory(VornType**, size_t) { return c_constant; }

// pick: describe when given type arguments, echo otherwise.
PlatformFn c_pick(VornType**, size_t n_type_args) { return n_type_args ? c_describe : c_echo; }

// nothing: a factory that makes no function.
PlatformFn c_nothing(VornType**, size_t) { return nullptr; }

// ---- recording hooks

struct Recording {
    std::mutex mutex;
    std::vector<std::pair<std::string, std::vector<std::string>>> pre_calls;
    std::vector<uintptr_t> frees;
};
Recording g_recording;

void record_pre_call(PlatformRegistry*, const char* name, VornType** type_args, size_t n) {
    try {
        std::vector<std::string> types;
        for (size_t i = 0; i < n; ++i) types.push_back(type_text(type_args[i]));
        std::lock_guard<std::mutex> lock(g_recording.mutex);
        g_recording.pre_calls.emplace_back(name, std::move(types));
    } catch (...) {
    }
}

void record_free(PlatformRegistry* registry) {
    try {
        std::lock_guard<std::mutex> lock(g_recording.mutex);
        g_recording.frees.push_back(reinterpret_cast<uintptr_t>(registry));
    } catch (...) {
    }
}

// ---- helpers

PlatformRegistry* registry_arg(PyObject* o) noexcept {
    Ref address = Ref::steal(PyObject_GetAttrString(o, "address"));
    if (!address) return nullptr;
    if (address.get() == Py_None) {
        PyErr_SetString(PyExc_ValueError, "the platform registry has been freed");
        return nullptr;
    }
    return static_cast<PlatformRegistry*>(PyLong_AsVoidPtr(address.get()));
}

char* name_copy(PyObject* name) noexcept {
    const char* s = PyUnicode_Check(name) ? PyUnicode_AsUTF8(name) : nullptr;
    if (!s) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "name must be str");
        return nullptr;
    }
    return strdup(s);
}

PyObject* capsule_dict(const char* capsule_name, const std::vector<std::pair<const char*, void*>>& items) noexcept {
    Ref out = Ref::steal(PyDict_New());
    if (!out) return nullptr;
    for (const auto& [name, ptr] : items) {
        Ref capsule = Ref::steal(PyCapsule_New(ptr, capsule_name, nullptr));
        if (!capsule || PyDict_SetItemString(out.get(), name, capsule.get()) < 0) return nullptr;
    }
    return out.release();
}

BuiltinRegistry* own_builtins() noexcept {
    static BuiltinRegistry* registry = [] {
        BuiltinRegistry* r = builtin_registry_new();
        vorn_register_all_builtins(r);
        return r;
    }();
    return registry;
}

// ---- functions

PyObject* t_c_functions(PyObject* const*) noexcept {
    return capsule_dict("vorn_platform_fn", {{"echo", reinterpret_cast<void*>(c_echo)},
                                             {"fail", reinterpret_cast<void*>(c_fail)},
                                             {"describe", reinterpret_cast<void*>(c_describe)},
                                             {"add", reinterpret_cast<void*>(c_add)},
                                             {"sleep", reinterpret_cast<void*>(c_sleep)},
                                             {"constant", reinterpret_cast<void*>(c_constant)}});
}

PyObject* t_c_factories(PyObject* const*) noexcept {
    return capsule_dict("vorn_generic_factory", {{"pick", reinterpret_cast<void*>(c_pick)},
                                                 {"nothing", reinterpret_cast<void*>(c_nothing)},
                                                 {"constant", reinterpret_cast<void*>(c_constant_factory)}});
}

// add_function(registry, name, capsule, signature=None): plain without a signature,
// typed with signature (inputs, output); registers with the runtime directly.
PyObject* t_add_function(PyObject* const* a) noexcept {
    PlatformRegistry* registry = registry_arg(a[0]);
    if (!registry) return nullptr;
    auto fn = reinterpret_cast<PlatformFn>(PyCapsule_GetPointer(a[2], "vorn_platform_fn"));
    if (!fn) return nullptr;
    if (a[3] == Py_None) {
        char* name = name_copy(a[1]);
        if (!name) return nullptr;
        platform_registry_add(registry, name, fn, false);
        Py_RETURN_NONE;
    }
    PyObject *input_list, *output_type;
    if (!PyArg_ParseTuple(a[3], "OO:signature", &input_list, &output_type)) return nullptr;
    Ref seq = Ref::steal(PySequence_Fast(input_list, "inputs must be a sequence"));
    if (!seq) return nullptr;
    std::vector<TypeHandle> inputs;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq.get()); ++i) {
        TypeHandle t(type_from_py(PySequence_Fast_GET_ITEM(seq.get(), i)));
        if (!t) return nullptr;
        inputs.push_back(std::move(t));
    }
    TypeHandle output(type_from_py(output_type));
    if (!output) return nullptr;
    std::vector<VornType*> raw;
    for (const TypeHandle& t : inputs) raw.push_back(t.get());
    char* name = name_copy(a[1]);
    if (!name) return nullptr;
    platform_registry_add_typed(registry, name, fn, false, raw.data(), raw.size(), output.get());
    Py_RETURN_NONE;  // our references are released here, as a registering bridge does
}

PyObject* t_add_generic(PyObject* const* a) noexcept {
    PlatformRegistry* registry = registry_arg(a[0]);
    if (!registry) return nullptr;
    auto factory = reinterpret_cast<GenericFactory>(PyCapsule_GetPointer(a[2], "vorn_generic_factory"));
    if (!factory) return nullptr;
    char* name = name_copy(a[1]);
    if (!name) return nullptr;
    platform_registry_add_generic(registry, name, factory, false);
    Py_RETURN_NONE;
}

PyObject* t_install_recording_hooks(PyObject* const* a) noexcept {
    PlatformRegistry* registry = registry_arg(a[0]);
    if (!registry) return nullptr;
    registry->pre_call = record_pre_call;
    registry->on_free = record_free;
    Py_RETURN_NONE;
}

PyObject* t_recorded(PyObject* const*) noexcept {
    std::lock_guard<std::mutex> lock(g_recording.mutex);
    Ref calls = Ref::steal(PyList_New(0));
    Ref frees = Ref::steal(PyList_New(0));
    if (!calls || !frees) return nullptr;
    for (const auto& [name, types] : g_recording.pre_calls) {
        Ref type_list = Ref::steal(PyList_New(0));
        if (!type_list) return nullptr;
        for (const std::string& t : types) {
            Ref s = Ref::steal(PyUnicode_FromString(t.c_str()));
            if (!s || PyList_Append(type_list.get(), s.get()) < 0) return nullptr;
        }
        Ref item = Ref::steal(Py_BuildValue("(sO)", name.c_str(), type_list.get()));
        if (!item || PyList_Append(calls.get(), item.get()) < 0) return nullptr;
    }
    for (uintptr_t address : g_recording.frees) {
        Ref a = Ref::steal(PyLong_FromSize_t(address));
        if (!a || PyList_Append(frees.get(), a.get()) < 0) return nullptr;
    }
    return Py_BuildValue("{s:O,s:O}", "pre_calls", calls.get(), "frees", frees.get());
}

PyObject* t_clear_recorded(PyObject* const*) noexcept {
    std::lock_guard<std::mutex> lock(g_recording.mutex);
    g_recording.pre_calls.clear();
    g_recording.frees.clear();
    Py_RETURN_NONE;
}

PyObject* address_or_none(void* p) noexcept { return p ? PyLong_FromVoidPtr(p) : Py_NewRef(Py_None); }

PyObject* t_thread_context(PyObject* const*) noexcept {
    Ref platform = Ref::steal(address_or_none(vorn_thread_platform_registry()));
    Ref builtins = Ref::steal(address_or_none(vorn_thread_builtin_registry()));
    if (!platform || !builtins) return nullptr;
    return PyTuple_Pack(2, platform.get(), builtins.get());
}

PyObject* t_counters(PyObject* const*) noexcept {
    VornRuntimeCounters c;
    vorn_runtime_counters(&c);
    return Py_BuildValue("{s:l,s:l,s:l,s:l,s:l,s:l,s:O}", "builtin_registries_made", c.builtin_registries_made,
                         "builtins_registrations", c.builtins_registrations, "platform_registries_made",
                         c.platform_registries_made, "platform_registries_freed", c.platform_registries_freed,
                         "thread_contexts_set", c.thread_contexts_set, "type_of_type_inits", c.type_of_type_inits,
                         "type_of_type_ready", vorn_type_of_type_ready() ? Py_True : Py_False);
}

PyObject* t_builtin_names(PyObject* const*) noexcept {
    BuiltinRegistry* r = own_builtins();
    size_t n = vorn_builtin_count(r);
    Ref out = Ref::steal(PyList_New(static_cast<Py_ssize_t>(n)));
    if (!out) return nullptr;
    for (size_t i = 0; i < n; ++i) {
        PyObject* s = PyUnicode_FromString(vorn_builtin_name(r, i));
        if (!s) return nullptr;
        PyList_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), s);
    }
    return out.release();
}

// call_builtin(name, args, arg_types, ret_type): converts with arg_types, calls,
// and converts the result with ret_type.
PyObject* t_call_builtin(PyObject* const* a) noexcept {
    const char* name = PyUnicode_Check(a[0]) ? PyUnicode_AsUTF8(a[0]) : nullptr;
    if (!name) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "name must be str");
        return nullptr;
    }
    Ref args = Ref::steal(PySequence_Fast(a[1], "args must be a sequence"));
    Ref types = args ? Ref::steal(PySequence_Fast(a[2], "arg_types must be a sequence")) : Ref();
    if (!types) return nullptr;
    Py_ssize_t n = PySequence_Fast_GET_SIZE(args.get());
    if (PySequence_Fast_GET_SIZE(types.get()) != n) {
        PyErr_SetString(PyExc_ValueError, "args and arg_types differ in length");
        return nullptr;
    }
    std::vector<TypeHandle> type_handles;
    std::vector<ValueHandle> values;
    std::vector<VornType*> raw_types;
    std::vector<VornValue*> raw_values;
    for (Py_ssize_t i = 0; i < n; ++i) {
        TypeHandle t(type_from_py(PySequence_Fast_GET_ITEM(types.get(), i)));
        if (!t) return nullptr;
        ValueHandle v(py_value_to_c(PySequence_Fast_GET_ITEM(args.get(), i), t.get()));
        if (!v) return nullptr;
        raw_types.push_back(t.get());
        raw_values.push_back(v.get());
        type_handles.push_back(std::move(t));
        values.push_back(std::move(v));
    }
    TypeHandle ret(type_from_py(a[3]));
    if (!ret) return nullptr;
    EvalResult r = vorn_builtin_call(own_builtins(), name, raw_values.data(), raw_values.size(), raw_types.data(),
                                     raw_types.size(), ret.get());
    if (r.kind != VORN_EVAL_OK) {
        PyErr_SetString(PyExc_RuntimeError, r.message ? r.message : "built-in failed");
        vorn_eval_result_clear(&r);
        return nullptr;
    }
    PyObject* out = c_value_to_py(r.value, ret.get());
    vorn_eval_result_clear(&r);
    return out;
}

// nested_arrays(depth): [[[...]]] of that depth built in C, of type
// Recursive L. Array<L>, as a CValue.
PyObject* t_nested_arrays(PyObject* const* a) noexcept {
    Py_ssize_t depth = PyLong_AsSsize_t(a[0]);
    if (depth < 0) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "depth must not be negative");
        return nullptr;
    }
    TypeHandle type(vorn_type_recursive("L", 1, false, vorn_type_container(VORN_ARRAY, vorn_type_rec_ref("L", 1, false))));
    ValueHandle v(vorn_value_list(VORN_ARRAY, 0));
    if (!type || !v) return PyErr_NoMemory();
    for (Py_ssize_t i = 0; i < depth; ++i) {
        VornValue* outer = vorn_value_list(VORN_ARRAY, 1);
        if (!outer) return PyErr_NoMemory();
        vorn_value_append(outer, v.release());
        v.reset(outer);
    }
    return make_cvalue(v.release(), type.release());
}

// ref_cycle(): a Ref whose target is itself, of type Recursive R. Ref<R>.
PyObject* t_ref_cycle(PyObject* const*) noexcept {
    TypeHandle type(vorn_type_recursive("R", 1, false, vorn_type_container(VORN_REF, vorn_type_rec_ref("R", 1, false))));
    ValueHandle r(vorn_value_ref(vorn_null()));
    if (!type || !r) return PyErr_NoMemory();
    vorn_value_ref_set(r.get(), vorn_value_retain(r.get()));
    return make_cvalue(r.release(), type.release());
}

// break_ref_cycle(cvalue): points a Ref at null, so that a cycle can be freed.
PyObject* t_break_ref_cycle(PyObject* const* a) noexcept {
    if (!is_cvalue(a[0]) || vorn_value_kind(cvalue_value(a[0])) != VORN_REF) {
        PyErr_SetString(PyExc_TypeError, "expected a CValue holding a Ref");
        return nullptr;
    }
    vorn_value_ref_set(cvalue_value(a[0]), vorn_null());
    Py_RETURN_NONE;
}

// string_from_bytes(data): a String made by the runtime from raw bytes, or None
// when the runtime refuses them (not UTF-8).
PyObject* t_string_from_bytes(PyObject* const* a) noexcept {
    char* data;
    Py_ssize_t size;
    if (PyBytes_AsStringAndSize(a[0], &data, &size) < 0) return nullptr;
    VornValue* v = vorn_value_string(data, static_cast<size_t>(size));
    if (!v) Py_RETURN_NONE;
    TypeHandle t(vorn_type_scalar(VORN_STRING));
    if (!t) {
        vorn_value_release(v);
        return PyErr_NoMemory();
    }
    return make_cvalue(v, t.release());
}

// print_override(data): the runtime's printers return exactly these bytes until
// print_override(None).
PyObject* t_print_override(PyObject* const* a) noexcept {
    if (a[0] == Py_None) {
        vorn_testing_print_override(nullptr, 0);
        Py_RETURN_NONE;
    }
    char* data;
    Py_ssize_t size;
    if (PyBytes_AsStringAndSize(a[0], &data, &size) < 0) return nullptr;
    if (!vorn_testing_print_override(data, static_cast<size_t>(size))) return PyErr_NoMemory();
    Py_RETURN_NONE;
}

// unprintable_type(): a CType that the type printer refuses.
PyObject* t_unprintable_type(PyObject* const*) noexcept {
    VornType* t = vorn_type_unprintable();
    if (!t) return PyErr_NoMemory();
    return make_ctype(t);
}

// setup_calls(): the runtime's start-up and registry calls, by name, in order.
PyObject* t_setup_calls(PyObject* const*) noexcept {
    const char* names[1024];
    size_t total = vorn_setup_calls(names, 1024);
    size_t n = total < 1024 ? total : 1024;
    Ref out = Ref::steal(PyList_New(static_cast<Py_ssize_t>(n)));
    if (!out) return nullptr;
    for (size_t i = 0; i < n; ++i) {
        PyObject* s = PyUnicode_FromString(names[i]);
        if (!s) return nullptr;
        PyList_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i), s);
    }
    return out.release();
}

PyMethodDef kMethods[] = {
    VORNC_FASTCALL("c_functions", t_c_functions, 0, 0, nullptr),
    VORNC_FASTCALL("c_factories", t_c_factories, 0, 0, nullptr),
    VORNC_FASTCALL("add_function", t_add_function, 3, 4, nullptr),
    VORNC_FASTCALL("add_generic", t_add_generic, 3, 3, nullptr),
    VORNC_FASTCALL("install_recording_hooks", t_install_recording_hooks, 1, 1, nullptr),
    VORNC_FASTCALL("recorded", t_recorded, 0, 0, nullptr),
    VORNC_FASTCALL("clear_recorded", t_clear_recorded, 0, 0, nullptr),
    VORNC_FASTCALL("thread_context", t_thread_context, 0, 0, nullptr),
    VORNC_FASTCALL("counters", t_counters, 0, 0, nullptr),
    VORNC_FASTCALL("builtin_names", t_builtin_names, 0, 0, nullptr),
    VORNC_FASTCALL("call_builtin", t_call_builtin, 4, 4, nullptr),
    VORNC_FASTCALL("nested_arrays", t_nested_arrays, 1, 1, nullptr),
    VORNC_FASTCALL("ref_cycle", t_ref_cycle, 0, 0, nullptr),
    VORNC_FASTCALL("break_ref_cycle", t_break_ref_cycle, 1, 1, nullptr),
    VORNC_FASTCALL("string_from_bytes", t_string_from_bytes, 1, 1, nullptr),
    VORNC_FASTCALL("print_override", t_print_override, 1, 1, nullptr),
    VORNC_FASTCALL("unprintable_type", t_unprintable_type, 0, 0, nullptr),
    VORNC_FASTCALL("setup_calls", t_setup_calls, 0, 0, nullptr),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

int add_testing_module(PyObject* module) noexcept {
    Ref testing = Ref::steal(PyModule_New(kModule));
    if (!testing) return -1;
    if (PyModule_AddFunctions(testing.get(), kMethods) < 0) return -1;
    return PyModule_AddObjectRef(module, "_testing", testing.get());
}

}  // namespace vornc_bridge
