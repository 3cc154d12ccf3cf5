// CValue and CType: Python objects that each hold one runtime handle, so tests and
// platform functions can pass handles around (CValue carries `_vorn_c_value`).
#include "bridge.hpp"


#include <cstdlib>
#include <cstring>


namespace vornc_bridge {
namespace {

struct CValueObject {
    PyObject_HEAD
    VornValue* value;  // owned
    VornType* type;    // owned; may be null
};

struct CTypeObject {
    PyObject_HEAD
    VornType* type;  // owned
};

CValueObject* as_cvalue(PyObject* o) noexcept { return reinterpret_cast<CValueObject*>(o); }
CTypeObject* as_ctype(PyObject* o) noexcept { return reinterpret_cast<CTypeObject*>(o); }

// Text of a runtime printer as str, or None when it printed nothing.
PyObject* printed(char* text) noexcept {
    if (!text) Py_RETURN_NONE;
    PyObject* s = PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(std::strlen(text)), "strict");
    std::free(text);
    return s;
}

// ---- CValue

PyObject* cvalue_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) noexcept {
    static const char* names[] = {"py_type", "value", nullptr};
    PyObject* a[2];
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO:CValue", const_cast<char**>(names), &a[0], &a[1]))
        return nullptr;
    TypeHandle type(py_type_to_c(a[0]));
    if (!type) return nullptr;
    VornValue* value = py_value_to_c(a[1], type.get());
    if (!value) return nullptr;
    auto* self = reinterpret_cast<CValueObject*>(cls->tp_alloc(cls, 0));
    if (!self) {
        vorn_value_release(value);
        return nullptr;
    }
    self->value = value;
    self->type = type.release();
    return reinterpret_cast<PyObject*>(self);
}

void cvalue_dealloc(PyObject* o) noexcept {
    CValueObject* self = as_cvalue(o);
    vorn_value_release(self->value);
    vorn_type_release(self->type);
    Py_TYPE(o)->tp_free(o);
}

PyObject* cvalue_repr(PyObject* o) noexcept {
    CValueObject* self = as_cvalue(o);
    return PyUnicode_FromFormat("<CValue %s at %p>", vorn_kind_name(vorn_value_kind(self->value)),
                                static_cast<void*>(self->value));
}

PyObject* cvalue_address(PyObject* o, void*) noexcept { return PyLong_FromVoidPtr(as_cvalue(o)->value); }

PyObject* cvalue_kind(PyObject* o, void*) noexcept {
    return PyUnicode_FromString(vorn_kind_name(vorn_value_kind(as_cvalue(o)->value)));
}

PyObject* cvalue_to_py(PyObject* o, PyObject*) noexcept {
    CValueObject* self = as_cvalue(o);
    if (!self->type) {
        PyErr_SetString(PyExc_TypeError, "this CValue has no type to convert it with");
        return nullptr;
    }
    return c_value_to_py(self->value, self->type);
}

PyObject* cvalue_text(PyObject* o, PyObject*) noexcept {
    CValueObject* self = as_cvalue(o);
    if (!self->type) Py_RETURN_NONE;
    return printed(vorn_print_value(self->value, self->type));
}

