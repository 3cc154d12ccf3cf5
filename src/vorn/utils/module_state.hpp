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
