// cy_compare_for: dispatch on the kind of a type descriptor, the leaf comparers
// (Never, Null, Boolean, Integer, Float, String, DateTime, Blob, Function), the
// recursive forwarder, and what reads a comparer's order.
#include "common/compat.hpp"
#include "vorn/utils/builder_docs.hpp"
#include "vorn/utils/compare_builders.hpp"
#include "vorn/utils/composites.hpp"
#include "vorn/utils/leaf_functions.hpp"
#include "vorn/utils/type_context.hpp"
#include "vorn/utils/value_access.hpp"

#include <cstring>

namespace vorn::sortkit {
namespace {

// ---- Leaf comparers -------------------------------------------------------------------

int timestamp(PyObject* v, double* out) noexcept {
    Ref t = Ref::steal(PyObject_CallMethodNoArgs(v, str<"timestamp">()));
    return t ? to_double(t.get(), out) : -1;
}

PyObject* compare_datetime(NativeFunction*, PyObject* const* a) noexcept {
    double x, y;
    if (timestamp(a[0], &x) < 0 || timestamp(a[1], &y) < 0) return nullptr;
    return three_way(y > x ? -1 : x > y ? 1 : 0);
}

PyObject* compare_blob(NativeFunction*, PyObject* const* a) noexcept {
    Ref x, y;
    if (blob_pair(a, &x, &y) < 0) return nullptr;
    Py_ssize_t lx, ly;
    if (PyBytes_CheckExact(x.get()) && PyBytes_CheckExact(y.get())) {
        // Byte by byte as unsigned values, exactly as the generic walk below orders them.
        lx = PyBytes_GET_SIZE(x.get());
        ly = PyBytes_GET_SIZE(y.get());
        int c = std::memcmp(PyBytes_AS_STRING(x.get()), PyBytes_AS_STRING(y.get()),
                            static_cast<size_t>(lx < ly ? lx : ly));
        if (c) return three_way(c < 0 ? -1 : 1);
    } else {
        lx = PyObject_Size(x.get());
        if (lx < 0) return nullptr;
        ly = PyObject_Size(y.get());
        if (ly < 0) return nullptr;
        for (Py_ssize_t i = 0, n = lx < ly ? lx : ly; i < n; ++i) {
            Ref xi = Ref::steal(item_at(x.get(), i));
            if (!xi) return nullptr;
            Ref yi = Ref::steal(item_at(y.get(), i));
            if (!yi) return nullptr;
            int lt = PyObject_RichCompareBool(xi.get(), yi.get(), Py_LT);
            if (lt < 0) return nullptr;
            if (lt) return three_way(-1);
            int gt = PyObject_RichCompareBool(xi.get(), yi.get(), Py_GT);
            if (gt < 0) return nullptr;
            if (gt) return three_way(1);
        }
    }
    return three_way(lx < ly ? -1 : lx > ly ? 1 : 0);
}

const FunctionSpec never_spec = function_spec(
    "compare_never", "cy_compare_for.<locals>.compare_never", kModuleName, kIgnoredParams, never_impl, kIgnoresContext);
const FunctionSpec null_spec = function_spec(
    "lambda", "cy_compare_for.<locals>.<lambda>", kModuleName, kIgnoredParams, zero_impl, kIgnoresContext);
const FunctionSpec bool_spec = function_spec(
    "compare_bool", "cy_compare_for.<locals>.compare_bool", kModuleName, kValueParams, compare_bool_impl,
    kIgnoresContext);
const FunctionSpec int_spec = function_spec(
    "compare_int", "cy_compare_for.<locals>.compare_int", kModuleName, kValueParams, compare_int_impl,
    kIgnoresContext);
const FunctionSpec float_spec = function_spec(
    "compare_float", "cy_compare_for.<locals>.compare_float", kModuleName, kValueParams, compare_float_impl,
    kIgnoresContext);
const FunctionSpec string_spec = function_spec(
    "compare_string", "cy_compare_for.<locals>.compare_string", kModuleName, kValueParams,
    compare_ordered_impl, kIgnoresContext);
const FunctionSpec datetime_spec = function_spec(
    "compare_datetime", "cy_compare_for.<locals>.compare_datetime", kModuleName, kValueParams,
    compare_datetime, kIgnoresContext);
const FunctionSpec blob_spec = function_spec(
    "compare_blob", "cy_compare_for.<locals>.compare_blob", kModuleName, kValueParams, compare_blob,
    kIgnoresContext);
const FunctionSpec function_leaf_spec = function_spec(
    "lambda1", "cy_compare_for.<locals>.<lambda>", kModuleName, kIgnoredParams, zero_impl, kIgnoresContext);
const FunctionSpec compare_recursive_spec = function_spec(
    "compare_recursive", "cy_compare_for.<locals>.compare_recursive", kModuleName, kContextParams,
    forward_recursive, kForwardsContext);

// The descriptor `t.value`. New reference, or null.
PyObject* payload_of(PyObject* t) noexcept { return PyObject_GetAttr(t, str<"value">()); }

// The comparer of a composite kind. New reference, or null.
PyObject* build_composite(Kind kind, PyObject* t, PyObject* type_ctx) noexcept {
    const FunctionSpec* over_payload = nullptr;  // built over the comparer of t.value
    switch (kind) {
        case Kind::Vector: over_payload = &compare_vector_spec; break;
        case Kind::Matrix: over_payload = &compare_matrix_spec; break;
        case Kind::Array: over_payload = &compare_array_spec; break;
        case Kind::Ref:
            if (import_value_classes({"VornRef"}) < 0) return nullptr;
            over_payload = &compare_ref_spec;
            break;
        case Kind::Set: return build_set(t, type_ctx);
        case Kind::Dict: return build_dict(t, type_ctx);
        case Kind::Struct: return build_struct_function(kCompareBuilder, t, type_ctx, compare_struct_spec);
        case Kind::Variant:
            return build_variant_function(kCompareBuilder, t, type_ctx, compare_variant_spec, NameRead::AfterBuild);
        default: return raise_unknown_type(t);
    }
    Ref component_type = Ref::steal(payload_of(t));
    return build_over_component(kCompareBuilder, component_type.get(), type_ctx, *over_payload);
}

// ---- The builder ----------------------------------------------------------------------

PyObject* cy_compare_for_impl(NativeFunction*, PyObject* const* args) noexcept {
    PyObject* type_val = args[0];
    PyObject* type_ctx = args[1];
    // Nested builds recurse through here: a deeply nested descriptor must end in
    // RecursionError, not overflow the C stack.
    RecursionGuard guard(" while building a comparer");
    if (guard.failed()) return nullptr;
    Ref own_ctx;
    if (type_ctx == Py_None) {
        own_ctx = Ref::steal(PyDict_New());
        if (!own_ctx) return nullptr;
        type_ctx = own_ctx.get();
    }
    Kind kind;
    if (classify(type_val, Kind::AsyncFunction, &kind) < 0) return nullptr;
    switch (kind) {
        case Kind::Never: return make_function(never_spec).release();
        case Kind::Null: return make_function(null_spec).release();
        case Kind::Boolean: return make_function(bool_spec).release();
        case Kind::Integer: return make_function(int_spec).release();
        case Kind::Float: return make_function(float_spec).release();
        case Kind::String: return make_function(string_spec).release();
        case Kind::DateTime: return make_function(datetime_spec).release();
        case Kind::Blob: return make_function(blob_spec).release();
        case Kind::Vector:
        case Kind::Matrix:
        case Kind::Array:
        case Kind::Set:
        case Kind::Dict:
        case Kind::Ref:
        case Kind::Struct:
        case Kind::Variant: return build_composite(kind, type_val, type_ctx);
        case Kind::Recursive:
            return build_recursive(type_val, type_ctx, RecursiveBuilder{kCompareBuilder, &compare_recursive_spec});
        case Kind::Function:
        case Kind::AsyncFunction: return make_function(function_leaf_spec).release();
        case Kind::Unknown: break;
    }
    return raise_unknown_type(type_val);
}

}  // namespace

const FunctionSpec cy_compare_for_spec = function_spec(
    "cy_compare_for", "cy_compare_for", kModuleName, Params{2, 1, {"type_val", "type_ctx"}},
    cy_compare_for_impl, 0, kCompareForDoc);

// ---- Reading comparers and their results ------------------------------------------------

ScalarOrder scalar_order(PyObject* comparer) noexcept {
    if (!is_native_function(comparer)) return ScalarOrder::None;
    const FunctionSpec* s = reinterpret_cast<NativeFunction*>(comparer)->spec;
    if (s->impl == compare_int_impl) return ScalarOrder::Int64;
    if (s->impl == compare_float_impl) return ScalarOrder::Double;
    // cy_compare_string checks for exact strs, which is all a key mirrors.
    if (s->impl == compare_ordered_impl || s == &cy_compare_string_spec) return ScalarOrder::String;
    return ScalarOrder::None;
}

int object_result(PyObject* r) noexcept {
    if (PyLong_CheckExact(r)) return !compat::int_is_zero(r);
    static PyObject* zero = PyLong_FromLong(0);  // the interpreter's cached 0, kept
    if (!zero) return -1;
    Ref ne = Ref::steal(PyObject_RichCompare(r, zero, Py_NE));
    return ne ? PyObject_IsTrue(ne.get()) : -1;
}

}  // namespace vorn::sortkit
