// The conversion functions of vorn._vornc_bridge, as the platform bridge and the
// text codec bind them from its __pyx_capi__ capsules at start-up.
#pragma once

#include "common/capi_import.hpp"
#include "vorn/vorn_c.h"

namespace vorn {

struct Conversions {
    VornType* (*py_type_to_c)(PyObject*) = nullptr;
    VornValue* (*py_value_to_c)(PyObject*, VornType*) = nullptr;
    PyObject* (*c_value_to_py)(VornValue*, VornType*) = nullptr;
    PyObject* (*c_type_tag_to_py_type)(VornType*) = nullptr;  // the platform bridge's only
};

// Binds the first three functions into `out`, and `_c_type_tag_to_py_type` too when
// `with_type_tag`; 0, or -1 with ImportError or TypeError set (nothing is bound then).
inline int bind_conversions(Conversions& out, bool with_type_tag) noexcept {
    constexpr const char* kBridge = "vorn._vornc_bridge";
    Ref table = Ref::steal(import_capi_table(kBridge));
    if (!table) return -1;
    Conversions bound;
    struct Wanted {
        const char* name;
        const char* signature;
        void** slot;
    };
    const Wanted wanted[] = {
        {"py_type_to_c", "VornType *(PyObject *)", reinterpret_cast<void**>(&bound.py_type_to_c)},
        {"py_value_to_c", "VornValue *(PyObject *, VornType *)", reinterpret_cast<void**>(&bound.py_value_to_c)},
        {"c_value_to_py", "PyObject *(VornValue *, VornType *)", reinterpret_cast<void**>(&bound.c_value_to_py)},
        {"_c_type_tag_to_py_type", "PyObject *(VornType *)", reinterpret_cast<void**>(&bound.c_type_tag_to_py_type)},
    };
    for (const Wanted& w : wanted) {
        if (w.slot == reinterpret_cast<void**>(&bound.c_type_tag_to_py_type) && !with_type_tag) break;
        void* fn = capi_function(table.get(), kBridge, w.name, w.signature);
        if (!fn) return -1;
        *w.slot = fn;
    }
    out = bound;
    return 0;
}

}  // namespace vorn
