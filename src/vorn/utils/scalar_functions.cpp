// The scalar module functions: cy_compare_bool, cy_compare_int, cy_compare_float,
// cy_compare_string and cy_equal_float, published over the leaf bodies.
#include "vorn/utils/leaf_functions.hpp"

#include "common/args.hpp"

namespace vorn::sortkit {
namespace {

// cy_compare_string accepts strs (and None, which the comparison then rejects).
PyObject* compare_string_impl(NativeFunction* self, PyObject* const* a) noexcept {
    static const char* const arg_names[2] = {"x", "y"};
    for (int i = 0; i < 2; ++i) {
        if (a[i] != Py_None && !PyUnicode_CheckExact(a[i])) {
            raise_argument_type(arg_names[i], "str", a[i]);
            return nullptr;
        }
    }
    return compare_ordered_impl(self, a);
}

constexpr Params kPair{2, 2, {"x", "y"}};

}  // namespace

const FunctionSpec cy_compare_bool_spec = function_spec(
    "cy_compare_bool", "cy_compare_bool", kModuleName, kPair, compare_bool_impl, 0,
    "Compare two booleans. False < True.");
const FunctionSpec cy_compare_int_spec = function_spec(
    "cy_compare_int", "cy_compare_int", kModuleName, kPair, compare_int_impl, 0, "Compare two integers.");
const FunctionSpec cy_compare_float_spec = function_spec(
    "cy_compare_float", "cy_compare_float", kModuleName, kPair, compare_float_impl, 0,
    "Compare two floats with NaN and -0 handling.");
const FunctionSpec cy_compare_string_spec = function_spec(
    "cy_compare_string", "cy_compare_string", kModuleName, kPair, compare_string_impl, 0,
    "Compare two strings.");
const FunctionSpec cy_equal_float_spec = function_spec(
    "cy_equal_float", "cy_equal_float", kModuleName, kPair, equal_float_impl, 0,
    "Float equality with NaN == NaN and -0 != +0.");

}  // namespace vorn::sortkit
