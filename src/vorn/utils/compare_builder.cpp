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

int compare_datetime(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept {
    double a, b;
    if (timestamp(x, &a) < 0 || timestamp(y, &b) < 0) return kFailed;
    return b > a ? -1 : a > b ? 1 : 0;
}

int compare_blob(NativeFunction*, PyObject* xv, PyObject* yv, PyObject*, PyObject**) noexcept {
    PyObject* a[2] = {xv, yv};
    Ref x, y;
    if (blob_pair(a, &x, &y) < 0) return kFailed;
    Py_ssize_t lx, ly;
    if (PyBytes_CheckExact(x.get()) && PyBytes_CheckExact(y.get())) {
        // Byte by byte as unsigned values, exactly as the generic walk below orders them.
        lx = PyBytes_GET_SIZE(x.get());
        ly = PyBytes_GET_SIZE(y.get());
        int c = std::memcmp(PyBytes_AS_STRING(x.get()), PyBytes_AS_STRING(y.get()),
                            static_cast<size_t>(lx < ly ? lx : ly));
        if (c) return c < 0 ? -1 : 1;
    } else {
        lx = PyObject_Size(x.get());
        if (lx < 0) return kFailed;
        ly = PyObject_Size(y.get());
        if (ly < 0) return kFailed;
        for (Py_ssize_t i = 0, n = lx < ly ? lx : ly; i < n; ++i) {
            Ref xi = Ref::steal(item_at(x.get(), i));
            if (!xi) return kFailed;
            Ref yi = Ref::steal(item_at(y.get(), i));
            if (!yi) return kFailed;
            int lt = PyObject_RichCompareBool(xi.get(), yi.get(), Py_LT);
            if (lt < 0) return kFailed;
            if (lt) return -1;
            int gt = PyObject_RichCompareBool(xi.get(), yi.get(), Py_GT);
            if (gt < 0) return kFailed;
            if (gt) return 1;
        }
    }
    return lx < ly ? -1 : lx > ly ? 1 : 0;
}

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
const NativeSpec datetime_spec = comparer_spec<compare_datetime>(
    "compare_datetime", "cy_compare_for.<locals>.compare_datetime", kValueParams, kIgnoresContext);
const NativeSpec blob_spec = comparer_spec<compare_blob>(
    "compare_blob", "cy_compare_for.<locals>.compare_blob", kValueParams, kIgnoresContext);
const NativeSpec function_leaf_spec =
    comparer_spec<zero_native>("lambda1", "cy_compare_for.<locals>.<lambda>", kIgnoredParams, kIgnoresContext);

// The descriptor `t.value`. New reference, or null.
PyObject* payload_of(PyObject* t) noexcept { return PyObject_GetAttr(t, str<"value">()); }

// The comparer of a composite kind. New reference, or null.
PyObject* build_composite(Kind kind, PyObject* t, PyObject* type_ctx) noexcept {
    const FunctionSpec* over_payload = nullptr;  // built over the comparer of t.value
    switch (kind) {
        case Kind::Vector: over_payload = &compare_vector_spec.function; break;
        case Kind::Matrix: over_payload = &compare_matrix_spec.function; break;
        case Kind::Array: over_payload = &compare_array_spec.function; break;
        case Kind::Ref:
            if (import_value_classes({"VornRef"}) < 0) return nullptr;
            over_payload = &compare_ref_spec.function;
            break;
        case Kind::Set: return build_set(t, type_ctx);
        case Kind::Dict: return build_dict(t, type_ctx);
        case Kind::Struct: return build_struct_function(kCompareBuilder, t, type_ctx, compare_struct_spec.function);
        case Kind::Variant:
            return build_variant_function(kCompareBuilder, t, type_ctx, compare_variant_spec.function, NameRead::AfterBuild);
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
        case Kind::Never: return make_function(never_spec.function).release();
        case Kind::Null: return make_function(null_spec.function).release();
        case Kind::Boolean: return make_function(bool_spec.function).release();
        case Kind::Integer: return make_function(int_spec.function).release();
        case Kind::Float: return make_function(float_spec.function).release();
        case Kind::String: return make_function(string_spec.function).release();
        case Kind::DateTime: return make_function(datetime_spec.function).release();
        case Kind::Blob: return make_function(blob_spec.function).release();
        case Kind::Vector:
        case Kind::Matrix:
        case Kind::Array:
        case Kind::Set:
        case Kind::Dict:
        case Kind::Ref:
        case Kind::Struct:
        case Kind::Variant: return build_composite(kind, type_val, type_ctx);
        case Kind::Recursive:
            return build_recursive(type_val, type_ctx, RecursiveBuilder{kCompareBuilder, &compare_recursive_spec.function});
        case Kind::Function:
        case Kind::AsyncFunction: return make_function(function_leaf_spec.function).release();
        case Kind::Unknown: break;
    }
    return raise_unknown_type(type_val);
}

}  // namespace

const NativeSpec compare_recursive_spec = comparer_spec<forward_compare>(
    "compare_recursive", "cy_compare_for.<locals>.compare_recursive", kContextParams, kForwardsContext);

const FunctionSpec cy_compare_for_spec = function_spec(
    "cy_compare_for", "cy_compare_for", kModuleName, Params{2, 1, {"type_val", "type_ctx"}},
    cy_compare_for_impl, 0, kCompareForDoc);

// ---- Reading comparers and their results ------------------------------------------------

int object_result_of_call(PyObject* fn, PyObject* x, PyObject* y, PyObject* ctx, bool fresh,
                          PyObject** object) noexcept {
    int r = compare_component(fn, x, y, ctx, fresh, object);
    if (r != kObjectResult) return r;
    int nonzero = object_result(*object);
    if (nonzero > 0) return kObjectResult;
    Py_CLEAR(*object);
    return nonzero < 0 ? kFailed : 0;
}

int object_result(PyObject* r) noexcept {
    if (PyLong_CheckExact(r)) return !compat::int_is_zero(r);
    static PyObject* zero = PyLong_FromLong(0);  // the interpreter's cached 0, kept
    if (!zero) return -1;
    Ref ne = Ref::steal(PyObject_RichCompare(r, zero, Py_NE));
    return ne ? PyObject_IsTrue(ne.get()) : -1;
}

}  // namespace vorn::sortkit
