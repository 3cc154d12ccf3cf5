// The shared trampoline through which the runtime calls every Python-backed platform
// function: find the callable, convert the arguments, call, run a coroutine, convert
// the result. Every failure becomes an error result; nothing is raised into the runtime.
#include "common/compat.hpp"
#include "vorn/pfnlink.hpp"

#include <cstdlib>
#include <cstring>

namespace vorn::pfnlink {

namespace {

// An error result whose message is `head` followed by `tail`, copied to the C heap
// (the runtime frees it with free()).
EvalResult error_result(const char* head, size_t head_length, const char* tail, size_t tail_length) noexcept {
    EvalResult r{};
    r.kind = VORN_EVAL_ERROR;
    r.message = static_cast<char*>(std::malloc(head_length + tail_length + 1));
    if (r.message) {
        std::memcpy(r.message, head, head_length);
        std::memcpy(r.message + head_length, tail, tail_length);
        r.message[head_length + tail_length] = '\0';
    }
    return r;
}

EvalResult error_result(const char* message, size_t length) noexcept {
    return error_result(message, length, "", 0);
}

constexpr const char kReportFailed[] =
    "Platform function failed, and its exception could not be turned into a message";

// An error result of `prefix` followed by the function name (bytes).
EvalResult error_with_name(const char* prefix, PyObject* name) noexcept {
    return error_result(prefix, std::strlen(prefix), PyBytes_AS_STRING(name),
                        static_cast<size_t>(PyBytes_GET_SIZE(name)));
}

// The error result for the pending exception: its str(), UTF-8 encoded.
EvalResult error_from_exception() noexcept {
    if (!PyErr_Occurred()) {
        static constexpr char kNoException[] = "Platform function failed without an exception";
        return error_result(kNoException, sizeof kNoException - 1);
    }
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    if (value && tb) PyException_SetTraceback(value, tb);
    Ref t = Ref::steal(type), v = Ref::steal(value), b = Ref::steal(tb);
    Ref text = Ref::steal(PyObject_Str(v ? v.get() : Py_None));
    Ref encoded;
    if (text) encoded = Ref::steal(PyUnicode_AsUTF8String(text.get()));
    if (!encoded) {
        // Reporting failed too: say so through the unraisable hook, the new failure
        // chained to the original exception, and still fail.
        report_unraisable("vorn._pfnlink._python_platform_fn", "_python_platform_fn", v.get());
        return error_result(kReportFailed, sizeof kReportFailed - 1);
    }
    return error_result(PyBytes_AS_STRING(encoded.get()),
                        static_cast<size_t>(PyBytes_GET_SIZE(encoded.get())));
}

// The positional arguments of one call, owned; held inline for the usual arities so
// that the callable is reached by vectorcall without a tuple.
class Arguments {
public:
    explicit Arguments(size_t n) noexcept : n_(n) {
        items_ = n <= kInline ? inline_ : static_cast<PyObject**>(PyMem_Calloc(n, sizeof(PyObject*)));
        if (!items_) PyErr_NoMemory();
    }
    ~Arguments() {
        for (size_t i = 0; i < filled_; ++i) Py_DECREF(items_[i]);
        if (items_ != inline_) PyMem_Free(items_);
    }
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;

