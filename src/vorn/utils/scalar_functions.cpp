// The scalar module functions: cy_compare_bool, cy_compare_int, cy_compare_float,
// cy_compare_string and cy_equal_float, thin layers over the native orders.
#include "vorn/utils/sortkit.hpp"

#include "common/args.hpp"

namespace vorn::sortkit {
namespace {

PyObject* compare_bool_impl(NativeFunction*, PyObject* const* a) noexcept {
    int x, y;
    if (to_truth(a[0], &x) < 0 || to_truth(a[1], &y) < 0) return nullptr;
    return three_way(x - y);
}

PyObject* compare_int_impl(NativeFunction*, PyObject* const* a) noexcept {
    int64_t x, y;
    if (to_int64(a[0], &x) < 0 || to_int64(a[1], &y) < 0) return nullptr;
    return three_way(compare_int64(x, y));
}

PyObject* compare_float_impl(NativeFunction*, PyObject* const* a) noexcept {
    double x, y;
    if (to_double(a[0], &x) < 0 || to_double(a[1], &y) < 0) return nullptr;
    return three_way(compare_double(x, y));
}

PyObject* compare_string_impl(NativeFunction*, PyObject* const* a) noexcept {
    static const char* const arg_names[2] = {"x", "y"};
    for (int i = 0; i < 2; ++i) {
        if (a[i] != Py_None && !PyUnicode_CheckExact(a[i])) {
            raise_argument_type(arg_names[i], "str", a[i]);
            return nullptr;
        }
    }
    int lt = PyObject_RichCompareBool(a[0], a[1], Py_LT);
    if (lt < 0) return nullptr;
    if (lt) return three_way(-1);
    int gt = PyObject_RichCompareBool(a[0], a[1], Py_GT);
    if (gt < 0) return nullptr;
    return three_way(gt ? 1 : 0);
}

PyObject* equal_float_impl(NativeFunction*, PyObject* const* a) noexcept {
    double x, y;
    if (to_double(a[0], &x) < 0 || to_double(a[1], &y) < 0) return nullptr;
    return PyBool_FromLong(equal_double(x, y));
}

}  // namespace

const FunctionSpec cy_compare_bool_spec{
    "cy_compare_bool", "cy_compare_bool", kModuleName, "Compare two booleans. False < True.",
    2, 2, {"x", "y"}, compare_bool_impl};
const FunctionSpec cy_compare_int_spec{
    "cy_compare_int", "cy_compare_int", kModuleName, "Compare two integers.",
    2, 2, {"x", "y"}, compare_int_impl};
const FunctionSpec cy_compare_float_spec{
    "cy_compare_float", "cy_compare_float", kModuleName,
    "Compare two floats with NaN and -0 handling.", 2, 2, {"x", "y"}, compare_float_impl};
const FunctionSpec cy_compare_string_spec{
    "cy_compare_string", "cy_compare_string", kModuleName, "Compare two strings.",
    2, 2, {"x", "y"}, compare_string_impl};
const FunctionSpec cy_equal_float_spec{
    "cy_equal_float", "cy_equal_float", kModuleName,
    "Float equality with NaN == NaN and -0 != +0.", 2, 2, {"x", "y"}, equal_float_impl};

}  // namespace vorn::sortkit
