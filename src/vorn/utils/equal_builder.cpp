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

const NativeSpec equal_never_spec = equality_spec<never_native>(
    "equal_never", "cy_equal_for.<locals>.equal_never", kIgnoredParams, kIgnoresContext);
const NativeSpec null_spec = equality_spec<true_native>("lambda2", kLambda, kIgnoredParams, kIgnoresContext);
const NativeSpec boolean_spec = equality_spec<python_equal_native>("lambda3", kLambda, kValueParams, kIgnoresContext);
const NativeSpec integer_spec = equality_spec<python_equal_native>("lambda4", kLambda, kValueParams, kIgnoresContext);
const NativeSpec string_spec = equality_spec<python_equal_native>("lambda5", kLambda, kValueParams, kIgnoresContext);
const NativeSpec datetime_spec = equality_spec<python_equal_native>("lambda6", kLambda, kValueParams, kIgnoresContext);
const NativeSpec function_leaf_spec = equality_spec<true_native>("lambda9", kLambda, kIgnoredParams, kIgnoresContext);
const NativeSpec equal_float_spec = equality_spec<equal_float_native>(
    "equal_float", "cy_equal_for.<locals>.equal_float", kValueParams, kIgnoresContext);
const NativeSpec equal_recursive_spec = equality_spec<forward_equal>(
    "equal_recursive", "cy_equal_for.<locals>.equal_recursive", kContextParams, kForwardsContext);

// The function for a kind found by the predicates. New reference, or null.
PyObject* build_kind(Kind kind, PyObject* type_val, PyObject* type_ctx) noexcept {
    const FunctionSpec* leaf = nullptr;
    const FunctionSpec* over_value = nullptr;  // built over the function of type_val.value
    switch (kind) {
        case Kind::Never: leaf = &equal_never_spec.function; break;
        case Kind::Null: leaf = &null_spec.function; break;
        case Kind::Boolean: leaf = &boolean_spec.function; break;
        case Kind::Integer: leaf = &integer_spec.function; break;
        case Kind::Float: leaf = &equal_float_spec.function; break;
        case Kind::String: leaf = &string_spec.function; break;
        case Kind::DateTime: leaf = &datetime_spec.function; break;
        case Kind::Blob: leaf = &equal_blob_spec.function; break;
        case Kind::Set: leaf = &equal_set_spec.function; break;
        case Kind::Function:
        case Kind::AsyncFunction: leaf = &function_leaf_spec.function; break;
        case Kind::Vector: over_value = &equal_vector_spec.function; break;
        case Kind::Matrix: over_value = &equal_matrix_spec.function; break;
        case Kind::Array: over_value = &equal_array_spec.function; break;
        case Kind::Ref:
            if (import_value_classes({"VornRef"}) < 0) return nullptr;
            over_value = &equal_ref_spec.function;
            break;
        case Kind::Dict: {
            Ref entry_types = Ref::steal(PyObject_GetAttr(type_val, str<"value">()));
            if (!entry_types) return nullptr;
            Ref value_type = Ref::steal(subscript(entry_types.get(), str<"value">()));
            return build_over_component(kEqualBuilder, value_type.get(), type_ctx, equal_dict_spec.function);
        }
        case Kind::Struct: return build_struct_function(kEqualBuilder, type_val, type_ctx, equal_struct_spec.function);
        case Kind::Variant:
            return build_variant_function(kEqualBuilder, type_val, type_ctx, equal_variant_spec.function, NameRead::First);
        case Kind::Recursive:
            return build_recursive(type_val, type_ctx, RecursiveBuilder{kEqualBuilder, &equal_recursive_spec.function});
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

const FunctionSpec cy_equal_for_spec = function_spec(
    "cy_equal_for", "cy_equal_for", kModuleName, Params{2, 1, {"type_val", "type_ctx"}}, cy_equal_for_impl, 0,
    kEqualForDoc);

}  // namespace vorn::sortkit