PyMethodDef cvalue_methods[] = {
    {"to_py", cvalue_to_py, METH_NOARGS, "The Python value of the handle, converted with its type."},
    {"text", cvalue_text, METH_NOARGS, "The handle's text form, or None when it has none."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef cvalue_getset[] = {
    {"_vorn_c_value", cvalue_address, nullptr, "Address of the held value handle.", nullptr},
    {"kind", cvalue_kind, nullptr, "Kind name of the held value.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ---- CType

PyObject* ctype_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) noexcept {
    static const char* names[] = {"py_type", nullptr};
    PyObject* a[1];
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:CType", const_cast<char**>(names), &a[0])) return nullptr;
    VornType* type = py_type_to_c(a[0]);
    if (!type) return nullptr;
    auto* self = reinterpret_cast<CTypeObject*>(cls->tp_alloc(cls, 0));
    if (!self) {
        vorn_type_release(type);
        return nullptr;
    }
    self->type = type;
    return reinterpret_cast<PyObject*>(self);
}

void ctype_dealloc(PyObject* o) noexcept {
    vorn_type_release(as_ctype(o)->type);
    Py_TYPE(o)->tp_free(o);
}

PyObject* ctype_str(PyObject* o) noexcept {
    Ref s = Ref::steal(printed(vorn_print_type(as_ctype(o)->type)));
    if (s.get() == Py_None) return PyUnicode_FromString("<unprintable type>");
    return s.release();
}

PyObject* ctype_repr(PyObject* o) noexcept {
    Ref text = Ref::steal(ctype_str(o));
    if (!text) return nullptr;
    return PyUnicode_FromFormat("<CType %U>", text.get());
}

PyObject* ctype_address(PyObject* o, void*) noexcept { return PyLong_FromVoidPtr(as_ctype(o)->type); }

PyObject* ctype_to_py(PyObject* o, PyObject*) noexcept { return c_type_to_py(as_ctype(o)->type); }

PyMethodDef ctype_methods[] = {
    {"to_py", ctype_to_py, METH_NOARGS, "The type descriptor of the handle."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef ctype_getset[] = {
    {"_vorn_c_type", ctype_address, nullptr, "Address of the held type handle.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

PyTypeObject CValueType = [] {
    PyTypeObject t{};
    Py_SET_REFCNT(reinterpret_cast<PyObject*>(&t), 1);
    t.tp_name = "vorn._vornc_bridge.CValue";
    t.tp_basicsize = sizeof(CValueObject);
    t.tp_dealloc = cvalue_dealloc;
    t.tp_repr = cvalue_repr;
    t.tp_flags = Py_TPFLAGS_DEFAULT;
    t.tp_doc = "CValue(py_type, value)\n\nHolds one runtime value handle made from a Python value of a type.";
    t.tp_methods = cvalue_methods;
    t.tp_getset = cvalue_getset;
    t.tp_new = cvalue_new;
    return t;
}();

PyTypeObject CTypeType = [] {
    PyTypeObject t{};
    Py_SET_REFCNT(reinterpret_cast<PyObject*>(&t), 1);
    t.tp_name = "vorn._vornc_bridge.CType";
    t.tp_basicsize = sizeof(CTypeObject);
    t.tp_dealloc = ctype_dealloc;
    t.tp_repr = ctype_repr;
    t.tp_str = ctype_str;
    t.tp_flags = Py_TPFLAGS_DEFAULT;
    t.tp_doc = "CType(py_type)\n\nHolds one runtime type handle made from a type descriptor.";
    t.tp_methods = ctype_methods;
    t.tp_getset = ctype_getset;
    t.tp_new = ctype_new;
    return t;
}();

PyObject* make_cvalue(VornValue* value, VornType* type) noexcept {
    auto* self = PyObject_New(CValueObject, &CValueType);
    if (!self) {
        vorn_value_release(value);
        vorn_type_release(type);
        return nullptr;
    }
    self->value = value;
    self->type = type;
    return reinterpret_cast<PyObject*>(self);
}

PyObject* make_ctype(VornType* type) noexcept {
    auto* self = PyObject_New(CTypeObject, &CTypeType);
    if (!self) {
        vorn_type_release(type);
        return nullptr;
    }
    self->type = type;
    return reinterpret_cast<PyObject*>(self);
}

VornValue* cvalue_value(PyObject* o) noexcept { return as_cvalue(o)->value; }
VornType* cvalue_type(PyObject* o) noexcept { return as_cvalue(o)->type; }
VornType* ctype_type(PyObject* o) noexcept { return as_ctype(o)->type; }

int add_handle_types(PyObject* module) noexcept {
    if (PyType_Ready(&CValueType) < 0 || PyType_Ready(&CTypeType) < 0) return -1;
    if (PyModule_AddObjectRef(module, "CValue", reinterpret_cast<PyObject*>(&CValueType)) < 0) return -1;
    return PyModule_AddObjectRef(module, "CType", reinterpret_cast<PyObject*>(&CTypeType));
}

}  // namespace vornc_bridge
