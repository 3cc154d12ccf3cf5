// Dispatch on the kind of a type descriptor through the module's predicates.
#include "vorn/utils/sortkit.hpp"

namespace vorn::sortkit {

PyObject* raise_unknown_type(PyObject* type_val, IdText how) noexcept {
    Ref kind = Ref::steal(PyObject_GetAttr(type_val, str<"type">()));
    if (!kind) return nullptr;
    Ref text = Ref::steal(as_text(kind.get(), how));
    if (!text) return nullptr;
    PyErr_Format(PyExc_RuntimeError, "Unknown type encountered during type printing: %U", text.get());
    return nullptr;
}

int classify(PyObject* type_val, Kind last, Kind* out) noexcept {
    for (int i = 0; i <= static_cast<int>(last); ++i) {
        // Looked up at every call, so rebinding a module attribute takes effect.
        PyObject* args[1] = {type_val};
        Ref result = Ref::steal(call_rebindable(predicate_of(static_cast<Kind>(i)), args, 1));
        if (!result) return -1;
        int truth = PyObject_IsTrue(result.get());
        if (truth < 0) return -1;
        if (truth) {
            *out = static_cast<Kind>(i);
            return 0;
        }
    }
    *out = Kind::Unknown;
    return 0;
}

}  // namespace vorn::sortkit
