// The ordering module's chief header: the scalar orders shared by the comparers,
// equality and identity functions, and what the module's files share.
#pragma once

#include "common/function.hpp"
#include "common/module.hpp"
#include "common/recursion.hpp"
#include "common/ref.hpp"
#include "common/strings.hpp"

#include <cmath>
#include <cstdint>
#include <initializer_list>

namespace vorn::sortkit {

inline constexpr const char* kModuleName = "vorn.utils._sortkit";

// ---- Scalar orders on native values -------------------------------------------------

inline int compare_int64(int64_t a, int64_t b) noexcept { return (a > b) - (a < b); }

// NaN is greatest and equal to itself; -0.0 is below +0.0.
inline int compare_double(double a, double b) noexcept {
    if (std::isnan(a)) return std::isnan(b) ? 0 : 1;
    if (std::isnan(b)) return -1;
    if (a == 0.0 && b == 0.0) {
        double sa = std::copysign(1.0, a), sb = std::copysign(1.0, b);
        if (sa < 0 && sb > 0) return -1;
        if (sa > 0 && sb < 0) return 1;
    }
    if (b > a) return -1;
    if (a > b) return 1;
    return 0;
}

// Float equality: NaN equals NaN, -0.0 does not equal +0.0.
inline bool equal_double(double a, double b) noexcept {
    if (std::isnan(a)) return std::isnan(b);
    if (a == 0.0 && b == 0.0) return std::copysign(1.0, a) == std::copysign(1.0, b);
    return a == b;
}

// Float identity: NaN is identical to NaN, 0.0 and -0.0 are identical.
inline bool identical_double(double a, double b) noexcept {
    if (std::isnan(a) && std::isnan(b)) return true;
    return a == b;
}

// ---- Conversions to native values (each: 0, or -1 with an exception set) -----------

// Python truth; True, False and None without a call.
int to_truth(PyObject* o, int* out) noexcept;
// A signed 64-bit integer: an int (or subclass) as it is, anything else via __int__.
int to_int64(PyObject* o, int64_t* out) noexcept;
// A signed 32-bit integer by the same rules (component results of comparers).
int to_int32(PyObject* o, int32_t* out) noexcept;
// A double: an exact float directly, anything else by the interpreter's conversion.
int to_double(PyObject* o, double* out) noexcept;

// Closure state `i` of one of the module's functions (borrowed), or null with
// RuntimeError when it is empty: while the function's own build is still filling it
// (a predicate can reach the half-made function), or after the collector cleared it.
inline PyObject* state_of(NativeFunction* self, int i) noexcept {
    PyObject* s = self->state[i];
    if (!s)
        PyErr_Format(PyExc_RuntimeError, "%U called before its build finished or after it was cleared",
                     self->qualname);
    return s;
}

// -1, 0 or 1 as the interpreter's cached small int.
inline PyObject* three_way(int r) noexcept { return PyLong_FromLong(r); }

// True when `fn` is one of our functions that never reads a comparison context, so
// a caller holding None need not make one for it.
inline bool ignores_context(PyObject* fn) noexcept {
    return is_native_function(fn) &&
           (reinterpret_cast<NativeFunction*>(fn)->spec->flags & kIgnoresContext);
}

// ---- Module state -------------------------------------------------------------------

extern ModuleSetup module_setup;

// The module's namespace, where builders look up predicates and builders.
inline PyObject* globals() noexcept { return module_setup.globals; }

// Looks up a module global (falling back to the built-ins); a new reference, or null
// with NameError set.
inline PyObject* global(PyObject* name) noexcept { return lookup_global(globals(), name); }

// Built-ins kept at start-up (borrowed, alive for the process).
struct KeptBuiltins {
    PyObject* not_implemented;
    PyObject* id;
    PyObject* sorted;
    PyObject* zip;
};
extern KeptBuiltins builtins;

// The kinds of type, in the order the builders test their predicates.
enum class Kind : int {
    Never, Null, Boolean, Integer, Float, String, DateTime, Blob, Vector, Matrix, Array, Set,
    Dict, Ref, Struct, Variant, Recursive, Function, AsyncFunction, Unknown
};

// Calls the predicates (looked up in the module namespace at every call) in order, up
// to and including `last`, and gives the first kind whose predicate is true, or
// Kind::Unknown when none is. Returns 0, or -1 with an exception set.
int classify(PyObject* type_val, Kind last, Kind* out) noexcept;

// The name of the predicate of `kind` ("is_never_type", ...).
const char* predicate_name(Kind kind) noexcept;

// How a value is written into a build error: as format() writes it (cy_compare_for,
// cy_equal_for) or as str() does (cy_is_for); a str is unchanged either way.
enum class IdText { Format, Str };
inline PyObject* as_text(PyObject* o, IdText how) noexcept {
    return how == IdText::Str ? PyObject_Str(o) : PyObject_Format(o, nullptr);
}

// Raises RuntimeError "Unknown type encountered during type printing: <type_val.type>"
// and returns null.
PyObject* raise_unknown_type(PyObject* type_val, IdText how = IdText::Format) noexcept;

// `from <from> import <names>`; ImportError "cannot import name %S" for a missing
// name. Binds each in `bind_into` unless it is null. 0, or -1 with an exception set.
int import_from(const char* from, std::initializer_list<const char*> names,
                PyObject* bind_into = nullptr) noexcept;

// `from vorn.types.values import <names>`, the classes not kept (builds need only the
// import's success).
inline int import_value_classes(std::initializer_list<const char*> names) noexcept {
    return import_from("vorn.types.values", names);
}

// ---- Module functions, each defined in its own file ----------------------------------

extern const FunctionSpec cy_compare_bool_spec, cy_compare_int_spec, cy_compare_float_spec,
    cy_compare_string_spec, cy_equal_float_spec;
extern const FunctionSpec cy_compare_for_spec;   // compare_builder.cpp
extern const FunctionSpec cy_equal_for_spec;     // equal_builder.cpp
extern const FunctionSpec cy_is_for_spec;        // identity_builder.cpp
extern const FunctionSpec cy_make_vorn_key_spec; // sort_key_class.cpp
extern const FunctionSpec unpickle_key_spec;     // sort_key_pickle.cpp

// The key class CyVornKey (sort_key.cpp): made, readied and prepared for pickling.
extern PyTypeObject* key_type;
int make_key_type(PyObject* module) noexcept;

}  // namespace vorn::sortkit
