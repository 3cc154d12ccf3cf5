// The one way the modules make a static type object.
#pragma once

#include "common/ref.hpp"

namespace vorn {

// Readies the static type `t` once: on the first call `describe(t)` fills in its
// slots, then the interpreter readies it; later calls do nothing. 0, or -1 with an
// exception set.
template <typename Describe>
int ready_static_type(PyTypeObject& t, Describe describe) noexcept {
    if (t.tp_flags & Py_TPFLAGS_READY) return 0;
    Py_SET_REFCNT(reinterpret_cast<PyObject*>(&t), 1);
    describe(t);
    return PyType_Ready(&t);
}

}  // namespace vorn
