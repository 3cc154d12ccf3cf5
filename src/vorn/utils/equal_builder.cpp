// cy_equal_for: placeholder until the builder lands.
#include "vorn/utils/builder_docs.hpp"
#include "vorn/utils/sortkit.hpp"

namespace vorn::sortkit {
namespace {

PyObject* cy_equal_for_impl(NativeFunction*, PyObject* const*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "cy_equal_for");
    return nullptr;
}

}  // namespace

const FunctionSpec cy_equal_for_spec{"cy_equal_for", "cy_equal_for", kModuleName, kEqualForDoc, 2, 1, {"type_val", "type_ctx"}, cy_equal_for_impl};

}  // namespace vorn::sortkit
