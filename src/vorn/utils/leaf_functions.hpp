// The bodies of the leaf functions: one native routine per behaviour, whatever names
// the builders and the module publish it under.
#pragma once

#include "vorn/utils/sortkit.hpp"

namespace vorn::sortkit {

// Raises RuntimeError "Attempted to compare values of type .Never".
PyObject* never_impl(NativeFunction*, PyObject* const*) noexcept;
// Returns 0 (comparers of Null and Function values).
PyObject* zero_impl(NativeFunction*, PyObject* const*) noexcept;
// Returns True (equality of Null and Function values).
PyObject* true_impl(NativeFunction*, PyObject* const*) noexcept;
// `x == y` as Python returns it.
PyObject* python_equal_impl(NativeFunction*, PyObject* const* a) noexcept;

// The scalar orders on (x, y): Boolean, Integer, Float, and any two objects that
// Python orders with `<` and `>` (String; exact strs without a rich comparison).
PyObject* compare_bool_impl(NativeFunction*, PyObject* const* a) noexcept;
PyObject* compare_int_impl(NativeFunction*, PyObject* const* a) noexcept;
PyObject* compare_float_impl(NativeFunction*, PyObject* const* a) noexcept;
PyObject* compare_ordered_impl(NativeFunction*, PyObject* const* a) noexcept;
// Float equality on (x, y): True or False.
PyObject* equal_float_impl(NativeFunction*, PyObject* const* a) noexcept;

// The bytes of two Blob values: `v.data` for an instance of VornBlob (looked up in
// the module namespace at each call, as the attribute may be rebound), else `v`
// itself; `x` first. 0, or -1 with an exception set.
int blob_pair(PyObject* const* a, Ref* x, Ref* y) noexcept;

}  // namespace vorn::sortkit
