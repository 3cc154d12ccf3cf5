// _c_type_tag_to_py_type: a runtime type handle to a vorn.types type descriptor.
#include "bridge.hpp"


namespace vornc_bridge {
namespace {

PyObject* convert(const VornType* t) noexcept;

PyObject* descriptor(VornKind kind, PyObject* payload) noexcept {
    Ref name = Ref::steal(PyUnicode_FromString(vorn_kind_name(kind)));
    if (!name) return nullptr;
    return PyObject_CallFunctionObjArgs(py.type, name.get(), payload, nullptr);
}

PyObject* scope_id(const VornType* t) noexcept {
    size_t size;
    bool numeric;
    const char* s = vorn_type_scope(t, &size, &numeric);
    if (numeric) return PyLong_FromString(s, nullptr, 10);
    return PyUnicode_DecodeUTF8(s, static_cast<Py_ssize_t>(size), "strict");
}

PyObject* child(const VornType* t, size_t i) noexcept { return convert(vorn_type_child(t, i)); }

PyObject* members(const VornType* t, VornKind kind) noexcept {
    size_t n = vorn_type_child_count(t);
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(n)));
    if (!list) return nullptr;
    for (size_t i = 0; i < n; ++i) {
        size_t size;
        const char* s = vorn_type_member_name(t, i, &size);
        Ref name = Ref::steal(PyUnicode_DecodeUTF8(s, static_cast<Py_ssize_t>(size), "strict"));
        if (!name) return nullptr;
        Ref type = Ref::steal(child(t, i));
        if (!type) return nullptr;
        Ref member = Ref::steal(PyDict_New());
        if (!member || PyDict_SetItem(member.get(), str<"name">(), name.get()) < 0 ||
            PyDict_SetItem(member.get(), str<"type">(), type.get()) < 0)
            return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), member.release());
    }
    return descriptor(kind, list.get());
}

PyObject* recursive(const VornType* t) noexcept {
    Ref id = Ref::steal(scope_id(t));
    if (!id) return nullptr;
    Ref payload;
    if (vorn_type_is_rec_ref(t)) {
        payload = Ref::steal(PyObject_CallFunction(py.recursive_payload, "sO", "ref", id.get()));
    } else {
        Ref inner = Ref::steal(child(t, 0));
        if (!inner) return nullptr;
        Ref body = Ref::steal(PyDict_New());
        if (!body || PyDict_SetItem(body.get(), str<"id">(), id.get()) < 0 ||
            PyDict_SetItem(body.get(), str<"inner">(), inner.get()) < 0)
            return nullptr;
        payload = Ref::steal(PyObject_CallFunction(py.recursive_payload, "sO", "wrapper", body.get()));
    }
    if (!payload) return nullptr;
    return descriptor(VORN_RECURSIVE, payload.get());
}

PyObject* function(const VornType* t, VornKind kind) noexcept {
    size_t n = vorn_type_child_count(t) - 1;
    Ref inputs = Ref::steal(PyList_New(static_cast<Py_ssize_t>(n)));
    if (!inputs) return nullptr;
    for (size_t i = 0; i < n; ++i) {
        PyObject* input = child(t, i);
        if (!input) return nullptr;
        PyList_SET_ITEM(inputs.get(), static_cast<Py_ssize_t>(i), input);
    }
    Ref output = Ref::steal(child(t, n));
    if (!output) return nullptr;
    Ref payload = Ref::steal(PyDict_New());
    if (!payload || PyDict_SetItem(payload.get(), str<"inputs">(), inputs.get()) < 0 ||
        PyDict_SetItem(payload.get(), str<"output">(), output.get()) < 0)
        return nullptr;
    return descriptor(kind, payload.get());
}

PyObject* convert(const VornType* t) noexcept {
    if (!t) {
        PyErr_SetString(PyExc_ValueError, "missing runtime type");
        return nullptr;
    }
    RecursionGuard guard(" while converting a runtime type");
    if (guard.failed()) return nullptr;
    VornKind kind = vorn_type_kind(t);
    switch (kind) {
        case VORN_VECTOR:
        case VORN_MATRIX:
        case VORN_ARRAY:
        case VORN_SET:
        case VORN_REF: {
            Ref element = Ref::steal(child(t, 0));
            return element ? descriptor(kind, element.get()) : nullptr;
        }
        case VORN_DICT: {
            Ref key = Ref::steal(child(t, 0));
            if (!key) return nullptr;
            Ref value = Ref::steal(child(t, 1));
            if (!value) return nullptr;
            Ref payload = Ref::steal(PyDict_New());
            if (!payload || PyDict_SetItem(payload.get(), str<"key">(), key.get()) < 0 ||
                PyDict_SetItem(payload.get(), str<"value">(), value.get()) < 0)
                return nullptr;
            return descriptor(kind, payload.get());
        }
        case VORN_STRUCT:
        case VORN_VARIANT:
            return members(t, kind);
        case VORN_RECURSIVE:
            return recursive(t);
        case VORN_FUNCTION:
        case VORN_ASYNC_FUNCTION:
            return function(t, kind);
        default:
            return descriptor(kind, Py_None);
    }
}

}  // namespace

PyObject* c_type_to_py(VornType* type) noexcept { return convert(type); }

}  // namespace vornc_bridge
