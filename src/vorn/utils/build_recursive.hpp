// Building the function of a recursive type, shared by the three builders: a wrapper
// binds its scope id in the type context to a forwarder while its inner type is built;
// a reference resolves through the type context.
#pragma once

#include "vorn/utils/sortkit.hpp"

namespace vorn::sortkit {

// What differs between the builders' handling of Recursive types.
struct RecursiveBuilder {
    Rebindable builder;             // cy_compare_for: called for nested builds; its name
                                    // is the prefix of the unresolved-reference message
    const FunctionSpec* forwarder;  // compare_recursive / equal_recursive / is_recursive,
                                    // made with one state item: the one-slot cell
    IdText id_text = IdText::Format;  // how a scope id is written in that message
};

// Builds the function of a descriptor whose is_recursive_type was true: for a
// wrapper, the inner type's function (the type context restored on every path);
// for a reference, what the type context holds for its id. New reference, or null.
PyObject* build_recursive(PyObject* type_val, PyObject* type_ctx,
                          const RecursiveBuilder& builder) noexcept;

// Type-context operations: get (None when absent), item assignment, pop(key, None).
// Exact dicts directly, any other mapping through its methods.
PyObject* context_get(PyObject* type_ctx, PyObject* key) noexcept;  // new reference
int context_set(PyObject* type_ctx, PyObject* key, PyObject* value) noexcept;
int context_pop(PyObject* type_ctx, PyObject* key) noexcept;

}  // namespace vorn::sortkit
