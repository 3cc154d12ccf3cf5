// c_value_to_py: a runtime value handle of a Vorn type to the Python value classes
// of vorn.types.values (Struct as dict, Variant as {"type", "value"}).
#include "bridge.hpp"
#include "member_names.hpp"


namespace vornc_bridge {
namespace {

class ToPy {
public:
    PyObject* value(VornValue* v, const VornType* t, const VornScope* env) noexcept {
        VornKind kind = vorn_type_kind(t);
        if (kind == VORN_RECURSIVE) return recursive(v, t, env);
        VornKind want = kind == VORN_ASYNC_FUNCTION ? VORN_FUNCTION : kind;
        if (kind == VORN_NEVER || vorn_value_kind(v) != want) {
            PyErr_Format(PyExc_TypeError, "runtime value of kind %s does not fit type %s",
                         vorn_kind_name(vorn_value_kind(v)), vorn_kind_name(kind));
            return nullptr;
        }
        switch (kind) {
            case VORN_NULL:
                Py_RETURN_NONE;
            case VORN_BOOLEAN:
                return PyBool_FromLong(vorn_value_get_bool(v));
            case VORN_INTEGER:
                return PyLong_FromLongLong(vorn_value_get_int(v));
            case VORN_FLOAT:
                return PyFloat_FromDouble(vorn_value_get_float(v));
            case VORN_STRING: {
                size_t size;
                const char* s = vorn_value_get_bytes(v, &size);
                return PyUnicode_DecodeUTF8(s, static_cast<Py_ssize_t>(size), "strict");
            }
            case VORN_DATETIME:
                return micros_to_datetime(vorn_value_get_datetime(v));
            case VORN_BLOB: {
                size_t size;
                const char* s = vorn_value_get_bytes(v, &size);
                Ref bytes = Ref::steal(PyBytes_FromStringAndSize(s, static_cast<Py_ssize_t>(size)));
                if (!bytes) return nullptr;
                return PyObject_CallOneArg(py.blob, bytes.get());
            }
            case VORN_VECTOR: {
                Ref items = Ref::steal(list(v, t, env));
                return items ? PyObject_CallOneArg(py.vector, items.get()) : nullptr;
            }
            case VORN_ARRAY:
                return array(v, t, env);
            case VORN_SET: {
                Ref items = Ref::steal(list(v, t, env));
                return items ? PyObject_CallOneArg(py.set, items.get()) : nullptr;
            }
            case VORN_MATRIX:
                return matrix(v, t, env);
            case VORN_DICT:
                return dict(v, t, env);
            case VORN_REF:
                return ref(v, t, env);
            case VORN_STRUCT:
                return record(v, t, env);
            case VORN_VARIANT:
                return variant(v, t, env);
            default:
                return function(v, t);
        }
    }

private:
    MemberNames names_;

    PyObject* recursive(VornValue* v, const VornType* t, const VornScope* env) noexcept {
        RecursionGuard guard(" while converting a runtime value");
        if (guard.failed()) return nullptr;
        if (vorn_type_is_rec_ref(t)) {
            const VornScope* frame = vorn_scope_find(env, t);
            if (!frame) {
                PyErr_SetString(PyExc_TypeError, "Recursive reference outside its wrapper");
                return nullptr;
            }
            return value(v, vorn_type_child(frame->wrapper, 0), frame);
        }
        VornScope frame{t, env};
        return value(v, vorn_type_child(t, 0), &frame);
    }

    // Items [from, to) converted with `elem`, into a new list.
    PyObject* items(VornValue* v, size_t from, size_t to, const VornType* elem, const VornScope* env) noexcept {
        Ref out = Ref::steal(PyList_New(static_cast<Py_ssize_t>(to - from)));
        if (!out) return nullptr;
        for (size_t i = from; i < to; ++i) {
            PyObject* item = value(vorn_value_item(v, i), elem, env);
            if (!item) return nullptr;
            PyList_SET_ITEM(out.get(), static_cast<Py_ssize_t>(i - from), item);
        }
        return out.release();
    }

    PyObject* list(VornValue* v, const VornType* t, const VornScope* env) noexcept {
        RecursionGuard guard(" while converting a runtime value");
        if (guard.failed()) return nullptr;
        return items(v, 0, vorn_value_count(v), vorn_type_child(t, 0), env);
    }

    PyObject* array(VornValue* v, const VornType* t, const VornScope* env) noexcept {
        RecursionGuard guard(" while converting a runtime value");
        if (guard.failed()) return nullptr;
        Ref out = Ref::steal(PyObject_CallNoArgs(py.array));
        if (!out) return nullptr;
        if (!PyList_Check(out.get())) {
            PyErr_SetString(PyExc_TypeError, "VornArray is expected to be a list");
            return nullptr;
        }
        const VornType* elem = vorn_type_child(t, 0);
        size_t n = vorn_value_count(v);
        for (size_t i = 0; i < n; ++i) {
            Ref item = Ref::steal(value(vorn_value_item(v, i), elem, env));
            if (!item || PyList_Append(out.get(), item.get()) < 0) return nullptr;
        }
        return out.release();
    }

