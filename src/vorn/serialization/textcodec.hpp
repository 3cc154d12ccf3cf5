// State and functions of vorn.serialization._textcodec, the text codec over the C
// runtime.
#pragma once

#include "common/function.hpp"
#include "vorn/conversions.hpp"
#include "vorn/vorn_c.h"

namespace vorn::textcodec {

inline constexpr const char* kModuleName = "vorn.serialization._textcodec";

// The conversion functions of vorn._vornc_bridge, the first three bound at start-up.
extern Conversions conversions;

// Resets the one-time runtime context record (start-up).
void reset_runtime_context() noexcept;

// The three module functions.
extern const FunctionSpec print_value_spec;
extern const FunctionSpec print_type_spec;
extern const FunctionSpec parse_value_spec;

}  // namespace vorn::textcodec
