// The one shape of the three builders: a table from kind to build step, checked
// complete against the kind list when it is compiled, and one entry that classifies a
// descriptor and runs its kind's step.
#pragma once

#include "vorn/utils/build_composites.hpp"
#include "vorn/utils/build_recursive.hpp"
#include "vorn/utils/sortkit.hpp"

namespace vorn::sortkit {

// The function of one kind for the descriptor `type_val`, built with the type context
// `type_ctx`. New reference, or null with an exception set.
using BuildStep = PyObject* (*)(PyObject* type_val, PyObject* type_ctx) noexcept;

struct BuildRow {
    Kind kind;
    BuildStep step;
};

// Whether `rows` holds one row for each kind, Unknown included, in the order of Kind
// (so that a kind indexes its row).
template <size_t N>
constexpr bool covers_every_kind(const BuildRow (&rows)[N]) {
    if (N != static_cast<size_t>(kKindCount)) return false;
    for (size_t i = 0; i < N; ++i) {
        if (rows[i].kind != static_cast<Kind>(i)) return false;
    }
    return true;
}

// The step of a leaf kind: the function of `Spec`, closing over nothing.
template <const NativeSpec& Spec>
PyObject* leaf_step(PyObject*, PyObject*) noexcept {
    return make_function(Spec.function).release();
}

// The step of a kind no predicate recognised (and of one the builder does not ask
// about): RuntimeError "Unknown type encountered during type printing".
template <IdText How>
PyObject* unknown_step(PyObject* type_val, PyObject*) noexcept {
    return raise_unknown_type(type_val, How);
}

// The steps of the composite kinds, for the builder `Self` (called again for the
// components) and the function declared by `Spec` (a NativeSpec or a FunctionSpec).
inline const FunctionSpec& function_of(const NativeSpec& spec) noexcept { return spec.function; }
inline const FunctionSpec& function_of(const FunctionSpec& spec) noexcept { return spec; }

// Over the function built for the payload `t.value`.
template <Rebindable Self, const auto& Spec>
PyObject* over_payload_step(PyObject* t, PyObject* type_ctx) noexcept {
    return build_over_payload(Self, t, type_ctx, function_of(Spec));
}
// Over the VornRef class imported, then the function built for the payload.
template <Rebindable Self, const auto& Spec>
PyObject* ref_step(PyObject* t, PyObject* type_ctx) noexcept {
    if (import_value_classes({"VornRef"}) < 0) return nullptr;
    return build_over_payload(Self, t, type_ctx, function_of(Spec));
}
template <Rebindable Self, const auto& Spec>
PyObject* struct_step(PyObject* t, PyObject* type_ctx) noexcept {
    return build_struct_function(Self, t, type_ctx, function_of(Spec));
}
template <Rebindable Self, const auto& Spec, NameRead Order>
PyObject* variant_step(PyObject* t, PyObject* type_ctx) noexcept {
    return build_variant_function(Self, t, type_ctx, function_of(Spec), Order);
}
// The forwarder of `Spec` (see build_recursive.hpp); a scope id in the error of an
// unresolved reference written as `How` writes it.
template <Rebindable Self, const auto& Spec, IdText How = IdText::Format>
PyObject* recursive_step(PyObject* t, PyObject* type_ctx) noexcept {
    return build_recursive(t, type_ctx, RecursiveBuilder{Self, &function_of(Spec), How});
}

// What sets one builder apart.
struct Builder {
    const char* where;          // names a build in RecursionError
    Kind last;                  // the last kind whose predicate is asked
    const BuildRow* steps;      // by kind (covers_every_kind)
    int (*prepare)() noexcept;  // run before the predicates, or null: 0, or -1
};

// The builder's Python entry (type_val, type_ctx=None): a None type context becomes a
// new dict, the descriptor is classified and its kind's step run. Nested builds
// recurse through here: a deeply nested descriptor ends in RecursionError, not a C
// stack overflow. New reference, or null.
PyObject* build_entry(const Builder& builder, PyObject* const* args) noexcept;

}  // namespace vorn::sortkit
