// How the three builders make a composite function and what they fill it with: one
// component function, Struct fields, Variant cases. The function is always made
// first and filled as its components are built, so that a build that reaches it
// half-made (through a predicate) finds empty slots, which raise when read.
#pragma once

#include "vorn/utils/sortkit.hpp"

#include <initializer_list>

namespace vorn::sortkit {

// Calls the builder `builder` (looked up in the module namespace at each call) with
// (type_val, type_ctx). New reference, or null.
PyObject* build_nested(Rebindable builder, PyObject* type_val, PyObject* type_ctx) noexcept;

// A function of `spec` whose component (slot 0) is the function built for
// `component_type`; `extra` fills the slots after it. A null `component_type` (a
// failed read) is passed on. New reference, or null.
PyObject* build_over_component(Rebindable builder, PyObject* component_type, PyObject* type_ctx,
                               const FunctionSpec& spec, std::initializer_list<PyObject*> extra = {}) noexcept;

// build_over_component over the function built for the descriptor's payload `t.value`.
PyObject* build_over_payload(Rebindable builder, PyObject* t, PyObject* type_ctx, const FunctionSpec& spec) noexcept;

// When a member record's "name" is read: before its "type" (`name = r["name"]`,
// then the build), or after the build (`cases[r["name"]] = build(r["type"])`).
enum class NameRead { First, AfterBuild };

// A function of `spec` over the field list: one (name, function) pair per record of
// `type_val.value`, in order. The function holds the list while it fills, then the
// list frozen to a field table.
PyObject* build_struct_function(Rebindable builder, PyObject* type_val, PyObject* type_ctx,
                                const FunctionSpec& spec) noexcept;

// A function of `spec` over the case table: a dict from case name to function (a
// repeated name keeps the last one), one entry per record of `type_val.value`.
PyObject* build_variant_function(Rebindable builder, PyObject* type_val, PyObject* type_ctx,
                                 const FunctionSpec& spec, NameRead order) noexcept;

}  // namespace vorn::sortkit