    bool ok() const noexcept { return items_ != nullptr; }
    void push(PyObject* item) noexcept { items_[filled_++] = item; }  // takes over `item`
    PyObject* const* data() const noexcept { return items_; }
    size_t size() const noexcept { return n_; }

private:
    static constexpr size_t kInline = 8;
    PyObject* inline_[kInline];
    PyObject** items_;
    size_t n_;
    size_t filled_ = 0;
};

// True for results of built-in types, whose instances cannot carry `_vorn_c_value`.
bool cannot_carry_handle(PyObject* result) noexcept {
    PyTypeObject* t = Py_TYPE(result);
    return t == &PyLong_Type || t == &PyBool_Type || t == &PyFloat_Type || t == &PyUnicode_Type ||
           t == &PyBytes_Type || t == &PyList_Type || t == &PyTuple_Type || t == &PyDict_Type ||
           t == &PySet_Type || t == &PyFrozenSet_Type;
}

// The output value handle of a callable's result, or null with an exception set.
VornValue* output_value(PyObject* result, VornType* ret_type) noexcept {
    if (result == Py_None) return vorn_null();
    if (cannot_carry_handle(result)) return conversions.py_value_to_c(result, ret_type);
    PyObject* handle = nullptr;
    if (compat::lookup_attr(result, str<"_vorn_c_value">(), &handle) < 0) return nullptr;
    Ref owned = Ref::steal(handle);
    if (!owned || owned.get() == Py_None) return conversions.py_value_to_c(result, ret_type);
    if (PyBool_Check(owned.get())) {
        // True would read as the address 1.
        PyErr_SetString(PyExc_TypeError, "_vorn_c_value must be the address of a value handle, not a bool");
        return nullptr;
    }
    Ref index = Ref::steal(PyNumber_Index(owned.get()));
    if (!index) return nullptr;
    size_t address = PyLong_AsSize_t(index.get());
    if (address == static_cast<size_t>(-1) && PyErr_Occurred()) return nullptr;
    if (address == 0) {
        // Retaining it would hand the runtime a null handle.
        PyErr_SetString(PyExc_ValueError, "_vorn_c_value is a null value handle");
        return nullptr;
    }
    // Handles are aligned at least as pointers are; any other address cannot be one.
    if (address % alignof(void*) != 0) {
        PyErr_Format(PyExc_ValueError, "_vorn_c_value %p is not aligned as a value handle",
                     reinterpret_cast<void*>(address));
        return nullptr;
    }
    auto* value = reinterpret_cast<VornValue*>(address);
    vorn_value_retain(value);
    return value;
}

// Finds the target of the call named `name`: 1 when found, 0 when `early` holds an
// error result that is no exception (registry or function unknown), -1 on an exception.
int find_target(const CurrentCall& call, PyObject* name, Target& target, EvalResult& early) noexcept {
    if (cached_target(call, name, target)) return 1;
    Ref states = Ref::steal(global(str<"_dispatch_states">()));
    Ref key = Ref::steal(registry_key(call.registry));
    if (!states || !key) return -1;
    Ref state = Ref::steal(mapping_get(states.get(), key.get()));
    if (!state) return -1;
    if (state.get() == Py_None) {
        early = error_with_name("Platform registry has no Python dispatch state: ", name);
        return 0;
    }
    Ref direct = Ref::steal(sequence_item(state.get(), state_item::kDirect));
    if (!direct) return -1;
    Ref entry = Ref::steal(mapping_get(direct.get(), name));
    if (!entry) return -1;
    TargetTrail trail{states.get(), direct.get()};
    if (entry.get() != Py_None) {
        stamp_trail(trail);
        target.callable = Ref::steal(sequence_item(entry.get(), entry_item::kCallable));
        if (target.callable) target.is_async = Ref::steal(sequence_item(entry.get(), entry_item::kIsAsync));
        if (!target.is_async) return -1;
        // The entry must be an exact tuple too, as a list could change unseen.
        if (PyTuple_CheckExact(entry.get()) && PyTuple_CheckExact(state.get())) remember_target(call, name, trail, target);
        return 1;
    }
    Ref generic = Ref::steal(sequence_item(state.get(), state_item::kGeneric));
    if (!generic) return -1;
    int found = mapping_contains(generic.get(), name);
    if (found <= 0) {
        if (found == 0) early = error_with_name("Platform function not found: ", name);
        return found;
    }
    // Stamped before the factory runs, since it may change any of the dicts (an exact
    // state's cache is read without code; for any other state nothing is kept).
    trail.generic = generic.get();
    if (PyTuple_CheckExact(state.get()) && PyTuple_GET_SIZE(state.get()) > state_item::kCache) {
        trail.cache = PyTuple_GET_ITEM(state.get(), state_item::kCache);
        stamp_trail(trail);
    }
    target.callable = Ref::steal(specialize_generic(state.get(), name, call));
    if (!target.callable) return -1;
    Ref generic_entry = Ref::steal(PyObject_GetItem(generic.get(), name));
    if (generic_entry) target.is_async = Ref::steal(sequence_item(generic_entry.get(), entry_item::kIsAsync));
    if (!target.is_async) return -1;
    // A None specialisation is asked for again on the next call, so it is not kept.
    Ref cache = Ref::steal(sequence_item(state.get(), state_item::kCache));
    if (!cache) return -1;
    if (trail.cache != cache.get()) return 1;  // not the cache stamped
    if (target.callable.get() != Py_None && PyTuple_CheckExact(generic_entry.get()) && PyTuple_CheckExact(state.get()))
        remember_target(call, name, trail, target);
    return 1;
}

// Converts the arguments, calls the target and converts its result; the output
// value handle, or null with an exception set.
VornValue* run_target(const Target& target, VornValue** args, size_t nargs, VornType** arg_types,
                      size_t n_arg_types, VornType* ret_type) noexcept {
    Arguments items(nargs);
    if (!items.ok()) return nullptr;
    for (size_t i = 0; i < nargs; ++i) {
        VornType* t = (arg_types && i < n_arg_types && arg_types[i]) ? arg_types[i] : &vorn_null_type;
        PyObject* item = conversions.c_value_to_py(args[i], t);
        if (!item) return nullptr;
        items.push(item);
    }
    Ref result = Ref::steal(PyObject_Vectorcall(target.callable.get(), items.data(), items.size(), nullptr));
    if (!result) return nullptr;

    int is_async = truth(target.is_async.get());
    if (is_async < 0) return nullptr;
    if (is_async) {
        // asyncio is read from the module namespace on every call, as code would.
        Ref asyncio = Ref::steal(global(str<"asyncio">()));
        if (!asyncio) return nullptr;
        Ref check = Ref::steal(PyObject_CallMethodOneArg(asyncio.get(), str<"iscoroutine">(), result.get()));
        if (!check) return nullptr;
        int is_coroutine = PyObject_IsTrue(check.get());
        if (is_coroutine < 0) return nullptr;
        if (is_coroutine) {
            result = Ref::steal(run_async(result.get()));
            if (!result) return nullptr;
        }
    }
    return output_value(result.get(), ret_type);
}

// One platform call under the interpreter lock; every reference it takes is dropped
// before it returns.
EvalResult dispatch(VornValue** args, size_t nargs, VornType** arg_types, size_t n_arg_types,
                    VornType* ret_type) noexcept {
    // Consumed before any Python code runs, so that platform calls made from inside
    // the callable (which overwrite this thread's record) leave this one intact.
    const CurrentCall call = current_call();
    Ref name = Ref::steal(name_bytes(call.name ? call.name : ""));
    if (!name) return error_from_exception();
    Target target;
    EvalResult early{};
    int found = find_target(call, name.get(), target, early);
    if (found == 0) return early;
    VornValue* out = found > 0 ? run_target(target, args, nargs, arg_types, n_arg_types, ret_type) : nullptr;
    return out ? eval_ok(out) : error_from_exception();
}

}  // namespace

EvalResult python_platform_fn(VornValue** args, size_t nargs, VornType** arg_types,
                              size_t n_arg_types, VornType* ret_type) noexcept {
    PyGILState_STATE gil = PyGILState_Ensure();
    EvalResult result = dispatch(args, nargs, arg_types, n_arg_types, ret_type);
    PyGILState_Release(gil);
    return result;
}

}  // namespace vorn::pfnlink
