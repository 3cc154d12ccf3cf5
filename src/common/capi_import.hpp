// Binding C functions that another extension module exports in its `__pyx_capi__`
// dict of capsules, each named by the function's C signature.
#pragma once

#include "common/ref.hpp"

namespace vorn {

// The `__pyx_capi__` dict of module `module_name` (imported). New reference, or null.
PyObject* import_capi_table(const char* module_name) noexcept;

// The pointer of the capsule `table[function]`, whose name must equal `signature`
// exactly. ImportError when the entry is missing, TypeError when the capsule's name
// differs. Returns null with an exception set on failure.
void* capi_function(PyObject* table, const char* module_name, const char* function,
                    const char* signature) noexcept;

// Publishes `fn` in `module.__pyx_capi__` (made when absent) under `function`, as a
// capsule named `signature`. 0, or -1 with an exception set.
int export_capi_function(PyObject* module, const char* function, void* fn,
                         const char* signature) noexcept;

}  // namespace vorn
