// The entry the three builders share.
#include "vorn/utils/build_entry.hpp"

namespace vorn::sortkit {

PyObject* build_entry(const Builder& builder, PyObject* const* args) noexcept {
    PyObject* type_val = args[0];
    RecursionGuard guard(builder.where);
    if (guard.failed()) return nullptr;
    Ref type_ctx = Ref::borrow(args[1]);
    if (type_ctx.get() == Py_None && !(type_ctx = Ref::steal(PyDict_New()))) return nullptr;
    if (builder.prepare && builder.prepare() < 0) return nullptr;
    Kind kind;
    if (classify(type_val, builder.last, &kind) < 0) return nullptr;
    return builder.steps[static_cast<int>(kind)].step(type_val, type_ctx.get());
}

}  // namespace vorn::sortkit
