// py_type_to_c: a vorn.types type descriptor to a runtime type handle.
#include "bridge.hpp"

#include <cstring>
#include <string>
#include <vector>


namespace vornc_bridge {
namespace {

// The scope id of a Recursive descriptor: text, or an integer kept as its digits.
bool scope_id(PyObject* id, std::string& text, bool& numeric) noexcept {
    if (PyUnicode_Check(id)) {
        Py_ssize_t size;
        const char* s = PyUnicode_AsUTF8AndSize(id, &size);
        if (!s) return false;
        text.assign(s, static_cast<size_t>(size));
        numeric = false;
        return true;
    }
    if (PyLong_Check(id) && !PyBool_Check(id)) {
        Ref digits = Ref::steal(PyObject_Str(id));
        if (!digits) return false;
        Py_ssize_t size;
        const char* s = PyUnicode_AsUTF8AndSize(digits.get(), &size);
        if (!s) return false;
        text.assign(s, static_cast<size_t>(size));
        numeric = true;
        return true;
    }
    PyErr_Format(PyExc_TypeError, "Recursive scope id must be a str or an int, got %.200s",
                 Py_TYPE(id)->tp_name);
    return false;
}

VornType* convert(PyObject* descriptor) noexcept;

VornType* out_of_memory() noexcept {
    PyErr_NoMemory();
    return nullptr;
}

VornType* item_type(PyObject* mapping, PyObject* key) noexcept {
    Ref item = Ref::steal(PyObject_GetItem(mapping, key));
    return item ? convert(item.get()) : nullptr;
}

VornType* members(VornKind kind, PyObject* payload) noexcept {
    Ref seq = Ref::steal(PySequence_Fast(payload, "Struct and Variant payloads must be iterable"));
    if (!seq) return nullptr;
    Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
    std::vector<TypeHandle> types;
    std::vector<std::string> names;
    try {
        types.reserve(static_cast<size_t>(n));
        names.reserve(static_cast<size_t>(n));
    } catch (...) {
        return out_of_memory();
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* member = PySequence_Fast_GET_ITEM(seq.get(), i);
        Ref name = Ref::steal(PyObject_GetItem(member, str<"name">()));
        if (!name) return nullptr;
        if (!PyUnicode_Check(name.get())) {
            PyErr_Format(PyExc_TypeError, "%s member names must be str, got %.200s", vorn_kind_name(kind),
                         Py_TYPE(name.get())->tp_name);
            return nullptr;
        }
        Py_ssize_t size;
        const char* s = PyUnicode_AsUTF8AndSize(name.get(), &size);
        if (!s) return nullptr;
        TypeHandle t(item_type(member, str<"type">()));
        if (!t) return nullptr;
        try {
            names.emplace_back(s, static_cast<size_t>(size));
        } catch (...) {
            return out_of_memory();
        }
        types.push_back(std::move(t));
    }
    std::vector<const char*> name_ptrs;
    std::vector<size_t> sizes;
    std::vector<VornType*> raw;
    try {
        name_ptrs.resize(names.size());
        sizes.resize(names.size());
        raw.resize(types.size());
    } catch (...) {
        return out_of_memory();
    }
    for (size_t i = 0; i < names.size(); ++i) {
        name_ptrs[i] = names[i].data();
        sizes[i] = names[i].size();
        raw[i] = types[i].release();
    }
    VornType* t = vorn_type_members(kind, raw.size(), name_ptrs.data(), sizes.data(), raw.data());
    if (!t) PyErr_Format(PyExc_ValueError, "%s type has two members of the same name", vorn_kind_name(kind));
    return t;
}

VornType* recursive(PyObject* payload) noexcept {
    Ref form = Ref::steal(PyObject_GetAttr(payload, str<"type">()));
    if (!form) return nullptr;
    Ref body = Ref::steal(PyObject_GetAttr(payload, str<"value">()));
    if (!body) return nullptr;
    int wrapper = PyUnicode_Check(form.get()) ? PyUnicode_CompareWithASCIIString(form.get(), "wrapper") == 0 : 0;
    std::string scope;
    bool numeric = false;
    if (!wrapper) {
        if (!scope_id(body.get(), scope, numeric)) return nullptr;
        VornType* t = vorn_type_rec_ref(scope.data(), scope.size(), numeric);
        return t ? t : out_of_memory();
    }
    Ref id = Ref::steal(PyObject_GetItem(body.get(), str<"id">()));
    if (!id || !scope_id(id.get(), scope, numeric)) return nullptr;
    VornType* inner = item_type(body.get(), str<"inner">());
    if (!inner) return nullptr;
    VornType* t = vorn_type_recursive(scope.data(), scope.size(), numeric, inner);
    return t ? t : out_of_memory();
}

VornType* function(VornKind kind, PyObject* payload) noexcept {
    Ref inputs = Ref::steal(PyObject_GetItem(payload, str<"inputs">()));
    if (!inputs) return nullptr;
    Ref seq = Ref::steal(PySequence_Fast(inputs.get(), "function inputs must be iterable"));
    if (!seq) return nullptr;
    Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
    std::vector<TypeHandle> types;
    try {
        types.reserve(static_cast<size_t>(n));
    } catch (...) {
        return out_of_memory();
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        TypeHandle t(convert(PySequence_Fast_GET_ITEM(seq.get(), i)));
        if (!t) return nullptr;
        types.push_back(std::move(t));
    }
    TypeHandle output(item_type(payload, str<"output">()));
    if (!output) return nullptr;
    std::vector<VornType*> raw;
    try {
        raw.resize(types.size());
    } catch (...) {
        return out_of_memory();
    }
    for (size_t i = 0; i < types.size(); ++i) raw[i] = types[i].release();
    VornType* t = vorn_type_function(kind, raw.size(), raw.data(), output.release());
    return t ? t : out_of_memory();
}

VornType* convert(PyObject* descriptor) noexcept {
    RecursionGuard guard(" while converting a Vorn type");
    if (guard.failed()) return nullptr;
    Ref kind_name = Ref::steal(PyObject_GetAttr(descriptor, str<"type">()));
    if (!kind_name) {
        if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError, "expected a Vorn type descriptor, got %.200s",
                         Py_TYPE(descriptor)->tp_name);
        }
        return nullptr;
    }
    const char* name = PyUnicode_Check(kind_name.get()) ? PyUnicode_AsUTF8(kind_name.get()) : nullptr;
    if (!name && PyErr_Occurred()) return nullptr;
    int kind = name ? kind_from_name(name) : -1;
    if (kind < 0) {
        PyErr_Format(PyExc_TypeError, "unknown Vorn type kind %R", kind_name.get());
        return nullptr;
    }
    if (kind <= VORN_BLOB) {
        VornType* t = vorn_type_scalar(static_cast<VornKind>(kind));
        return t ? t : out_of_memory();
    }
    Ref payload = Ref::steal(PyObject_GetAttr(descriptor, str<"value">()));
    if (!payload) return nullptr;
    switch (kind) {
        case VORN_VECTOR:
        case VORN_MATRIX:
        case VORN_ARRAY:
        case VORN_SET:
        case VORN_REF: {
            VornType* element = convert(payload.get());
            if (!element) return nullptr;
            VornType* t = vorn_type_container(static_cast<VornKind>(kind), element);
            return t ? t : out_of_memory();
        }
        case VORN_DICT: {
            TypeHandle key(item_type(payload.get(), str<"key">()));
            if (!key) return nullptr;
            VornType* value = item_type(payload.get(), str<"value">());
            if (!value) return nullptr;
            VornType* t = vorn_type_dict(key.release(), value);
            return t ? t : out_of_memory();
        }
        case VORN_STRUCT:
        case VORN_VARIANT:
            return members(static_cast<VornKind>(kind), payload.get());
        case VORN_RECURSIVE:
            return recursive(payload.get());
        default:
            return function(static_cast<VornKind>(kind), payload.get());
    }
}

}  // namespace

int kind_from_name(const char* name) noexcept {
    for (int k = 0; k < VORN_KIND_COUNT; ++k) {
        if (std::strcmp(name, vorn_kind_name(k)) == 0) return k;
    }
    return -1;
}

VornType* py_type_to_c(PyObject* descriptor) noexcept {
    if (!descriptor) {
        PyErr_SetString(PyExc_SystemError, "py_type_to_c called with NULL");
        return nullptr;
    }
    // A CType stands for its own handle, so that tests can hand any runtime type on.
    return type_from_py(descriptor);
}

VornType* type_from_py(PyObject* o) noexcept {
    if (is_ctype(o)) return vorn_type_retain(ctype_type(o));
    return convert(o);
}

}  // namespace vornc_bridge