    // VornMatrix of list rows; one without rows keeps its column count.
    PyObject* matrix(VornValue* v, const VornType* t, const VornScope* env) noexcept {
        RecursionGuard guard(" while converting a runtime value");
        if (guard.failed()) return nullptr;
        size_t rows, cols;
        vorn_value_matrix_shape(v, &rows, &cols);
        if (vorn_value_count(v) != rows * cols) {
            PyErr_SetString(PyExc_ValueError, "runtime Matrix has the wrong number of elements");
            return nullptr;
        }
        const VornType* elem = vorn_type_child(t, 0);
        Ref row_list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(rows)));
        if (!row_list) return nullptr;
        for (size_t r = 0; r < rows; ++r) {
            PyObject* row = items(v, r * cols, (r + 1) * cols, elem, env);
            if (!row) return nullptr;
            PyList_SET_ITEM(row_list.get(), static_cast<Py_ssize_t>(r), row);
        }
        Ref out = Ref::steal(PyObject_CallOneArg(py.matrix, row_list.get()));
        if (!out) return nullptr;
        if (rows == 0 && cols != 0) {
            Ref width = Ref::steal(PyLong_FromSize_t(cols));
            if (!width || PyObject_SetAttr(out.get(), str<"cols">(), width.get()) < 0) return nullptr;
        }
        return out.release();
    }

    PyObject* dict(VornValue* v, const VornType* t, const VornScope* env) noexcept {
        RecursionGuard guard(" while converting a runtime value");
        if (guard.failed()) return nullptr;
        size_t n = vorn_value_count(v);
        Ref pairs = Ref::steal(PyList_New(static_cast<Py_ssize_t>(n)));
        if (!pairs) return nullptr;
        for (size_t i = 0; i < n; ++i) {
            Ref key = Ref::steal(value(vorn_value_dict_key(v, i), vorn_type_child(t, 0), env));
            if (!key) return nullptr;
            Ref val = Ref::steal(value(vorn_value_dict_value(v, i), vorn_type_child(t, 1), env));
            if (!val) return nullptr;
            PyObject* pair = PyTuple_Pack(2, key.get(), val.get());
            if (!pair) return nullptr;
            PyList_SET_ITEM(pairs.get(), static_cast<Py_ssize_t>(i), pair);
        }
        return PyObject_CallOneArg(py.dict, pairs.get());
    }

    PyObject* ref(VornValue* v, const VornType* t, const VornScope* env) noexcept {
        RecursionGuard guard(" while converting a runtime value");
        if (guard.failed()) return nullptr;
        ValueHandle target(vorn_value_ref_get(v));
        if (!target) {
            PyErr_SetString(PyExc_ValueError, "runtime Ref without a target");
            return nullptr;
        }
        Ref inner = Ref::steal(value(target.get(), vorn_type_child(t, 0), env));
        return inner ? PyObject_CallOneArg(py.ref, inner.get()) : nullptr;
    }

    PyObject* record(VornValue* v, const VornType* t, const VornScope* env) noexcept {
        RecursionGuard guard(" while converting a runtime value");
        if (guard.failed()) return nullptr;
        const std::vector<Ref>* names = names_.of(t);
        if (!names) return nullptr;
        size_t n = names->size();
        if (vorn_value_count(v) != n) {
            PyErr_SetString(PyExc_ValueError, "runtime Struct has the wrong number of fields");
            return nullptr;
        }
        Ref out = Ref::steal(PyDict_New());
        if (!out) return nullptr;
        for (size_t i = 0; i < n; ++i) {
            Ref item = Ref::steal(value(vorn_value_item(v, i), vorn_type_child(t, i), env));
            if (!item || PyDict_SetItem(out.get(), (*names)[i].get(), item.get()) < 0) return nullptr;
        }
        return out.release();
    }

    PyObject* variant(VornValue* v, const VornType* t, const VornScope* env) noexcept {
        RecursionGuard guard(" while converting a runtime value");
        if (guard.failed()) return nullptr;
        const std::vector<Ref>* names = names_.of(t);
        if (!names) return nullptr;
        size_t index = vorn_value_variant_case(v);
        if (index >= names->size()) {
            PyErr_SetString(PyExc_ValueError, "runtime Variant case out of range");
            return nullptr;
        }
        Ref payload = Ref::steal(value(vorn_value_variant_payload(v), vorn_type_child(t, index), env));
        if (!payload) return nullptr;
        Ref out = Ref::steal(PyDict_New());
        if (!out || PyDict_SetItem(out.get(), str<"type">(), (*names)[index].get()) < 0 ||
            PyDict_SetItem(out.get(), str<"value">(), payload.get()) < 0)
            return nullptr;
        return out.release();
    }

    // The callable a Function value was made from, or a CValue holding the handle.
    static PyObject* function(VornValue* v, const VornType* t) noexcept {
        if (PyObject* callable = wrapped_callable(v)) return Py_NewRef(callable);
        return make_cvalue(vorn_value_retain(v), vorn_type_retain(const_cast<VornType*>(t)));
    }
};

}  // namespace

PyObject* c_value_to_py(VornValue* value, VornType* type) noexcept {
    if (!value || !type) {
        PyErr_SetString(PyExc_SystemError, "c_value_to_py called with NULL");
        return nullptr;
    }
    // Scalars of their own type need no walk.
    VornKind kind = vorn_type_kind(type);
    if (kind == vorn_value_kind(value)) {
        switch (kind) {
            case VORN_INTEGER: return PyLong_FromLongLong(vorn_value_get_int(value));
            case VORN_FLOAT: return PyFloat_FromDouble(vorn_value_get_float(value));
            case VORN_BOOLEAN: return PyBool_FromLong(vorn_value_get_bool(value));
            case VORN_NULL: Py_RETURN_NONE;
            default: break;
        }
    }
    ToPy convert;
    return convert.value(value, type, nullptr);
}

}  // namespace vornc_bridge
