// The bodies of the leaf functions shared by the builders and the module functions.
#include "vorn/utils/leaf_functions.hpp"

#include "vorn/utils/compare_builders.hpp"

namespace vorn::sortkit {

PyObject* never_impl(NativeFunction*, PyObject* const*) noexcept {
    PyErr_SetString(PyExc_RuntimeError, "Attempted to compare values of type .Never");
    return nullptr;
}

PyObject* zero_impl(NativeFunction*, PyObject* const*) noexcept { return three_way(0); }

PyObject* true_impl(NativeFunction*, PyObject* const*) noexcept { Py_RETURN_TRUE; }

PyObject* python_equal_impl(NativeFunction*, PyObject* const* a) noexcept {
    return PyObject_RichCompare(a[0], a[1], Py_EQ);
}

PyObject* compare_bool_impl(NativeFunction*, PyObject* const* a) noexcept {
    int x, y;
    if (to_truth(a[0], &x) < 0 || to_truth(a[1], &y) < 0) return nullptr;
    return three_way(x - y);
}

PyObject* compare_int_impl(NativeFunction*, PyObject* const* a) noexcept {
    int64_t x, y;
    if (short_int_value(a[0], &x) && short_int_value(a[1], &y)) return three_way(compare_int64(x, y));
    if (to_int64(a[0], &x) < 0 || to_int64(a[1], &y) < 0) return nullptr;
    return three_way(compare_int64(x, y));
}

PyObject* compare_float_impl(NativeFunction*, PyObject* const* a) noexcept {
    double x, y;
    if (to_double(a[0], &x) < 0 || to_double(a[1], &y) < 0) return nullptr;
    return three_way(compare_double(x, y));
}

PyObject* compare_ordered_impl(NativeFunction*, PyObject* const* a) noexcept {
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

PyObject* equal_float_impl(NativeFunction*, PyObject* const* a) noexcept {
    double x, y;
    if (to_double(a[0], &x) < 0 || to_double(a[1], &y) < 0) return nullptr;
    return PyBool_FromLong(equal_double(x, y));
}

namespace {

PyObject* blob_bytes(PyObject* v, PyObject* blob_class) noexcept {
    int is_blob = PyObject_IsInstance(v, blob_class);
    if (is_blob < 0) return nullptr;
    return is_blob ? PyObject_GetAttr(v, str<"data">()) : Py_NewRef(v);
}

}  // namespace

int blob_pair(PyObject* const* a, Ref* x, Ref* y) noexcept {
    Ref blob_class = Ref::steal(global(str<"VornBlob">()));
    if (!blob_class) return -1;
    *x = Ref::steal(blob_bytes(a[0], blob_class.get()));
    if (!*x) return -1;
    *y = Ref::steal(blob_bytes(a[1], blob_class.get()));
    return *y ? 0 : -1;
}

}  // namespace vorn::sortkit
