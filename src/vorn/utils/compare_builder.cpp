// cy_compare_for: dispatch on the kind of a type descriptor, the leaf comparers
// (Never, Null, Boolean, Integer, Float, String, DateTime, Blob, Function), the
// recursive forwarder, and what the composite builders share.
#include "common/compat.hpp"
#include "vorn/utils/builder_docs.hpp"
#include "vorn/utils/compare_builders.hpp"
#include "vorn/utils/type_context.hpp"

#include <cstring>

namespace vorn::sortkit {
namespace {

// ---- Leaf comparers -------------------------------------------------------------------

PyObject* compare_never(NativeFunction*, PyObject* const*) noexcept {
    PyErr_SetString(PyExc_RuntimeError, "Attempted to compare values of type .Never");
    return nullptr;
}

PyObject* compare_nothing(NativeFunction*, PyObject* const*) noexcept { return three_way(0); }

PyObject* compare_bool(NativeFunction*, PyObject* const* a) noexcept {
    int x, y;
    if (to_truth(a[0], &x) < 0 || to_truth(a[1], &y) < 0) return nullptr;
    return three_way(x - y);
}

PyObject* compare_int(NativeFunction*, PyObject* const* a) noexcept {
    int64_t x, y;
    if (short_int_value(a[0], &x) && short_int_value(a[1], &y)) return three_way(compare_int64(x, y));
    if (to_int64(a[0], &x) < 0 || to_int64(a[1], &y) < 0) return nullptr;
    return three_way(compare_int64(x, y));
}

PyObject* compare_float(NativeFunction*, PyObject* const* a) noexcept {
    double x, y;
    if (to_double(a[0], &x) < 0 || to_double(a[1], &y) < 0) return nullptr;
    return three_way(compare_double(x, y));
}

// Any two objects that Python orders with `<` and `>`; exact strs without a rich
// comparison.
PyObject* compare_string(NativeFunction*, PyObject* const* a) noexcept {
    PyObject *x = a[0], *y = a[1];
    if (PyUnicode_CheckExact(x) && PyUnicode_CheckExact(y)) {
        int c = PyUnicode_Compare(x, y);
        if (c == -1 && PyErr_Occurred()) return nullptr;
        return three_way(c < 0 ? -1 : c > 0 ? 1 : 0);
    }
    int lt = PyObject_RichCompareBool(x, y, Py_LT);
    if (lt < 0) return nullptr;
    if (lt) return three_way(-1);
    int gt = PyObject_RichCompareBool(x, y, Py_GT);
    if (gt < 0) return nullptr;
    return three_way(gt ? 1 : 0);
}

int timestamp(PyObject* v, double* out) noexcept {
    Ref t = Ref::steal(PyObject_CallMethodNoArgs(v, str<"timestamp">()));
    return t ? to_double(t.get(), out) : -1;
}

PyObject* compare_datetime(NativeFunction*, PyObject* const* a) noexcept {
    double x, y;
    if (timestamp(a[0], &x) < 0 || timestamp(a[1], &y) < 0) return nullptr;
    return three_way(y > x ? -1 : x > y ? 1 : 0);
}

// `v.data` for a VornBlob, else `v` itself. New reference, or null.
PyObject* blob_bytes(PyObject* v, PyObject* blob_class) noexcept {
    int is_blob = PyObject_IsInstance(v, blob_class);
    if (is_blob < 0) return nullptr;
    return is_blob ? PyObject_GetAttr(v, str<"data">()) : Py_NewRef(v);
}

PyObject* compare_blob(NativeFunction*, PyObject* const* a) noexcept {
    // Looked up at every call, as a module attribute may be rebound.
    Ref blob_class = Ref::steal(global(str<"VornBlob">()));
    if (!blob_class) return nullptr;
    Ref x = Ref::steal(blob_bytes(a[0], blob_class.get()));
    if (!x) return nullptr;
    Ref y = Ref::steal(blob_bytes(a[1], blob_class.get()));
    if (!y) return nullptr;
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

#define LEAF(var, name, qual, p0, p1, impl)                                                  \
    const FunctionSpec var{name, qual, kModuleName, nullptr, 3, 2, {p0, p1, "_ctx"}, impl, \
                           kIgnoresContext}

LEAF(never_spec, "compare_never", "cy_compare_for.<locals>.compare_never", "_x", "_y", compare_never);
LEAF(null_spec, "lambda", "cy_compare_for.<locals>.<lambda>", "_x", "_y", compare_nothing);
LEAF(bool_spec, "compare_bool", "cy_compare_for.<locals>.compare_bool", "x", "y", compare_bool);
LEAF(int_spec, "compare_int", "cy_compare_for.<locals>.compare_int", "x", "y", compare_int);
LEAF(float_spec, "compare_float", "cy_compare_for.<locals>.compare_float", "x", "y", compare_float);
LEAF(string_spec, "compare_string", "cy_compare_for.<locals>.compare_string", "x", "y",
     compare_string);
LEAF(datetime_spec, "compare_datetime", "cy_compare_for.<locals>.compare_datetime", "x", "y",
     compare_datetime);
LEAF(blob_spec, "compare_blob", "cy_compare_for.<locals>.compare_blob", "x", "y", compare_blob);
LEAF(function_spec, "lambda1", "cy_compare_for.<locals>.<lambda>", "_x", "_y", compare_nothing);

#undef LEAF

const FunctionSpec compare_recursive_spec{
    "compare_recursive", "cy_compare_for.<locals>.compare_recursive", kModuleName, nullptr,
    3, 2, {"x", "y", "ctx"}, forward_recursive, kForwardsContext};

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
        case Kind::Vector: return build_vector(type_val, type_ctx);
        case Kind::Matrix: return build_matrix(type_val, type_ctx);
        case Kind::Array: return build_array(type_val, type_ctx);
        case Kind::Set: return build_set(type_val, type_ctx);
        case Kind::Dict: return build_dict(type_val, type_ctx);
        case Kind::Ref: return build_ref(type_val, type_ctx);
        case Kind::Struct: return build_struct(type_val, type_ctx);
        case Kind::Variant: return build_variant(type_val, type_ctx);
        case Kind::Recursive:
            return build_recursive(type_val, type_ctx,
                                   RecursiveBuilder{"cy_compare_for", &compare_recursive_spec});
        case Kind::Function:
        case Kind::AsyncFunction: return make_function(function_spec).release();
        case Kind::Unknown: break;
    }
    return raise_unknown_type(type_val);
}

}  // namespace

