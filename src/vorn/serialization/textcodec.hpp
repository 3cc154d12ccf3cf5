// State and functions of vorn.serialization._textcodec, the text codec over the C
// runtime.
#pragma once

#include "common/function.hpp"
#include "vorn/vorn_c.h"

namespace vorn::textcodec {

inline constexpr const char* kModuleName = "vorn.serialization._textcodec";

// The conversion functions of vorn._vornc_bridge, bound at start-up.
using PyTypeToC = VornType* (*)(PyObject*);
using PyValueToC = VornValue* (*)(PyObject*, VornType*);
using CValueToPy = PyObject* (*)(VornValue*, VornType*);

struct Conversions {
    PyTypeToC py_type_to_c = nullptr;
    PyValueToC py_value_to_c = nullptr;
    CValueToPy c_value_to_py = nullptr;
};
extern Conversions conversions;

// Binds the three conversion functions; 0, or -1 with an exception set.
int bind_conversions() noexcept;

// Resets the one-time runtime context record (start-up).
void reset_runtime_context() noexcept;

// The three module functions.
extern const FunctionSpec print_value_spec;
extern const FunctionSpec print_type_spec;
extern const FunctionSpec parse_value_spec;

}  // namespace vorn::textcodec
