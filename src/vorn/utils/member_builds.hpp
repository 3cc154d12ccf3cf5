// Build steps shared by cy_equal_for and cy_is_for. `builder_name` names the builder
// that nested builds call through the module namespace ("cy_equal_for").
#pragma once

#include "vorn/utils/sortkit.hpp"

namespace vorn::sortkit {

// A function of `spec` over the function built for `component_type` (state 0).
// A null `component_type` (a failed read) is passed on. New reference, or null.
PyObject* build_over_component(const char* builder_name, PyObject* component_type,
                               PyObject* type_ctx, const FunctionSpec& spec) noexcept;

// A function of `spec` over a list of (field name, function) pairs, one per record of
// `type_val.value` in order; the function is made first and holds the list itself.
PyObject* build_struct_function(const char* builder_name, PyObject* type_val, PyObject* type_ctx,
                                const FunctionSpec& spec) noexcept;

// When a member record's "name" is read: before its "type" (`name = r["name"]`,
// then the build), or after the build (`cases[r["name"]] = build(r["type"])`).
enum class NameRead { First, AfterBuild };

// A function of `spec` over a dict from case name to function (a repeated name keeps
// the last one), one entry per record of `type_val.value`.
PyObject* build_variant_function(const char* builder_name, PyObject* type_val, PyObject* type_ctx,
                                 const FunctionSpec& spec, NameRead order = NameRead::First) noexcept;

}  // namespace vorn::sortkit
