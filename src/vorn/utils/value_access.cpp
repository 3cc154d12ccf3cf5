// Subscription and indexing of values as Python evaluates them.
#include "vorn/utils/value_access.hpp"

#include "common/compat.hpp"
#include "common/type_memo.hpp"
#include "common/strings.hpp"

namespace vorn::sortkit {

PyObject* subscript(PyObject* mapping, PyObject* key) noexcept {
    if (PyDict_CheckExact(mapping)) {
        PyObject* v = PyDict_GetItemWithError(mapping, key);
        if (v) return Py_NewRef(v);
        if (!PyErr_Occurred()) compat::set_key_error(key);
        return nullptr;
    }
    return PyObject_GetItem(mapping, key);
}

PyObject* item_at(PyObject* seq, Py_ssize_t i) noexcept {
    if (PyList_CheckExact(seq)) {
        if (i < PyList_GET_SIZE(seq)) return Py_NewRef(PyList_GET_ITEM(seq, i));
        PyErr_SetString(PyExc_IndexError, "list index out of range");
        return nullptr;
    }
    if (PyTuple_CheckExact(seq)) {
        if (i < PyTuple_GET_SIZE(seq)) return Py_NewRef(PyTuple_GET_ITEM(seq, i));
        PyErr_SetString(PyExc_IndexError, "tuple index out of range");
        return nullptr;
    }
    Ref index = Ref::steal(PyLong_FromSsize_t(i));
    return index ? PyObject_GetItem(seq, index.get()) : nullptr;
}

bool is_plain_list_subclass(PyObject* o) noexcept {
    if (!PyList_Check(o)) return false;
    // A subclass's item slot goes through __getitem__ all the same (the list's method
    // is not the slot's wrapper, so even VornArray gets the generic slot), so the
    // method is what tells.
    PyTypeObject* type = Py_TYPE(o);
    PyObject* name = str<"__getitem__">();
    if (compat::type_lookup(type, name) != compat::type_lookup(&PyList_Type, name)) return false;
    last_plain_list.remember(type);
    return true;
}

}  // namespace vorn::sortkit
