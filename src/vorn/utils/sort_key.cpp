// CyVornKey: placeholder layout until the key class lands.
#include "vorn/utils/builder_docs.hpp"
#include "vorn/utils/sortkit.hpp"

#include <structmember.h>

namespace vorn::sortkit {

PyTypeObject* key_type = nullptr;

namespace {

struct KeyObject {
    PyObject_HEAD
    PyObject* value;
    PyObject* compare;
};

PyObject* make_vorn_key_impl(NativeFunction*, PyObject* const*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "cy_make_vorn_key");
    return nullptr;
}

PyObject* unpickle_impl(NativeFunction*, PyObject* const*) noexcept {
    PyErr_SetString(PyExc_NotImplementedError, "__pyx_unpickle_CyVornKey");
    return nullptr;
}

PyMemberDef key_members[] = {
    {"value", T_OBJECT, offsetof(KeyObject, value), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot key_slots[] = {
    {Py_tp_members, key_members},
    {0, nullptr},
};

PyType_Spec key_spec{"vorn.utils._sortkit.CyVornKey", sizeof(KeyObject), 0,
                     Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, key_slots};

}  // namespace

const FunctionSpec cy_make_vorn_key_spec{"cy_make_vorn_key", "cy_make_vorn_key", kModuleName,
                                         kMakeVornKeyDoc, 1, 1, {"type_val"}, make_vorn_key_impl};
const FunctionSpec unpickle_key_spec{"__pyx_unpickle_CyVornKey", "__pyx_unpickle_CyVornKey",
                                     kModuleName, nullptr, 3, 3,
                                     {"__pyx_type", "__pyx_checksum", "__pyx_state"}, unpickle_impl};

int make_key_type(PyObject* module) noexcept {
    key_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&key_spec));
    if (!key_type) return -1;
    return PyObject_SetAttrString(module, "CyVornKey", reinterpret_cast<PyObject*>(key_type));
}

}  // namespace vorn::sortkit