const FunctionSpec cy_compare_for_spec{"cy_compare_for", "cy_compare_for", kModuleName,
                                       kCompareForDoc, 2, 1, {"type_val", "type_ctx"},
                                       cy_compare_for_impl};

// ---- Shared by the composite builders ---------------------------------------------------

PyObject* build_component(PyObject* component, PyObject* type_ctx) noexcept {
    return build_nested("cy_compare_for", component, type_ctx);
}

ScalarOrder scalar_order(PyObject* comparer) noexcept {
    if (!is_native_function(comparer)) return ScalarOrder::None;
    const FunctionSpec* s = reinterpret_cast<NativeFunction*>(comparer)->spec;
    if (s == &int_spec || s == &cy_compare_int_spec) return ScalarOrder::Int64;
    if (s == &float_spec || s == &cy_compare_float_spec) return ScalarOrder::Double;
    // cy_compare_string checks for exact strs, which is all a key mirrors.
    if (s == &string_spec || s == &cy_compare_string_spec) return ScalarOrder::String;
    return ScalarOrder::None;
}

int object_result(PyObject* r) noexcept {
    if (PyLong_CheckExact(r)) return !compat::int_is_zero(r);
    static PyObject* zero = PyLong_FromLong(0);  // the interpreter's cached 0, kept
    if (!zero) return -1;
    Ref ne = Ref::steal(PyObject_RichCompare(r, zero, Py_NE));
    return ne ? PyObject_IsTrue(ne.get()) : -1;
}

PyObject* item_at(PyObject* seq, Py_ssize_t i) noexcept {
    if (PyList_CheckExact(seq)) {
        if (i < PyList_GET_SIZE(seq)) return Py_NewRef(PyList_GET_ITEM(seq, i));
        PyErr_SetString(PyExc_IndexError, "list index out of range");
        return nullptr;
    }
    if (PyTuple_CheckExact(seq)) {
        if (i < PyTuple_GET_SIZE(seq)) return Py_NewRef(PyTuple_GET_ITEM(seq, i));
        PyErr_SetString(PyExc_IndexError, "tuple index out of range");
        return nullptr;
    }
    Ref index = Ref::steal(PyLong_FromSsize_t(i));
    return index ? PyObject_GetItem(seq, index.get()) : nullptr;
}

}  // namespace vorn::sortkit
