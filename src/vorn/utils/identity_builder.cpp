// cy_is_for: placeholder until the builder lands.
#include "vorn/utils/builder_docs.hpp"
#include "vorn/utils/sortkit.hpp"

namespace vorn::sortkit {
namespace {

PyObject* cy_is_for_impl(NativeFunction*, PyObject* const*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "cy_is_for");
    return nullptr;
}

}  // namespace

const FunctionSpec cy_is_for_spec{"cy_is_for", "cy_is_for", kModuleName, kIsForDoc, 2, 1, {"type_val", "type_ctx"}, cy_is_for_impl};

}  // namespace vorn::sortkit
