// cy_is_for: the identity function of each kind, by the table of its build steps.
#include "vorn/utils/build_entry.hpp"
#include "vorn/utils/build_recursive.hpp"
#include "vorn/utils/builder_docs.hpp"
#include "vorn/utils/identity_functions.hpp"
#include "vorn/utils/leaf_functions.hpp"

namespace vorn::sortkit {
namespace {

constexpr Rebindable kSelf = Rebindable::IsFor;
constexpr const char* kLambda = "cy_is_for.<locals>.<lambda>";

// ---- The leaf identity functions, as published -------------------------------------------

const NativeSpec never_spec =
    equality_spec<never_native>("is_never", "cy_is_for.<locals>.is_never", kIgnoredParams, kIgnoresContext);
const NativeSpec null_spec = equality_spec<true_native>("lambda10", kLambda, kIgnoredParams, kIgnoresContext);
const NativeSpec boolean_spec = equality_spec<python_equal_native>("lambda11", kLambda, kValueParams, kIgnoresContext);
const NativeSpec integer_spec = equality_spec<python_equal_native>("lambda12", kLambda, kValueParams, kIgnoresContext);
const NativeSpec float_spec =
    equality_spec<is_float_native>("is_float", "cy_is_for.<locals>.is_float", kValueParams, kIgnoresContext);
const NativeSpec string_spec = equality_spec<python_equal_native>("lambda13", kLambda, kValueParams, kIgnoresContext);
const NativeSpec datetime_spec = equality_spec<same_instant_native>("lambda14", kLambda, kValueParams, kIgnoresContext);
const NativeSpec blob_spec =
    equality_spec<is_blob_native>("is_blob", "cy_is_for.<locals>.is_blob", kValueParams, kIgnoresContext);
// The containers and references: the same object.
const NativeSpec vector_spec = equality_spec<same_object_native>("lambda16", kLambda, kValueParams, kIgnoresContext);
const NativeSpec matrix_spec = equality_spec<same_object_native>("lambda17", kLambda, kValueParams, kIgnoresContext);
const NativeSpec array_spec = equality_spec<same_object_native>("lambda18", kLambda, kValueParams, kIgnoresContext);
const NativeSpec set_spec = equality_spec<same_object_native>("lambda19", kLambda, kValueParams, kIgnoresContext);
const NativeSpec dict_spec = equality_spec<same_object_native>("lambda20", kLambda, kValueParams, kIgnoresContext);
const NativeSpec ref_spec = equality_spec<same_object_native>("lambda21", kLambda, kValueParams, kIgnoresContext);

// ---- The composite steps ----------------------------------------------------------------

PyObject* function_step(PyObject*, PyObject*) noexcept {
    PyErr_SetString(PyExc_RuntimeError, "Attempted to compare values of type .Function");
    return nullptr;
}

constexpr BuildRow kSteps[] = {
    {Kind::Never, leaf_step<never_spec>},
    {Kind::Null, leaf_step<null_spec>},
    {Kind::Boolean, leaf_step<boolean_spec>},
    {Kind::Integer, leaf_step<integer_spec>},
    {Kind::Float, leaf_step<float_spec>},
    {Kind::String, leaf_step<string_spec>},
    {Kind::DateTime, leaf_step<datetime_spec>},
    {Kind::Blob, leaf_step<blob_spec>},
    {Kind::Vector, leaf_step<vector_spec>},
    {Kind::Matrix, leaf_step<matrix_spec>},
    {Kind::Array, leaf_step<array_spec>},
    {Kind::Set, leaf_step<set_spec>},
    {Kind::Dict, leaf_step<dict_spec>},
    {Kind::Ref, leaf_step<ref_spec>},
    {Kind::Struct, struct_step<kSelf, is_struct_spec>},
    {Kind::Variant, variant_step<kSelf, is_variant_spec, NameRead::AfterBuild>},
    {Kind::Recursive, recursive_step<kSelf, is_recursive_spec, IdText::Str>},
    {Kind::Function, function_step},
    // Never classified: is_async_function_type is not asked.
    {Kind::AsyncFunction, unknown_step<IdText::Str>},
    {Kind::Unknown, unknown_step<IdText::Str>},
};
static_assert(covers_every_kind(kSteps));

constexpr Builder kBuilder{" in cy_is_for", Kind::Function, kSteps, nullptr};

PyObject* cy_is_for_impl(NativeFunction*, PyObject* const* args) noexcept {
    return build_entry(kBuilder, args);
}

}  // namespace

const FunctionSpec cy_is_for_spec = function_spec(
    "cy_is_for", "cy_is_for", kModuleName, Params{2, 1, {"type_val", "type_ctx"}}, cy_is_for_impl, 0, kIsForDoc);

}  // namespace vorn::sortkit
