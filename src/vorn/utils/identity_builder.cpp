// cy_is_for: dispatch on the kind of type and the identity functions it returns.
#include "vorn/utils/builder_docs.hpp"
#include "vorn/utils/equal_builders.hpp"
#include "vorn/utils/member_builds.hpp"
#include "vorn/utils/type_context.hpp"

#include <cstring>
#include <iterator>

namespace vorn::sortkit {
namespace {

constexpr const char* kBuilder = "cy_is_for";
constexpr const char* kLambda = "cy_is_for.<locals>.<lambda>";

PyObject* is_never_impl(NativeFunction*, PyObject* const*) noexcept {
    PyErr_SetString(PyExc_RuntimeError, "Attempted to compare values of type .Never");
    return nullptr;
}

PyObject* always_true_impl(NativeFunction*, PyObject* const*) noexcept { Py_RETURN_TRUE; }

PyObject* python_equal_impl(NativeFunction*, PyObject* const* a) noexcept {
    return PyObject_RichCompare(a[0], a[1], Py_EQ);
}

PyObject* same_object_impl(NativeFunction*, PyObject* const* a) noexcept {
    return PyBool_FromLong(a[0] == a[1]);
}

PyObject* is_float_impl(NativeFunction*, PyObject* const* a) noexcept {
    double x, y;
    if (to_double(a[0], &x) < 0 || to_double(a[1], &y) < 0) return nullptr;
    return PyBool_FromLong(identical_double(x, y));
}

// `x.timestamp() == y.timestamp()` as Python returns it.
PyObject* same_instant_impl(NativeFunction*, PyObject* const* a) noexcept {
    Ref tx = Ref::steal(PyObject_CallMethodNoArgs(a[0], str<"timestamp">()));
    if (!tx) return nullptr;
    Ref ty = Ref::steal(PyObject_CallMethodNoArgs(a[1], str<"timestamp">()));
    if (!ty) return nullptr;
    return PyObject_RichCompare(tx.get(), ty.get(), Py_EQ);
}

// `v.data` for an instance of VornBlob (as the module namespace binds it now), else `v`.
PyObject* blob_data(PyObject* v, PyObject* blob_class) noexcept {
    int is_blob = PyObject_IsInstance(v, blob_class);
    if (is_blob < 0) return nullptr;
    return is_blob ? PyObject_GetAttr(v, str<"data">()) : Py_NewRef(v);
}

// Pairs of `zip(x, y, strict=True)` all equal by `==`: 1, 0, or -1 with an exception
// set (the zip's ValueError when the iterations differ in length).
int all_zipped_equal(PyObject* x, PyObject* y) noexcept {
    Ref kwnames = Ref::steal(PyTuple_Pack(1, str<"strict">()));
    if (!kwnames) return -1;
    PyObject* args[3] = {x, y, Py_True};
    Ref pairs = Ref::steal(PyObject_Vectorcall(builtins.zip, args, 2, kwnames.get()));
    if (!pairs) return -1;
    while (Ref pair = Ref::steal(PyIter_Next(pairs.get()))) {
        int t = compare_truth(PyTuple_GET_ITEM(pair.get(), 0), PyTuple_GET_ITEM(pair.get(), 1), Py_EQ);
        if (t <= 0) return t;
    }
    return PyErr_Occurred() ? -1 : 1;
}

PyObject* is_blob_impl(NativeFunction*, PyObject* const* a) noexcept {
    Ref blob_class = Ref::steal(global(str<"VornBlob">()));
    if (!blob_class) return nullptr;
    Ref x = Ref::steal(blob_data(a[0], blob_class.get()));
    if (!x) return nullptr;
    Ref y = Ref::steal(blob_data(a[1], blob_class.get()));
    if (!y) return nullptr;
    Py_ssize_t n;
    int differ = lengths_differ(x.get(), y.get(), &n);
    if (differ != 0) return differ < 0 ? nullptr : Py_NewRef(Py_False);
    if (PyBytes_CheckExact(x.get()) && PyBytes_CheckExact(y.get())) {
        return PyBool_FromLong(std::memcmp(PyBytes_AS_STRING(x.get()), PyBytes_AS_STRING(y.get()),
                                           static_cast<size_t>(n)) == 0);
    }
    int t = all_zipped_equal(x.get(), y.get());
    return t < 0 ? nullptr : PyBool_FromLong(t);
}

PyObject* is_struct_impl(NativeFunction* self, PyObject* const* a) noexcept {
    RecursionGuard guard(" in is_struct");
    if (guard.failed()) return nullptr;
    Ref fields = Ref::borrow(closure(self, 0));
    if (!fields) return nullptr;
    int t = all_fields_true(fields.get(), a[0], a[1], a[2]);
    return t < 0 ? nullptr : PyBool_FromLong(t);
}

PyObject* is_variant_impl(NativeFunction* self, PyObject* const* a) noexcept {
    PyObject *x = a[0], *y = a[1];
    RecursionGuard guard(" in is_variant");
    if (guard.failed()) return nullptr;
    PyObject* cases = closure(self, 0);
    if (!cases) return nullptr;
    Ref x_tag = Ref::steal(item(x, str<"type">()));
    if (!x_tag) return nullptr;
    Ref y_tag = Ref::steal(item(y, str<"type">()));
    if (!y_tag) return nullptr;
    int differ = compare_truth(x_tag.get(), y_tag.get(), Py_NE);
    if (differ != 0) return differ < 0 ? nullptr : Py_NewRef(Py_False);
    x_tag = Ref::steal(item(x, str<"type">()));  // read again for the lookup
    if (!x_tag) return nullptr;
    Ref case_fn = Ref::steal(item(cases, x_tag.get()));
    if (!case_fn) return nullptr;
    Ref xv = Ref::steal(item(x, str<"value">()));
    if (!xv) return nullptr;
    Ref yv = Ref::steal(item(y, str<"value">()));
    if (!yv) return nullptr;
    return call3(case_fn.get(), xv.get(), yv.get(), a[2]);
}

// Rows 1 to 14 of the dispatch, by kind.
const FunctionSpec leaf_specs[] = {
    leaf_spec("is_never", "cy_is_for.<locals>.is_never", "_x", "_y", is_never_impl),
    leaf_spec("lambda10", kLambda, "_x", "_y", always_true_impl),            // Null
    leaf_spec("lambda11", kLambda, "x", "y", python_equal_impl),             // Boolean
    leaf_spec("lambda12", kLambda, "x", "y", python_equal_impl),             // Integer
    leaf_spec("is_float", "cy_is_for.<locals>.is_float", "x", "y", is_float_impl),
    leaf_spec("lambda13", kLambda, "x", "y", python_equal_impl),             // String
    leaf_spec("lambda14", kLambda, "x", "y", same_instant_impl),             // DateTime
    leaf_spec("is_blob", "cy_is_for.<locals>.is_blob", "x", "y", is_blob_impl),
    leaf_spec("lambda16", kLambda, "x", "y", same_object_impl),              // Vector
    leaf_spec("lambda17", kLambda, "x", "y", same_object_impl),              // Matrix
    leaf_spec("lambda18", kLambda, "x", "y", same_object_impl),              // Array
    leaf_spec("lambda19", kLambda, "x", "y", same_object_impl),              // Set
    leaf_spec("lambda20", kLambda, "x", "y", same_object_impl),              // Dict
    leaf_spec("lambda21", kLambda, "x", "y", same_object_impl),              // Ref
};
static_assert(std::size(leaf_specs) == static_cast<size_t>(Kind::Ref) + 1);

const FunctionSpec is_struct_spec =
    context_spec("is_struct", "cy_is_for.<locals>.is_struct", is_struct_impl, 0);
const FunctionSpec is_variant_spec =
    context_spec("is_variant", "cy_is_for.<locals>.is_variant", is_variant_impl, 0);
const FunctionSpec is_recursive_spec =
    context_spec("is_recursive", "cy_is_for.<locals>.is_recursive", forward_recursive, kForwardsContext);

PyObject* build_kind(Kind kind, PyObject* type_val, PyObject* type_ctx) noexcept {
    switch (kind) {
        case Kind::Struct: return build_struct_function(kBuilder, type_val, type_ctx, is_struct_spec);
        case Kind::Variant: return build_variant_function(kBuilder, type_val, type_ctx, is_variant_spec,
                                                               NameRead::AfterBuild);
        case Kind::Recursive:
            return build_recursive(type_val, type_ctx, RecursiveBuilder{kBuilder, &is_recursive_spec, IdText::Str});
        case Kind::Function:
            PyErr_SetString(PyExc_RuntimeError, "Attempted to compare values of type .Function");
            return nullptr;
        case Kind::AsyncFunction:  // never classified: is_async_function_type is not asked
        case Kind::Unknown: return raise_unknown_type(type_val, IdText::Str);
        default: return make_function(leaf_specs[static_cast<int>(kind)]).release();
    }
}

PyObject* cy_is_for_impl(NativeFunction*, PyObject* const* args) noexcept {
    // Nested types build through nested calls: guard the C stack.
    RecursionGuard guard(" in cy_is_for");
    if (guard.failed()) return nullptr;
    PyObject* type_val = args[0];
    Ref type_ctx = Ref::borrow(args[1]);
    if (type_ctx.get() == Py_None && !(type_ctx = Ref::steal(PyDict_New()))) return nullptr;
    Kind kind;
    if (classify(type_val, Kind::Function, &kind) < 0) return nullptr;
    return build_kind(kind, type_val, type_ctx.get());
}

}  // namespace

const FunctionSpec cy_is_for_spec{"cy_is_for", "cy_is_for", kModuleName, kIsForDoc,
    2, 1, {"type_val", "type_ctx"}, cy_is_for_impl};

}  // namespace vorn::sortkit
