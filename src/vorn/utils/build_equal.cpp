// cy_equal_for: the equality function of each kind, by the table of its build steps.
#include "vorn/utils/build_entry.hpp"
#include "vorn/utils/build_recursive.hpp"
#include "vorn/utils/builder_docs.hpp"
#include "vorn/utils/equal_functions.hpp"
#include "vorn/utils/leaf_functions.hpp"
#include "vorn/utils/value_access.hpp"

namespace vorn::sortkit {
namespace {

constexpr Rebindable kSelf = Rebindable::EqualFor;
constexpr const char* kLambda = "cy_equal_for.<locals>.<lambda>";

// ---- The leaf equality functions, as published --------------------------------------------

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
const NativeSpec equal_blob_spec = equality_spec<equal_blob_native>(
    "equal_blob", "cy_equal_for.<locals>.equal_blob", kValueParams, kIgnoresContext);

// ---- The composite steps ----------------------------------------------------------------

// Over the value function only: keys are matched by membership.
PyObject* dict_step(PyObject* t, PyObject* type_ctx) noexcept {
    Ref entry_types = Ref::steal(PyObject_GetAttr(t, str<"value">()));
    if (!entry_types) return nullptr;
    Ref value_type = Ref::steal(subscript(entry_types.get(), str<"value">()));
    return build_over_component(kSelf, value_type.get(), type_ctx, equal_dict_spec.function);
}

constexpr BuildRow kSteps[] = {
    {Kind::Never, leaf_step<equal_never_spec>},
    {Kind::Null, leaf_step<null_spec>},
    {Kind::Boolean, leaf_step<boolean_spec>},
    {Kind::Integer, leaf_step<integer_spec>},
    {Kind::Float, leaf_step<equal_float_spec>},
    {Kind::String, leaf_step<string_spec>},
    {Kind::DateTime, leaf_step<datetime_spec>},
    {Kind::Blob, leaf_step<equal_blob_spec>},
    {Kind::Vector, over_payload_step<kSelf, equal_vector_spec>},
    {Kind::Matrix, over_payload_step<kSelf, equal_matrix_spec>},
    {Kind::Array, over_payload_step<kSelf, equal_array_spec>},
    {Kind::Set, leaf_step<equal_set_spec>},
    {Kind::Dict, dict_step},
    {Kind::Ref, ref_step<kSelf, equal_ref_spec>},
    {Kind::Struct, struct_step<kSelf, equal_struct_spec>},
    {Kind::Variant, variant_step<kSelf, equal_variant_spec, NameRead::First>},
    {Kind::Recursive, recursive_step<kSelf, equal_recursive_spec>},
    {Kind::Function, leaf_step<function_leaf_spec>},
    {Kind::AsyncFunction, leaf_step<function_leaf_spec>},
    {Kind::Unknown, unknown_step<IdText::Format>},
};
static_assert(covers_every_kind(kSteps));

int import_collection_classes() noexcept { return import_value_classes({"VornArray", "VornDict", "VornSet"}); }

constexpr Builder kBuilder{" in cy_equal_for", Kind::AsyncFunction, kSteps, import_collection_classes};

PyObject* cy_equal_for_impl(NativeFunction*, PyObject* const* args) noexcept {
    return build_entry(kBuilder, args);
}

}  // namespace

const FunctionSpec cy_equal_for_spec = function_spec(
    "cy_equal_for", "cy_equal_for", kModuleName, Params{2, 1, {"type_val", "type_ctx"}}, cy_equal_for_impl, 0,
    kEqualForDoc);

}  // namespace vorn::sortkit
