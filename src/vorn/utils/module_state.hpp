// The ordering module's process-wide state: its namespace, the built-ins it keeps,
// imports, the module-level function specs and the key class.
#pragma once

#include "common/function.hpp"
#include "common/module.hpp"

#include <initializer_list>

namespace vorn::sortkit {

inline constexpr const char* kModuleName = "vorn.utils._sortkit";

extern ModuleSetup module_setup;

// The module's namespace, where builders look up predicates and builders.
inline PyObject* globals() noexcept { return module_setup.globals; }

// Looks up a module global (falling back to the built-ins); a new reference, or null
// with NameError set.
inline PyObject* global(PyObject* name) noexcept { return lookup_global(globals(), name); }

// ---- The names a caller may rebind in the module namespace --------------------------
//
// Every one of them is looked up at each use, never kept, so that rebinding the module
// attribute takes effect at once: the builders reach each other (and the key classes,
// and the predicates) only through these.
enum class Rebindable : int {
    CompareFor,    // cy_compare_for: nested comparer builds, the key class's comparer
    EqualFor,      // cy_equal_for: nested equality builds
    IsFor,         // cy_is_for: nested identity builds
    MakeVornKey,   // cy_make_vorn_key: a Set comparer's element key class
    VornBlob,      // VornBlob: what a Blob leaf reads `.data` of
    UnpickleKey,   // __pyx_unpickle_CyVornKey: what a pickled key is loaded by
    // The predicates, in the order of Kind (kinds.hpp): is_never_type ... is_async_function_type.
    FirstPredicate,
};

// The name of `which` (a static string), as it stands in the namespace.
const char* name_of(Rebindable which) noexcept;

// What `which` is bound to now. New reference, or null with NameError set.
PyObject* look_up(Rebindable which) noexcept;

// `which(*args)`, looked up now. New reference, or null with an exception set.
PyObject* call_rebindable(Rebindable which, PyObject* const* args, size_t nargs) noexcept;

// Built-ins looked up at start-up (a missing one fails the import): owned
// references, kept for the life of the process.
struct KeptBuiltins {
    PyObject* not_implemented;
    PyObject* id;
    PyObject* sorted;
    PyObject* zip;
};
extern KeptBuiltins builtins;

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
    cy_compare_string_spec, cy_equal_float_spec;  // scalar_functions.cpp
extern const FunctionSpec cy_compare_for_spec;     // compare_builder.cpp
extern const FunctionSpec cy_equal_for_spec;       // equal_builder.cpp
extern const FunctionSpec cy_is_for_spec;          // identity_builder.cpp
extern const FunctionSpec cy_make_vorn_key_spec;   // sort_key_class.cpp
extern const FunctionSpec unpickle_key_spec;       // sort_key_pickle.cpp

// The key class CyVornKey (sort_key.cpp): made, readied and prepared for pickling.
extern PyTypeObject* key_type;
int make_key_type(PyObject* module) noexcept;

}  // namespace vorn::sortkit
