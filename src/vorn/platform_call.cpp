// The shared trampoline through which the runtime calls every Python-backed platform
// function: find the callable, convert the arguments, call, run a coroutine, convert
// the result. Every failure becomes an error result; nothing is raised into the runtime.
#include "vorn/pfnlink.hpp"

#include <cstdlib>
#include <cstring>
#include <string>

namespace vorn::pfnlink {

EvalResult error_result(const char* message, size_t length) noexcept {
    EvalResult r{};
    r.kind = VORN_EVAL_ERROR;
    r.message = static_cast<char*>(std::malloc(length + 1));
    if (r.message) {
        std::memcpy(r.message, message, length);
        r.message[length] = '\0';
    }
    return r;
}

namespace {

constexpr const char kReportFailed[] =
    "Platform function failed, and its exception could not be turned into a message";

EvalResult error_with_name(const char* prefix, PyObject* name) noexcept {
    std::string message = prefix;
    message.append(PyBytes_AS_STRING(name), static_cast<size_t>(PyBytes_GET_SIZE(name)));
    return error_result(message.data(), message.size());
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
    Ref t = Ref::steal(type), v = Ref::steal(value), b = Ref::steal(tb);
    Ref text = Ref::steal(PyObject_Str(v ? v.get() : Py_None));
    Ref encoded;
    if (text) encoded = Ref::steal(PyUnicode_AsUTF8String(text.get()));
    if (!encoded) {
        // Reporting failed too: say so through the unraisable hook, and still fail.
        report_unraisable("vorn._pfnlink._python_platform_fn");
        return error_result(kReportFailed, sizeof kReportFailed - 1);
    }
    return error_result(PyBytes_AS_STRING(encoded.get()),
                        static_cast<size_t>(PyBytes_GET_SIZE(encoded.get())));
}

// The output value handle of a callable's result, or null with an exception set.
VornValue* output_value(PyObject* result, VornType* ret_type) noexcept {
    if (result == Py_None) return vorn_null();
    PyObject* handle = nullptr;
    if (_PyObject_LookupAttr(result, str<"_vorn_c_value">(), &handle) < 0) return nullptr;
    Ref owned = Ref::steal(handle);
    if (owned && owned.get() != Py_None) {
        Ref index = Ref::steal(PyNumber_Index(owned.get()));
        if (!index) return nullptr;
        size_t address = PyLong_AsSize_t(index.get());
        if (address == static_cast<size_t>(-1) && PyErr_Occurred()) return nullptr;
        if (address == 0) {
            PyErr_SetString(PyExc_ValueError, "_vorn_c_value is a null value handle");
            return nullptr;
        }
        return vorn_value_retain(reinterpret_cast<VornValue*>(address));
    }
    return conversions.py_value_to_c(result, ret_type);
}

// Steps of one call; null with an exception set, or sets `*early` for an error
// result that is not an exception (registry or function unknown).
VornValue* dispatch(VornValue** args, size_t nargs, VornType** arg_types, size_t n_arg_types,
                    VornType* ret_type, EvalResult* early, bool* has_early) noexcept {
    const CurrentCall record = current_call();  // consumed before any Python code runs
    Ref name = Ref::steal(PyBytes_FromString(record.name ? record.name : ""));
    if (!name) return nullptr;
    Ref states = Ref::steal(global(str<"_dispatch_states">()));
    if (!states) return nullptr;
    Ref key = Ref::steal(PyLong_FromVoidPtr(record.registry));
    if (!key) return nullptr;
    Ref state = Ref::steal(PyObject_CallMethodObjArgs(states.get(), str<"get">(), key.get(), nullptr));
    if (!state) return nullptr;
    if (state.get() == Py_None) {
        *early = error_with_name("Platform registry has no Python dispatch state: ", name.get());
        *has_early = true;
        return nullptr;
    }
    Ref direct = Ref::steal(PySequence_GetItem(state.get(), 0));
    if (!direct) return nullptr;
    Ref entry = Ref::steal(PyObject_CallMethodObjArgs(direct.get(), str<"get">(), name.get(), nullptr));
    if (!entry) return nullptr;
    Ref callable, is_async;
    if (entry.get() != Py_None) {
        callable = Ref::steal(PySequence_GetItem(entry.get(), 0));
        if (callable) is_async = Ref::steal(PySequence_GetItem(entry.get(), 1));
        if (!is_async) return nullptr;
    } else {
        Ref generic = Ref::steal(PySequence_GetItem(state.get(), 1));
        if (!generic) return nullptr;
        int found = PySequence_Contains(generic.get(), name.get());
        if (found < 0) return nullptr;
        if (!found) {
            *early = error_with_name("Platform function not found: ", name.get());
            *has_early = true;
            return nullptr;
        }
        callable = Ref::steal(specialize_generic(state.get(), name.get()));
        if (!callable) return nullptr;
        Ref generic_entry = Ref::steal(PyObject_GetItem(generic.get(), name.get()));
        if (generic_entry) is_async = Ref::steal(PySequence_GetItem(generic_entry.get(), 1));
        if (!is_async) return nullptr;
    }

    Ref py_args = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(nargs)));
    if (!py_args) return nullptr;
    for (size_t i = 0; i < nargs; ++i) {
        VornType* t = (i < n_arg_types && arg_types && arg_types[i]) ? arg_types[i] : &vorn_null_type;
        PyObject* item = conversions.c_value_to_py(args[i], t);
        if (!item) return nullptr;
        PyTuple_SET_ITEM(py_args.get(), static_cast<Py_ssize_t>(i), item);
    }
    Ref result = Ref::steal(PyObject_Call(callable.get(), py_args.get(), nullptr));
    if (!result) return nullptr;

    int async_flag = PyObject_IsTrue(is_async.get());
    if (async_flag < 0) return nullptr;
    if (async_flag) {
        Ref asyncio = Ref::steal(global(str<"asyncio">()));
        if (!asyncio) return nullptr;
        Ref check = Ref::steal(PyObject_CallMethodOneArg(asyncio.get(), str<"iscoroutine">(), result.get()));
        if (!check) return nullptr;
        int is_coro = PyObject_IsTrue(check.get());
        if (is_coro < 0) return nullptr;
        if (is_coro) {
            result = Ref::steal(run_async(result.get()));
            if (!result) return nullptr;
        }
    }
    return output_value(result.get(), ret_type);
}

}  // namespace

EvalResult python_platform_fn(VornValue** args, size_t nargs, VornType** arg_types,
                              size_t n_arg_types, VornType* ret_type) noexcept {
    PyGILState_STATE gil = PyGILState_Ensure();
    EvalResult early{};
    bool has_early = false;
    VornValue* out = dispatch(args, nargs, arg_types, n_arg_types, ret_type, &early, &has_early);
    EvalResult result;
    if (out) result = eval_ok(out);
    else if (has_early) result = early;
    else result = error_from_exception();
    PyGILState_Release(gil);
    return result;
}

}  // namespace vorn::pfnlink
