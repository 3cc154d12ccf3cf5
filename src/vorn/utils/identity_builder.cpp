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

int same_object_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept {
    return x == y;
}

int is_float_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept {
    double a, b;
    if (to_double(x, &a) < 0 || to_double(y, &b) < 0) return kFailed;
    return identical_double(a, b);
}

// `x.timestamp() == y.timestamp()` as Python returns it.
int same_instant_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject** object) noexcept {
    Ref tx = Ref::steal(PyObject_CallMethodNoArgs(x, str<"timestamp">()));
    if (!tx) return kFailed;
    Ref ty = Ref::steal(PyObject_CallMethodNoArgs(y, str<"timestamp">()));
    if (!ty) return kFailed;
    return equality_result(PyObject_RichCompare(tx.get(), ty.get(), Py_EQ), object);
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

int is_blob_native(NativeFunction*, PyObject* xv, PyObject* yv, PyObject*, PyObject**) noexcept {
    PyObject* a[2] = {xv, yv};
    Ref x, y;
    if (blob_pair(a, &x, &y) < 0) return kFailed;
    Py_ssize_t n;
    int differ = lengths_differ(x.get(), y.get(), &n);
    if (differ != 0) return differ < 0 ? kFailed : 0;
    if (PyBytes_CheckExact(x.get()) && PyBytes_CheckExact(y.get()))
        return std::memcmp(PyBytes_AS_STRING(x.get()), PyBytes_AS_STRING(y.get()), static_cast<size_t>(n)) == 0;
    return truth_result(all_zipped_equal(x.get(), y.get()));
}

PyObject* is_struct_impl(NativeFunction* self, PyObject* const* a) noexcept {
    RecursionGuard guard(" in is_struct");
    if (guard.failed()) return nullptr;
    Ref holder;
    FieldTable* table = fields_of(self, holder);
    if (!table) return nullptr;
    int t = all_fields_true(table, a[0], a[1], a[2]);
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
const NativeSpec leaf_specs[] = {
    equality_spec<never_native>("is_never", "cy_is_for.<locals>.is_never", kIgnoredParams, kIgnoresContext),
    equality_spec<true_native>("lambda10", kLambda, kIgnoredParams, kIgnoresContext),            // Null
    equality_spec<python_equal_native>("lambda11", kLambda, kValueParams, kIgnoresContext),      // Boolean
    equality_spec<python_equal_native>("lambda12", kLambda, kValueParams, kIgnoresContext),      // Integer
    equality_spec<is_float_native>("is_float", "cy_is_for.<locals>.is_float", kValueParams, kIgnoresContext),
    equality_spec<python_equal_native>("lambda13", kLambda, kValueParams, kIgnoresContext),      // String
    equality_spec<same_instant_native>("lambda14", kLambda, kValueParams, kIgnoresContext),      // DateTime
    equality_spec<is_blob_native>("is_blob", "cy_is_for.<locals>.is_blob", kValueParams, kIgnoresContext),
    equality_spec<same_object_native>("lambda16", kLambda, kValueParams, kIgnoresContext),       // Vector
    equality_spec<same_object_native>("lambda17", kLambda, kValueParams, kIgnoresContext),       // Matrix
    equality_spec<same_object_native>("lambda18", kLambda, kValueParams, kIgnoresContext),       // Array
    equality_spec<same_object_native>("lambda19", kLambda, kValueParams, kIgnoresContext),       // Set
    equality_spec<same_object_native>("lambda20", kLambda, kValueParams, kIgnoresContext),       // Dict
    equality_spec<same_object_native>("lambda21", kLambda, kValueParams, kIgnoresContext),       // Ref
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
        default: return make_function(leaf_specs[static_cast<int>(kind)].function).release();
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
