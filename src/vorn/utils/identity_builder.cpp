// cy_is_for: dispatch on the kind of type and the identity functions it returns.
#include "vorn/utils/builder_docs.hpp"
#include "vorn/utils/composites.hpp"
#include "vorn/utils/equal_builders.hpp"
#include "vorn/utils/leaf_functions.hpp"
#include "vorn/utils/type_context.hpp"
#include "vorn/utils/value_access.hpp"

#include <cstring>
#include <iterator>

namespace vorn::sortkit {
namespace {

constexpr const char* kBuilder = "cy_is_for";
constexpr const char* kLambda = "cy_is_for.<locals>.<lambda>";

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
    Ref x, y;
    if (blob_pair(a, &x, &y) < 0) return nullptr;
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
    Ref fields = Ref::steal(fields_of(self));
    if (!fields) return nullptr;
    int t = all_fields_true(fields.get(), a[0], a[1], a[2]);
    return t < 0 ? nullptr : PyBool_FromLong(t);
}

PyObject* is_variant_impl(NativeFunction* self, PyObject* const* a) noexcept {
    PyObject *x = a[0], *y = a[1];
    RecursionGuard guard(" in is_variant");
    if (guard.failed()) return nullptr;
    PyObject* cases = case_table(self);
    if (!cases) return nullptr;
    Ref x_tag;
    int differ = tags_differ(x, y, &x_tag);
    if (differ != 0) return differ < 0 ? nullptr : Py_NewRef(Py_False);
    x_tag = Ref::steal(subscript(x, str<"type">()));  // read again for the lookup
    if (!x_tag) return nullptr;
    Ref case_fn = Ref::steal(subscript(cases, x_tag.get()));
    if (!case_fn) return nullptr;
    Ref xv = Ref::steal(subscript(x, str<"value">()));
    if (!xv) return nullptr;
    Ref yv = Ref::steal(subscript(y, str<"value">()));
    if (!yv) return nullptr;
    return call3(case_fn.get(), xv.get(), yv.get(), a[2]);
}

// Rows 1 to 14 of the dispatch, by kind.
const FunctionSpec leaf_specs[] = {
    function_spec("is_never", "cy_is_for.<locals>.is_never", kModuleName, kIgnoredParams, never_impl, kIgnoresContext),
    function_spec("lambda10", kLambda, kModuleName, kIgnoredParams, true_impl, kIgnoresContext),          // Null
    function_spec("lambda11", kLambda, kModuleName, kValueParams, python_equal_impl, kIgnoresContext),    // Boolean
    function_spec("lambda12", kLambda, kModuleName, kValueParams, python_equal_impl, kIgnoresContext),    // Integer
    function_spec("is_float", "cy_is_for.<locals>.is_float", kModuleName, kValueParams, is_float_impl, kIgnoresContext),
    function_spec("lambda13", kLambda, kModuleName, kValueParams, python_equal_impl, kIgnoresContext),    // String
    function_spec("lambda14", kLambda, kModuleName, kValueParams, same_instant_impl, kIgnoresContext),    // DateTime
    function_spec("is_blob", "cy_is_for.<locals>.is_blob", kModuleName, kValueParams, is_blob_impl, kIgnoresContext),
    function_spec("lambda16", kLambda, kModuleName, kValueParams, same_object_impl, kIgnoresContext),     // Vector
    function_spec("lambda17", kLambda, kModuleName, kValueParams, same_object_impl, kIgnoresContext),     // Matrix
    function_spec("lambda18", kLambda, kModuleName, kValueParams, same_object_impl, kIgnoresContext),     // Array
    function_spec("lambda19", kLambda, kModuleName, kValueParams, same_object_impl, kIgnoresContext),     // Set
    function_spec("lambda20", kLambda, kModuleName, kValueParams, same_object_impl, kIgnoresContext),     // Dict
    function_spec("lambda21", kLambda, kModuleName, kValueParams, same_object_impl, kIgnoresContext),     // Ref
};
static_assert(std::size(leaf_specs) == static_cast<size_t>(Kind::Ref) + 1);

const FunctionSpec is_struct_spec =
    function_spec("is_struct", "cy_is_for.<locals>.is_struct", kModuleName, kContextParams, is_struct_impl);
const FunctionSpec is_variant_spec =
    function_spec("is_variant", "cy_is_for.<locals>.is_variant", kModuleName, kContextParams, is_variant_impl);
const FunctionSpec is_recursive_spec = function_spec(
    "is_recursive", "cy_is_for.<locals>.is_recursive", kModuleName, kContextParams, forward_recursive,
    kForwardsContext);

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

const FunctionSpec cy_is_for_spec = function_spec(
    "cy_is_for", "cy_is_for", kModuleName, Params{2, 1, {"type_val", "type_ctx"}}, cy_is_for_impl, 0, kIsForDoc);

}  // namespace vorn::sortkit
