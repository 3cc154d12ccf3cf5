// cy_compare_for: the comparer of each kind, by the table of its build steps.
#include "vorn/utils/build_entry.hpp"
#include "vorn/utils/build_recursive.hpp"
#include "vorn/utils/builder_docs.hpp"
#include "vorn/utils/compare_functions.hpp"
#include "vorn/utils/leaf_functions.hpp"
#include "vorn/utils/value_access.hpp"

namespace vorn::sortkit {
namespace {

constexpr Rebindable kSelf = Rebindable::CompareFor;

// ---- The leaf comparers, as published ----------------------------------------------------

const NativeSpec never_spec = comparer_spec<never_native>(
    "compare_never", "cy_compare_for.<locals>.compare_never", kIgnoredParams, kIgnoresContext);
const NativeSpec null_spec =
    comparer_spec<zero_native>("lambda", "cy_compare_for.<locals>.<lambda>", kIgnoredParams, kIgnoresContext);
const NativeSpec bool_spec = comparer_spec<compare_bool_native>(
    "compare_bool", "cy_compare_for.<locals>.compare_bool", kValueParams, kIgnoresContext);
const NativeSpec int_spec = comparer_spec<compare_int_native>(
    "compare_int", "cy_compare_for.<locals>.compare_int", kValueParams, kIgnoresContext);
const NativeSpec float_spec = comparer_spec<compare_float_native>(
    "compare_float", "cy_compare_for.<locals>.compare_float", kValueParams, kIgnoresContext);
const NativeSpec string_spec = comparer_spec<compare_ordered_native>(
    "compare_string", "cy_compare_for.<locals>.compare_string", kValueParams, kIgnoresContext);
const NativeSpec datetime_spec = comparer_spec<compare_datetime_native>(
    "compare_datetime", "cy_compare_for.<locals>.compare_datetime", kValueParams, kIgnoresContext);
const NativeSpec blob_spec = comparer_spec<compare_blob_native>(
    "compare_blob", "cy_compare_for.<locals>.compare_blob", kValueParams, kIgnoresContext);
const NativeSpec function_leaf_spec =
    comparer_spec<zero_native>("lambda1", "cy_compare_for.<locals>.<lambda>", kIgnoredParams, kIgnoresContext);

// ---- The composite steps ----------------------------------------------------------------

// Over the element comparer, with the element key class that cy_make_vorn_key makes
// (which builds its own comparer for the element type, without type_ctx).
PyObject* set_step(PyObject* t, PyObject* type_ctx) noexcept {
    Ref element_type = Ref::steal(PyObject_GetAttr(t, str<"value">()));
    Ref comparer = Ref::steal(build_over_component(kSelf, element_type.get(), type_ctx, compare_set_spec.function));
    if (!comparer) return nullptr;
    PyObject* args[1] = {element_type.get()};
    Ref keys = Ref::steal(call_rebindable(Rebindable::MakeVornKey, args, 1));
    if (!keys) return nullptr;
    fill_state(comparer.get(), slot::kKeyClass, std::move(keys));
    return comparer.release();
}

// Over the value comparer, with the key comparer built first.
PyObject* dict_step(PyObject* t, PyObject* type_ctx) noexcept {
    Ref payload = Ref::steal(PyObject_GetAttr(t, str<"value">()));
    if (!payload) return nullptr;
    Ref key_type_val = Ref::steal(subscript(payload.get(), str<"key">()));
    if (!key_type_val) return nullptr;
    Ref key_cmp = Ref::steal(build_nested(kSelf, key_type_val.get(), type_ctx));
    if (!key_cmp) return nullptr;
    Ref value_type_val = Ref::steal(subscript(payload.get(), str<"value">()));
    return build_over_component(kSelf, value_type_val.get(), type_ctx, compare_dict_spec.function, {key_cmp.get()});
}

constexpr BuildRow kSteps[] = {
    {Kind::Never, leaf_step<never_spec>},
    {Kind::Null, leaf_step<null_spec>},
    {Kind::Boolean, leaf_step<bool_spec>},
    {Kind::Integer, leaf_step<int_spec>},
    {Kind::Float, leaf_step<float_spec>},
    {Kind::String, leaf_step<string_spec>},
    {Kind::DateTime, leaf_step<datetime_spec>},
    {Kind::Blob, leaf_step<blob_spec>},
    {Kind::Vector, over_payload_step<kSelf, compare_vector_spec>},
    {Kind::Matrix, over_payload_step<kSelf, compare_matrix_spec>},
    {Kind::Array, over_payload_step<kSelf, compare_array_spec>},
    {Kind::Set, set_step},
    {Kind::Dict, dict_step},
    {Kind::Ref, ref_step<kSelf, compare_ref_spec>},
    {Kind::Struct, struct_step<kSelf, compare_struct_spec>},
    {Kind::Variant, variant_step<kSelf, compare_variant_spec, NameRead::AfterBuild>},
    {Kind::Recursive, recursive_step<kSelf, compare_recursive_spec>},
    {Kind::Function, leaf_step<function_leaf_spec>},
    {Kind::AsyncFunction, leaf_step<function_leaf_spec>},
    {Kind::Unknown, unknown_step<IdText::Format>},
};
static_assert(covers_every_kind(kSteps));

constexpr Builder kBuilder{" while building a comparer", Kind::AsyncFunction, kSteps, nullptr};

PyObject* cy_compare_for_impl(NativeFunction*, PyObject* const* args) noexcept {
    return build_entry(kBuilder, args);
}

}  // namespace

const FunctionSpec cy_compare_for_spec = function_spec(
    "cy_compare_for", "cy_compare_for", kModuleName, Params{2, 1, {"type_val", "type_ctx"}},
    cy_compare_for_impl, 0, kCompareForDoc);

}  // namespace vorn::sortkit
