// Recursive wrappers and references through the type context, for all builders.
#include "vorn/utils/build_recursive.hpp"

#include "vorn/utils/build_composites.hpp"
#include "vorn/utils/value_access.hpp"

namespace vorn::sortkit {

PyObject* context_get(PyObject* type_ctx, PyObject* key) noexcept {
    if (PyDict_CheckExact(type_ctx)) {
        PyObject* v = PyDict_GetItemWithError(type_ctx, key);
        if (v) return Py_NewRef(v);
        if (PyErr_Occurred()) return nullptr;
        Py_RETURN_NONE;
    }
    return PyObject_CallMethodOneArg(type_ctx, str<"get">(), key);
}

int context_set(PyObject* type_ctx, PyObject* key, PyObject* value) noexcept {
    if (PyDict_CheckExact(type_ctx)) return PyDict_SetItem(type_ctx, key, value);
    return PyObject_SetItem(type_ctx, key, value);
}

int context_pop(PyObject* type_ctx, PyObject* key) noexcept {
    if (PyDict_CheckExact(type_ctx)) {
        int present = PyDict_Contains(type_ctx, key);
        if (present <= 0) return present;
        return PyDict_DelItem(type_ctx, key);
    }
    Ref r = Ref::steal(PyObject_CallMethodObjArgs(type_ctx, str<"pop">(), key, Py_None, nullptr));
    return r ? 0 : -1;
}

namespace {

// Restores the type context after a wrapper's build: pops `rec_id` when `prev` is
// None, else binds it back. A pending exception of the build is kept unless the
// restore itself raises, which then takes its place.
int restore_context(PyObject* type_ctx, PyObject* rec_id, PyObject* prev) noexcept {
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    int rc = prev == Py_None ? context_pop(type_ctx, rec_id) : context_set(type_ctx, rec_id, prev);
    if (rc < 0) {
        Py_XDECREF(type);
        Py_XDECREF(value);
        Py_XDECREF(tb);
        return -1;
    }
    PyErr_Restore(type, value, tb);
    return type ? -1 : 0;
}

PyObject* build_wrapper(PyObject* wrapper, PyObject* type_ctx, const RecursiveBuilder& builder) noexcept {
    Ref rec_id = Ref::steal(subscript(wrapper, str<"id">()));
    if (!rec_id) return nullptr;
    Ref cell = Ref::steal(PyList_New(1));
    if (!cell) return nullptr;
    PyList_SET_ITEM(cell.get(), 0, Py_NewRef(Py_None));
    Ref forwarder = make_function(*builder.forwarder, {cell.get()});
    if (!forwarder) return nullptr;
    Ref prev = Ref::steal(context_get(type_ctx, rec_id.get()));
    if (!prev) return nullptr;
    if (context_set(type_ctx, rec_id.get(), forwarder.get()) < 0) return nullptr;

    Ref inner_type = Ref::steal(subscript(wrapper, str<"inner">()));
    Ref inner;
    if (inner_type) inner = Ref::steal(build_nested(builder.builder, inner_type.get(), type_ctx));
    if (inner && PyList_SetItem(cell.get(), 0, inner.new_ref()) < 0) inner.reset();
    if (restore_context(type_ctx, rec_id.get(), prev.get()) < 0 || !inner) return nullptr;
    return PySequence_GetItem(cell.get(), 0);
}

PyObject* resolve_reference(PyObject* payload, PyObject* type_ctx, const RecursiveBuilder& builder) noexcept {
    Ref rec_id = Ref::steal(PyObject_GetAttr(payload, str<"value">()));
    if (!rec_id) return nullptr;
    Ref resolved = Ref::steal(context_get(type_ctx, rec_id.get()));
    if (!resolved) return nullptr;
    if (resolved.get() != Py_None) return resolved.release();
    rec_id = Ref::steal(PyObject_GetAttr(payload, str<"value">()));
    if (!rec_id) return nullptr;
    Ref text = Ref::steal(as_text(rec_id.get(), builder.id_text));
    if (!text) return nullptr;
    PyErr_Format(PyExc_ValueError, "%s: unresolved Recursive ref(%U)", name_of(builder.builder), text.get());
    return nullptr;
}

}  // namespace

PyObject* build_recursive(PyObject* type_val, PyObject* type_ctx,
                          const RecursiveBuilder& builder) noexcept {
    Ref payload = Ref::steal(PyObject_GetAttr(type_val, str<"value">()));
    if (!payload) return nullptr;
    Ref kind = Ref::steal(PyObject_GetAttr(payload.get(), str<"type">()));
    if (!kind) return nullptr;
    int is_wrapper = PyObject_RichCompareBool(kind.get(), str<"wrapper">(), Py_EQ);
    if (is_wrapper < 0) return nullptr;
    if (!is_wrapper) return resolve_reference(payload.get(), type_ctx, builder);
    Ref wrapper = Ref::steal(PyObject_GetAttr(payload.get(), str<"value">()));
    if (!wrapper) return nullptr;
    return build_wrapper(wrapper.get(), type_ctx, builder);
}

}  // namespace vorn::sortkit
