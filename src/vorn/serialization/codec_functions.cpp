// _print_value, _print_type and _parse_value: the one-time runtime context, the
// conversions to and from runtime handles, and every handle and printed buffer
// released on every path.
#include "vorn/serialization/textcodec.hpp"

#include "common/args.hpp"
#include "vorn/runtime_handle.hpp"

#include <cstdlib>
#include <cstring>

namespace vorn::textcodec {
namespace {

// The runtime context, made on the first call of any function and never freed. The
// interpreter lock keeps it from being made twice.
bool initialized = false;
BuiltinRegistry* builtin_registry = nullptr;
PlatformRegistry* platform_registry = nullptr;

void ensure_init() noexcept {
    if (initialized) return;
    builtin_registry = builtin_registry_new();
    vorn_register_all_builtins(builtin_registry);
    platform_registry = platform_registry_new();
    vorn_set_thread_context(platform_registry, builtin_registry);
    vorn_type_of_type_init();
    initialized = true;
}

// Owns a text printed by the runtime until the end of the scope.
struct PrintedText {
    char* p;
    ~PrintedText() { std::free(p); }
};

// The runtime's text, decoded strictly up to its first NUL.
PyObject* decode(const char* text) noexcept {
    return PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(std::strlen(text)), "strict");
}

PyObject* parse_failed(PyObject* text) noexcept {
    Ref shown = Ref::steal(PyUnicode_Substring(text, 0, 100));
    if (!shown) return nullptr;
    PyErr_Format(PyExc_ValueError, "vorn-c parse failed for: %U", shown.get());
    return nullptr;
}

PyObject* print_value(NativeFunction*, PyObject* const* args) noexcept {
    ensure_init();
    TypeHandle type(conversions.py_type_to_c(args[0]));
    if (!type) return nullptr;
    ValueHandle value(conversions.py_value_to_c(args[1], type.get()));
    if (!value) return nullptr;
    PrintedText text{vorn_print_value(value.get(), type.get())};
    value.reset();
    if (!text.p) {
        PyErr_SetString(PyExc_RuntimeError, "vorn-c vorn_print_value returned NULL");
        return nullptr;
    }
    return decode(text.p);
}

PyObject* print_type(NativeFunction*, PyObject* const* args) noexcept {
    ensure_init();
    TypeHandle type(conversions.py_type_to_c(args[0]));
    if (!type) return nullptr;
    PrintedText text{vorn_print_type(type.get())};
    type.reset();
    if (!text.p) {
        PyErr_SetString(PyExc_RuntimeError, "vorn-c vorn_print_type returned NULL");
        return nullptr;
    }
    return decode(text.p);
}

PyObject* parse_value(NativeFunction*, PyObject* const* args) noexcept {
    PyObject* text = args[1];
    if (text != Py_None && !PyUnicode_CheckExact(text)) {
        raise_argument_type("text", "str", text);
        return nullptr;
    }
    ensure_init();
    TypeHandle type(conversions.py_type_to_c(args[0]));
    if (!type) return nullptr;
    if (text == Py_None) {
        PyErr_Format(PyExc_AttributeError, "'NoneType' object has no attribute '%.30s'", "encode");
        return nullptr;
    }
    // ASCII text is its own UTF-8; anything else is encoded into a temporary, so the
    // caller's str is not left holding a cached UTF-8 copy of itself.
    Py_ssize_t size;
    Ref encoded;
    const char* utf8;
    if (PyUnicode_IS_COMPACT_ASCII(text)) {
        utf8 = PyUnicode_AsUTF8AndSize(text, &size);
    } else {
        encoded = Ref::steal(PyUnicode_AsUTF8String(text));
        if (!encoded) return nullptr;
        utf8 = PyBytes_AS_STRING(encoded.get());
        size = PyBytes_GET_SIZE(encoded.get());
    }
    if (!utf8) return nullptr;
    // The runtime reads up to the first NUL; a text holding one would be cut there
    // and a prefix of it taken for the whole. Such a text does not parse.
    if (std::memchr(utf8, '\0', static_cast<size_t>(size))) return parse_failed(text);
    ValueHandle value(vorn_parse_value(utf8, type.get()));
    if (!value) return parse_failed(text);
    return conversions.c_value_to_py(value.get(), type.get());
}

}  // namespace

const FunctionSpec print_value_spec{"_print_value", "_print_value", kModuleName,
                                    "Print an Vorn value to text format via vorn-c.", 2, 2,
                                    {"py_type", "value"}, print_value};
const FunctionSpec print_type_spec{"_print_type", "_print_type", kModuleName,
                                   "Print an Vorn type to text format via vorn-c.", 1, 1, {"py_type"}, print_type};
const FunctionSpec parse_value_spec{"_parse_value", "_parse_value", kModuleName,
                                    "Parse Vorn text format into a value via vorn-c.", 2, 2,
                                    {"py_type", "text"}, parse_value};

void reset_runtime_context() noexcept {
    initialized = false;
    builtin_registry = nullptr;
    platform_registry = nullptr;
}

}  // namespace vorn::textcodec
