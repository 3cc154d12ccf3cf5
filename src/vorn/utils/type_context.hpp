// Recursive types and the type context, shared by the three builders: a wrapper
// binds its scope id to a forwarder while its inner type is built; a reference
// resolves through the type context.
#pragma once

#include "vorn/utils/sortkit.hpp"

namespace vorn::sortkit {

// What differs between the builders' handling of Recursive types.
struct RecursiveBuilder {
    const char* builder_name;       // "cy_compare_for": looked up for nested builds, and
                                    // the prefix of the unresolved-reference message
    const FunctionSpec* forwarder;  // compare_recursive / equal_recursive / is_recursive,
                                    // made with one state item: the one-slot cell
    IdText id_text = IdText::Format;  // how a scope id is written in that message
};

// Builds the function of a descriptor whose is_recursive_type was true: for a
// wrapper, the inner type's function (the type context restored on every path);
// for a reference, what the type context holds for its id. New reference, or null.
PyObject* build_recursive(PyObject* type_val, PyObject* type_ctx,
                          const RecursiveBuilder& builder) noexcept;

// The C entry of every recursive forwarder (x, y, ctx=None): calls the function in
// the cell (state 0, a one-item list) with (x, y, ctx) and returns its result as is.
PyObject* forward_recursive(NativeFunction* self, PyObject* const* args) noexcept;

// Type-context operations: get (None when absent), item assignment, pop(key, None).
// Exact dicts directly, any other mapping through its methods.
PyObject* context_get(PyObject* type_ctx, PyObject* key) noexcept;  // new reference
int context_set(PyObject* type_ctx, PyObject* key, PyObject* value) noexcept;
int context_pop(PyObject* type_ctx, PyObject* key) noexcept;

}  // namespace vorn::sortkit
