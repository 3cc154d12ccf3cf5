// cy_equal_for: dispatch on the kind of type, the leaf equality functions and the
// recursive forwarder equal_recursive.
#include "vorn/utils/builder_docs.hpp"
#include "vorn/utils/composites.hpp"
#include "vorn/utils/equal_builders.hpp"
#include "vorn/utils/leaf_functions.hpp"
#include "vorn/utils/type_context.hpp"
#include "vorn/utils/value_access.hpp"

namespace vorn::sortkit {
namespace {

constexpr const char* kLambda = "cy_equal_for.<locals>.<lambda>";

const FunctionSpec equal_never_spec = function_spec(
    "equal_never", "cy_equal_for.<locals>.equal_never", kModuleName, kIgnoredParams, never_impl, kIgnoresContext);
const FunctionSpec null_spec = function_spec("lambda2", kLambda, kModuleName, kIgnoredParams, true_impl, kIgnoresContext);
const FunctionSpec boolean_spec =
    function_spec("lambda3", kLambda, kModuleName, kValueParams, python_equal_impl, kIgnoresContext);
const FunctionSpec integer_spec =
    function_spec("lambda4", kLambda, kModuleName, kValueParams, python_equal_impl, kIgnoresContext);
const FunctionSpec string_spec =
    function_spec("lambda5", kLambda, kModuleName, kValueParams, python_equal_impl, kIgnoresContext);
const FunctionSpec datetime_spec =
    function_spec("lambda6", kLambda, kModuleName, kValueParams, python_equal_impl, kIgnoresContext);
const FunctionSpec function_leaf_spec =
    function_spec("lambda9", kLambda, kModuleName, kIgnoredParams, true_impl, kIgnoresContext);
const FunctionSpec equal_recursive_spec = function_spec(
    "equal_recursive", "cy_equal_for.<locals>.equal_recursive", kModuleName, kContextParams, forward_recursive,
    kForwardsContext);

// The function for a kind found by the predicates. New reference, or null.
PyObject* build_kind(Kind kind, PyObject* type_val, PyObject* type_ctx) noexcept {
    const FunctionSpec* leaf = nullptr;
    const FunctionSpec* over_value = nullptr;  // built over the function of type_val.value
    switch (kind) {
        case Kind::Never: leaf = &equal_never_spec; break;
        case Kind::Null: leaf = &null_spec; break;
        case Kind::Boolean: leaf = &boolean_spec; break;
        case Kind::Integer: leaf = &integer_spec; break;
        case Kind::Float: leaf = &equal_float_spec; break;
        case Kind::String: leaf = &string_spec; break;
        case Kind::DateTime: leaf = &datetime_spec; break;
        case Kind::Blob: leaf = &equal_blob_spec; break;
        case Kind::Set: leaf = &equal_set_spec; break;
        case Kind::Function:
        case Kind::AsyncFunction: leaf = &function_leaf_spec; break;
        case Kind::Vector: over_value = &equal_vector_spec; break;
        case Kind::Matrix: over_value = &equal_matrix_spec; break;
        case Kind::Array: over_value = &equal_array_spec; break;
        case Kind::Ref:
            if (import_value_classes({"VornRef"}) < 0) return nullptr;
            over_value = &equal_ref_spec;
            break;
        case Kind::Dict: {
            Ref entry_types = Ref::steal(PyObject_GetAttr(type_val, str<"value">()));
            if (!entry_types) return nullptr;
            Ref value_type = Ref::steal(subscript(entry_types.get(), str<"value">()));
            return build_over_component(kEqualBuilder, value_type.get(), type_ctx, equal_dict_spec);
        }
        case Kind::Struct: return build_struct_function(kEqualBuilder, type_val, type_ctx, equal_struct_spec);
        case Kind::Variant:
            return build_variant_function(kEqualBuilder, type_val, type_ctx, equal_variant_spec, NameRead::First);
        case Kind::Recursive:
            return build_recursive(type_val, type_ctx, RecursiveBuilder{kEqualBuilder, &equal_recursive_spec});
        case Kind::Unknown: return raise_unknown_type(type_val);
    }
    if (leaf) return make_function(*leaf).release();
    Ref component_type = Ref::steal(PyObject_GetAttr(type_val, str<"value">()));
    return build_over_component(kEqualBuilder, component_type.get(), type_ctx, *over_value);
}

PyObject* cy_equal_for_impl(NativeFunction*, PyObject* const* args) noexcept {
    // Nested types build through nested calls: guard the C stack.
    RecursionGuard guard(" in cy_equal_for");
    if (guard.failed()) return nullptr;
    PyObject* type_val = args[0];
    Ref type_ctx = Ref::borrow(args[1]);
    if (type_ctx.get() == Py_None && !(type_ctx = Ref::steal(PyDict_New()))) return nullptr;
    if (import_value_classes({"VornArray", "VornDict", "VornSet"}) < 0) return nullptr;
    Kind kind;
    if (classify(type_val, Kind::AsyncFunction, &kind) < 0) return nullptr;
    return build_kind(kind, type_val, type_ctx.get());
}

}  // namespace

const FunctionSpec equal_float_spec = function_spec(
    "equal_float", "cy_equal_for.<locals>.equal_float", kModuleName, kValueParams, equal_float_impl, kIgnoresContext);

const FunctionSpec cy_equal_for_spec = function_spec(
    "cy_equal_for", "cy_equal_for", kModuleName, Params{2, 1, {"type_val", "type_ctx"}}, cy_equal_for_impl, 0,
    kEqualForDoc);

}  // namespace vorn::sortkit
