// cy_compare_for: placeholder until the builder lands.
#include "vorn/utils/builder_docs.hpp"
#include "vorn/utils/sortkit.hpp"

namespace vorn::sortkit {
namespace {

PyObject* cy_compare_for_impl(NativeFunction*, PyObject* const*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "cy_compare_for");
    return nullptr;
}

}  // namespace

const FunctionSpec cy_compare_for_spec{"cy_compare_for", "cy_compare_for", kModuleName, kCompareForDoc, 2, 1, {"type_val", "type_ctx"}, cy_compare_for_impl};

}  // namespace vorn::sortkit
