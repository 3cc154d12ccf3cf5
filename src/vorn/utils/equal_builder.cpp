// cy_equal_for: dispatch on the kind of type, the leaf equality functions and the
// recursive forwarder equal_recursive.
#include "vorn/utils/builder_docs.hpp"
#include "vorn/utils/equal_builders.hpp"
#include "vorn/utils/member_builds.hpp"
#include "vorn/utils/type_context.hpp"

namespace vorn::sortkit {
namespace {

constexpr const char* kBuilder = "cy_equal_for";
constexpr const char* kLambda = "cy_equal_for.<locals>.<lambda>";

PyObject* equal_never_impl(NativeFunction*, PyObject* const*) noexcept {
    PyErr_SetString(PyExc_RuntimeError, "Attempted to compare values of type .Never");
    return nullptr;
}

PyObject* always_true_impl(NativeFunction*, PyObject* const*) noexcept { Py_RETURN_TRUE; }

// `x == y` as Python returns it.
PyObject* python_equal_impl(NativeFunction*, PyObject* const* a) noexcept {
    return PyObject_RichCompare(a[0], a[1], Py_EQ);
}

PyObject* equal_float_impl(NativeFunction*, PyObject* const* a) noexcept {
    double x, y;
    if (to_double(a[0], &x) < 0 || to_double(a[1], &y) < 0) return nullptr;
    return PyBool_FromLong(equal_double(x, y));
}

const FunctionSpec equal_never_spec =
    leaf_spec("equal_never", "cy_equal_for.<locals>.equal_never", "_x", "_y", equal_never_impl);
const FunctionSpec null_spec = leaf_spec("lambda2", kLambda, "_x", "_y", always_true_impl);
const FunctionSpec boolean_spec = leaf_spec("lambda3", kLambda, "x", "y", python_equal_impl);
const FunctionSpec integer_spec = leaf_spec("lambda4", kLambda, "x", "y", python_equal_impl);
const FunctionSpec string_spec = leaf_spec("lambda5", kLambda, "x", "y", python_equal_impl);
const FunctionSpec datetime_spec = leaf_spec("lambda6", kLambda, "x", "y", python_equal_impl);
const FunctionSpec function_spec = leaf_spec("lambda9", kLambda, "_x", "_y", always_true_impl);

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
        case Kind::AsyncFunction: leaf = &function_spec; break;
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
            Ref value_type = Ref::steal(item(entry_types.get(), str<"value">()));
            return build_over_component(kBuilder, value_type.get(), type_ctx, equal_dict_spec);
        }
        case Kind::Struct: return build_struct_function(kBuilder, type_val, type_ctx, equal_struct_spec);
        case Kind::Variant: return build_variant_function(kBuilder, type_val, type_ctx, equal_variant_spec);
        case Kind::Recursive:
            return build_recursive(type_val, type_ctx, RecursiveBuilder{kBuilder, &equal_recursive_spec});
        case Kind::Unknown: return raise_unknown_type(type_val);
    }
    if (leaf) return make_function(*leaf).release();
    Ref component_type = Ref::steal(PyObject_GetAttr(type_val, str<"value">()));
    return build_over_component(kBuilder, component_type.get(), type_ctx, *over_value);
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

const FunctionSpec equal_recursive_spec =
    context_spec("equal_recursive", "cy_equal_for.<locals>.equal_recursive", forward_recursive, kForwardsContext);
const FunctionSpec equal_float_spec =
    leaf_spec("equal_float", "cy_equal_for.<locals>.equal_float", "x", "y", equal_float_impl);

const FunctionSpec cy_equal_for_spec{"cy_equal_for", "cy_equal_for", kModuleName, kEqualForDoc,
    2, 1, {"type_val", "type_ctx"}, cy_equal_for_impl};

}  // namespace vorn::sortkit
