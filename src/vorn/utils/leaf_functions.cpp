// The bodies of the leaf functions shared by the builders and the module functions,
// and what tells the walks which leaf a function is.
#include "vorn/utils/leaf_functions.hpp"

#include "vorn/utils/compare_builders.hpp"

namespace vorn::sortkit {

int never_native(NativeFunction*, PyObject*, PyObject*, PyObject*, PyObject**) noexcept {
    PyErr_SetString(PyExc_RuntimeError, "Attempted to compare values of type .Never");
    return kFailed;
}

int zero_native(NativeFunction*, PyObject*, PyObject*, PyObject*, PyObject**) noexcept { return 0; }

int true_native(NativeFunction*, PyObject*, PyObject*, PyObject*, PyObject**) noexcept { return 1; }

int python_equal_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject** object) noexcept {
    PyObject* r = PyObject_RichCompare(x, y, Py_EQ);
    if (!r) return kFailed;
    if (r == Py_True || r == Py_False) {
        Py_DECREF(r);
        return r == Py_True;
    }
    *object = r;
    return kObjectResult;
}

int compare_bool_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept {
    int a, b;
    if (to_truth(x, &a) < 0 || to_truth(y, &b) < 0) return kFailed;
    return a - b;
}

int compare_int_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept {
    int64_t a, b;
    if (short_int_value(x, &a) && short_int_value(y, &b)) return compare_int64(a, b);
    if (to_int64(x, &a) < 0 || to_int64(y, &b) < 0) return kFailed;
    return compare_int64(a, b);
}

int compare_float_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept {
    double a, b;
    if (to_double(x, &a) < 0 || to_double(y, &b) < 0) return kFailed;
    return compare_double(a, b);
}

int compare_ordered_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept {
    int sign;
    if (inline_order(Leaf::OrderString, x, y, &sign)) return sign;
    int lt = PyObject_RichCompareBool(x, y, Py_LT);
    if (lt < 0) return kFailed;
    if (lt) return -1;
    int gt = PyObject_RichCompareBool(x, y, Py_GT);
    if (gt < 0) return kFailed;
    return gt ? 1 : 0;
}

int equal_float_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept {
    double a, b;
    if (to_double(x, &a) < 0 || to_double(y, &b) < 0) return kFailed;
    return equal_double(a, b);
}

Leaf leaf_of(PyObject* fn, int nargs) noexcept {
    if (!is_native_function(fn)) return Leaf::None;
    const FunctionSpec* s = reinterpret_cast<NativeFunction*>(fn)->spec;
    if (s->nparams != nargs && !(nargs == 2 && s->nrequired == 2)) return Leaf::None;  // a TypeError to raise
    if (const NativeEntry e = native_entry_of(fn)) {
        // Every leaf ignores contexts; a composite that reads one is told apart at once.
        if (!(s->flags & kIgnoresContext)) return Leaf::None;
        if (e == compare_int_native) return Leaf::OrderInt;
        if (e == compare_ordered_native) return Leaf::OrderString;
        if (e == compare_float_native) return Leaf::OrderDouble;
        if (e == zero_native) return Leaf::OrderZero;
        if (e == python_equal_native) return Leaf::PythonEqual;
        if (e == equal_float_native) return Leaf::FloatEqual;
        return Leaf::None;
    }
    if (s == &cy_compare_int_spec) return Leaf::OrderInt;
    if (s == &cy_compare_float_spec) return Leaf::OrderDouble;
    // cy_compare_string checks for exact strs, which is all that is run inline.
    if (s == &cy_compare_string_spec) return Leaf::OrderString;
    if (s == &cy_equal_float_spec) return Leaf::FloatEqual;
    return Leaf::None;
}

int blob_pair(PyObject* const* a, Ref* x, Ref* y) noexcept {
    Ref blob_class = Ref::steal(global(str<"VornBlob">()));
    if (!blob_class) return -1;
    for (auto [v, out] : {std::pair{a[0], x}, std::pair{a[1], y}}) {
        int is_blob = PyObject_IsInstance(v, blob_class.get());
        if (is_blob < 0) return -1;
        *out = Ref::steal(is_blob ? PyObject_GetAttr(v, str<"data">()) : Py_NewRef(v));
        if (!*out) return -1;
    }
    return 0;
}

}  // namespace vorn::sortkit
