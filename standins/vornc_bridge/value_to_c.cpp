// py_value_to_c: a Python value of a Vorn type to a runtime value handle, checking
// that the value fits the type at every level.
#include "bridge.hpp"
#include "member_names.hpp"


namespace vornc_bridge {
namespace {

VornValue* type_error(const char* expected, VornKind kind, PyObject* got) noexcept {
    PyErr_Format(PyExc_TypeError, "expected %s for %s, got %.200s", expected, vorn_kind_name(kind),
                 Py_TYPE(got)->tp_name);
    return nullptr;
}

VornValue* no_memory() noexcept {
    PyErr_NoMemory();
    return nullptr;
}

bool is_instance(PyObject* v, PyObject* cls) noexcept {
    return Py_IS_TYPE(v, reinterpret_cast<PyTypeObject*>(cls)) ||
           (PyType_Check(cls) && PyType_IsSubtype(Py_TYPE(v), reinterpret_cast<PyTypeObject*>(cls)));
}

// Text and byte strings are sequences too, but never of Vorn elements.
bool is_textlike(PyObject* v) noexcept {
    return PyUnicode_Check(v) || PyBytes_Check(v) || PyByteArray_Check(v) || PyMemoryView_Check(v);
}

class ToC {
public:
    VornValue* value(PyObject* v, const VornType* t, const VornScope* env) noexcept {
        VornKind kind = vorn_type_kind(t);
        if (kind == VORN_RECURSIVE) return recursive(v, t, env);
        if (is_cvalue(v)) return handle_of(v, t, env);
        switch (kind) {
            case VORN_NULL:
                if (v == Py_None) return vorn_null();
                return type_error("None", kind, v);
            case VORN_BOOLEAN:
                if (PyBool_Check(v)) return vorn_value_bool(v == Py_True);
                return type_error("bool", kind, v);
            case VORN_INTEGER:
                return integer(v);
            case VORN_FLOAT:
                return floating(v);
            case VORN_STRING:
                return string(v);
            case VORN_DATETIME: {
                int64_t micros;
                if (!datetime_to_micros(v, &micros)) return nullptr;
                VornValue* out = vorn_value_datetime(micros);
                return out ? out : no_memory();
            }
            case VORN_BLOB:
                return blob(v);
            case VORN_VECTOR:
                return vector(v, t, env);
            case VORN_ARRAY:
                if (PyList_Check(v) || PyTuple_Check(v) || (PySequence_Check(v) && !is_textlike(v)))
                    return sequence(VORN_ARRAY, v, t, env);
                return type_error("a list", kind, v);
            case VORN_SET:
                if (PyAnySet_Check(v) || is_instance(v, py.set) || PyList_Check(v) || PyTuple_Check(v))
                    return sequence(VORN_SET, v, t, env);
                return type_error("a VornSet or set", kind, v);
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
            case VORN_FUNCTION:
            case VORN_ASYNC_FUNCTION:
                return wrap_callable(v);
            default:
                PyErr_SetString(PyExc_TypeError, "the Never type has no values");
                return nullptr;
        }
    }

    // Adds to the exception set a note naming the part of the value whose conversion
    // failed, from that part outwards: "while converting field 'age' of element 3".
    void note_failed_path() noexcept {
        if (path_.empty() || !PyErr_ExceptionMatches(PyExc_Exception)) return;
        PyObject *type, *exc, *tb;
        PyErr_Fetch(&type, &exc, &tb);
        PyErr_NormalizeException(&type, &exc, &tb);
        if (tb && exc) PyException_SetTraceback(exc, tb);
        Ref note = path_note();
        Ref added = note && exc ? Ref::steal(PyObject_CallMethodOneArg(exc, str<"add_note">(), note.get())) : Ref();
        if (!added) PyErr_Clear();
        PyErr_Restore(type, exc, tb);
    }

private:
    MemberNames names_;
    // The parts on the way out of a failed conversion, innermost first; past
    // kPartsNamed only the outermost is kept and the others are counted.
    static constexpr size_t kPartsNamed = 12;
    std::vector<Ref> path_;
    Py_ssize_t parts_left_out_ = 0;

    // Records, on a failure path, the part of this level that failed. Returns null
    // so that a conversion can `return failed_at(...)`.
    template <class... Args>
    std::nullptr_t failed_at(const char* format, Args... args) noexcept {
        if (path_.size() > kPartsNamed) {
            path_.pop_back();
            ++parts_left_out_;
        }
        // The conversion's own error is put aside while the part is named; should
        // naming fail, the note loses the part and the error stays.
        PyObject *type, *exc, *tb;
        PyErr_Fetch(&type, &exc, &tb);
        Ref part = Ref::steal(PyUnicode_FromFormat(format, args...));
        try {
            if (part) path_.push_back(std::move(part));
        } catch (...) {
        }
        PyErr_Clear();
        PyErr_Restore(type, exc, tb);
        return nullptr;
    }
    // Member names are shown with repr() when they are exact str (no code of the
    // caller's runs), otherwise as they are.
    std::nullptr_t failed_at_member(const char* what, PyObject* name) noexcept {
        return PyUnicode_CheckExact(name) ? failed_at("%s %R", what, name) : failed_at("%s '%U'", what, name);
    }

    Ref path_note() const noexcept {
        Ref note = Ref::steal(PyUnicode_FromFormat("while converting %U", path_[0].get()));
        for (size_t i = 1; note && i < path_.size(); ++i) {
            if (i == path_.size() - 1 && parts_left_out_)
                note = Ref::steal(PyUnicode_FromFormat("%U of %s (%zd more)", note.get(), "\u2026", parts_left_out_));
            if (note) note = Ref::steal(PyUnicode_FromFormat("%U of %U", note.get(), path_[i].get()));
        }
        return note;
    }

    // A CValue stands for its own handle when its type is the type wanted (read
    // through the Recursive scopes of both); one without a type, when its kind fits.
    VornValue* handle_of(PyObject* v, const VornType* t, const VornScope* env) noexcept {
        VornValue* h = cvalue_value(v);
        const VornType* own = cvalue_type(v);
        VornKind want = vorn_type_kind(t);
        if (want == VORN_ASYNC_FUNCTION) want = VORN_FUNCTION;
        bool fits = own ? same_type(own, nullptr, t, env) : vorn_value_kind(h) == want;
        if (fits) return vorn_value_retain(h);
        if (!own) {
            PyErr_Format(PyExc_TypeError, "CValue of kind %s does not fit type %s",
                         vorn_kind_name(vorn_value_kind(h)), vorn_kind_name(vorn_type_kind(t)));
            return nullptr;
        }
        Ref have = Ref::steal(type_text(own, nullptr));
        Ref need = have ? Ref::steal(type_text(t, env)) : Ref();
        if (need)
            PyErr_Format(PyExc_TypeError, "CValue of type %U does not fit type %U", have.get(), need.get());
        return nullptr;
    }

    VornValue* recursive(PyObject* v, const VornType* t, const VornScope* env) noexcept {
        RecursionGuard guard(" while converting a Vorn value");
        if (guard.failed()) return nullptr;
        if (vorn_type_is_rec_ref(t)) {
            const VornScope* frame = vorn_scope_find(env, t);
            if (!frame) {
                size_t size;
                const char* scope = vorn_type_scope(t, &size, nullptr);
                PyErr_Format(PyExc_TypeError, "Recursive reference to scope '%.200s' outside its wrapper", scope);
                return nullptr;
            }
            return value(v, vorn_type_child(frame->wrapper, 0), frame);
        }
        VornScope frame{t, env};
        return value(v, vorn_type_child(t, 0), &frame);
    }

    VornValue* integer(PyObject* v) noexcept {
        Ref index;
        if (!PyLong_Check(v)) {
            if (PyFloat_Check(v) || !PyIndex_Check(v)) return type_error("int", VORN_INTEGER, v);
            index = Ref::steal(PyNumber_Index(v));
            if (!index) return nullptr;
            v = index.get();
        }
        int overflow = 0;
        long long i = PyLong_AsLongLongAndOverflow(v, &overflow);
        if (overflow) {
            PyErr_Format(PyExc_OverflowError, "Integer value %R is outside the signed 64-bit range", v);
            return nullptr;
        }
        if (i == -1 && PyErr_Occurred()) return nullptr;
        VornValue* out = vorn_value_int(i);
        return out ? out : no_memory();
    }

    VornValue* floating(PyObject* v) noexcept {
        double f;
        if (PyFloat_CheckExact(v)) {
            f = PyFloat_AS_DOUBLE(v);
        } else {
            PyNumberMethods* nb = Py_TYPE(v)->tp_as_number;
            if (!PyFloat_Check(v) && !PyLong_Check(v) && !(nb && (nb->nb_float || nb->nb_index)))
                return type_error("float", VORN_FLOAT, v);
            f = PyFloat_AsDouble(v);
            if (f == -1.0 && PyErr_Occurred()) return nullptr;
        }
        VornValue* out = vorn_value_float(f);
        return out ? out : no_memory();
    }

    VornValue* string(PyObject* v) noexcept {
        if (!PyUnicode_Check(v)) return type_error("str", VORN_STRING, v);
        Py_ssize_t size;
        const char* s = PyUnicode_AsUTF8AndSize(v, &size);
        if (!s) return nullptr;
        VornValue* out = vorn_value_string(s, static_cast<size_t>(size));
        return out ? out : no_memory();
    }

    VornValue* blob(PyObject* v) noexcept {
        Ref data;
        if (is_instance(v, py.blob)) {
            data = Ref::steal(PyObject_GetAttr(v, str<"data">()));
            if (!data) return nullptr;
            v = data.get();
        }
        if (!PyObject_CheckBuffer(v) || PyUnicode_Check(v)) return type_error("a VornBlob or bytes", VORN_BLOB, v);
        Py_buffer view;
        if (PyObject_GetBuffer(v, &view, PyBUF_CONTIG_RO) < 0) return nullptr;
        VornValue* out = vorn_value_blob(view.buf, static_cast<size_t>(view.len));
        PyBuffer_Release(&view);
        return out ? out : no_memory();
    }

    // Converts every item of `seq` (a list or tuple) with `elem` and appends it. A
    // list may change size meanwhile (conversions can run Python code): each index
    // is checked as it is read. False with MemoryError when the runtime could not
    // keep an item.
    // `cols` > 0 names a failed item by its place in a Matrix of that many columns
    // whose items before `seq` number `first`.
    bool fill(VornValue* out, PyObject* seq, const VornType* elem, const VornScope* env, Py_ssize_t cols = 0,
              Py_ssize_t first = 0) noexcept {
        size_t before = vorn_value_count(out), appended = 0;
        for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq); ++i) {
            Ref item = Ref::borrow(PySequence_Fast_GET_ITEM(seq, i));
            VornValue* c = value(item.get(), elem, env);
            if (!c) {
                if (cols) failed_at("element (%zd, %zd)", (first + i) / cols, (first + i) % cols);
                else failed_at("element %zd", i);
                return false;
            }
            vorn_value_append(out, c);
            ++appended;
        }
        if (vorn_value_count(out) != before + appended) {
            PyErr_NoMemory();
            return false;
        }
        return true;
    }

    VornValue* sequence(VornKind kind, PyObject* v, const VornType* t, const VornScope* env) noexcept {
        RecursionGuard guard(" while converting a Vorn value");
        if (guard.failed()) return nullptr;
        Ref seq = Ref::steal(PySequence_Fast(v, "expected an iterable"));
        if (!seq) return nullptr;
        Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
        ValueHandle out(vorn_value_list(kind, static_cast<size_t>(n)));
        if (!out) return no_memory();
        if (!fill(out.get(), seq.get(), vorn_type_child(t, 0), env)) return nullptr;
        // A Set holds each element once: later equal ones are dropped, as set() would.
        if (kind == VORN_SET && !vorn_value_drop_repeats(out.get())) return no_memory();
        return out.release();
    }

    // Numbers held by numpy come back as Python objects through tolist().
    static Ref as_python_list(PyObject* data) noexcept {
        if (PyList_Check(data) || PyTuple_Check(data)) return Ref::borrow(data);
        const int has = has_attr(data, str<"tolist">());
        if (has < 0) return Ref();
        if (has) return Ref::steal(PyObject_CallMethodNoArgs(data, str<"tolist">()));
        return Ref::borrow(data);
    }

    VornValue* vector(PyObject* v, const VornType* t, const VornScope* env) noexcept {
        Ref data;
        if (is_instance(v, py.vector)) {
            data = Ref::steal(PyObject_GetAttr(v, str<"_data">()));
            if (!data) return nullptr;
        } else {
            const int listlike = PyList_Check(v) || PyTuple_Check(v) ? 1 : has_attr(v, str<"tolist">());
            if (listlike < 0) return nullptr;
            if (!listlike) return type_error("a VornVector", VORN_VECTOR, v);
            data = Ref::borrow(v);
        }
        Ref items = as_python_list(data.get());
        if (!items) return nullptr;
        if (is_textlike(items.get()) || !PySequence_Check(items.get()))
            return type_error("a VornVector", VORN_VECTOR, v);
        return sequence(VORN_VECTOR, items.get(), t, env);
    }

    static bool dimension(PyObject* obj, PyObject* attr, Py_ssize_t* out) noexcept {
        Ref value = Ref::steal(PyObject_GetAttr(obj, attr));
        if (!value) return false;
        *out = PyNumber_AsSsize_t(value.get(), PyExc_OverflowError);
        if (*out == -1 && PyErr_Occurred()) return false;
        if (*out < 0) {
            PyErr_Format(PyExc_ValueError, "Matrix %U must not be negative", attr);
            return false;
        }
        return true;
    }

    // Whether `v` has both `shape` and `ravel` (a numpy array): 1 or 0, or -1 with an
    // exception set.
    static int array_like(PyObject* v) noexcept {
        const int has_shape = has_attr(v, str<"shape">());
        return has_shape <= 0 ? has_shape : has_attr(v, str<"ravel">());
    }

    // A VornMatrix, a 2-D numpy array, or a list of equally long rows.
    VornValue* matrix(PyObject* v, const VornType* t, const VornScope* env) noexcept {
        RecursionGuard guard(" while converting a Vorn value");
        if (guard.failed()) return nullptr;
        Py_ssize_t rows = 0, cols = 0;
        Ref flat;
        if (is_instance(v, py.matrix)) {
            if (!dimension(v, str<"rows">(), &rows) || !dimension(v, str<"cols">(), &cols)) return nullptr;
            Ref data = Ref::steal(PyObject_GetAttr(v, str<"_data">()));
            if (!data) return nullptr;
            Ref raveled = Ref::steal(PyObject_CallMethodNoArgs(data.get(), str<"ravel">()));
            if (!raveled) return nullptr;
            flat = as_python_list(raveled.get());
        } else if (int array = array_like(v)) {
            if (array < 0) return nullptr;
            Ref shape = Ref::steal(PyObject_GetAttr(v, str<"shape">()));
            if (!shape) return nullptr;
            if (!PyTuple_Check(shape.get()) || PyTuple_GET_SIZE(shape.get()) != 2) {
                PyErr_SetString(PyExc_ValueError, "a Matrix needs a 2-dimensional array");
                return nullptr;
            }
            rows = PyNumber_AsSsize_t(PyTuple_GET_ITEM(shape.get(), 0), PyExc_OverflowError);
            cols = PyNumber_AsSsize_t(PyTuple_GET_ITEM(shape.get(), 1), PyExc_OverflowError);
            if (PyErr_Occurred()) return nullptr;
            Ref raveled = Ref::steal(PyObject_CallMethodNoArgs(v, str<"ravel">()));
            if (!raveled) return nullptr;
            flat = as_python_list(raveled.get());
        } else if (PyList_Check(v) || PyTuple_Check(v)) {
            return matrix_from_rows(v, t, env);
        } else {
            return type_error("a VornMatrix", VORN_MATRIX, v);
        }
        if (!flat) return nullptr;
        Ref seq = Ref::steal(PySequence_Fast(flat.get(), "Matrix data must be a sequence"));
        if (!seq) return nullptr;
        if (cols && rows > PY_SSIZE_T_MAX / cols) return no_memory();
        if (PySequence_Fast_GET_SIZE(seq.get()) != rows * cols) {
            PyErr_Format(PyExc_ValueError, "Matrix of %zd x %zd holds %zd elements", rows, cols,
                         PySequence_Fast_GET_SIZE(seq.get()));
            return nullptr;
        }
        ValueHandle out(vorn_value_matrix(static_cast<size_t>(rows), static_cast<size_t>(cols)));
        if (!out) return no_memory();
        if (!fill(out.get(), seq.get(), vorn_type_child(t, 0), env, cols)) return nullptr;
        if (vorn_value_count(out.get()) != static_cast<size_t>(rows * cols)) {
            PyErr_SetString(PyExc_ValueError, "Matrix data changed size while being converted");
            return nullptr;
        }
        return out.release();
    }

    VornValue* matrix_from_rows(PyObject* v, const VornType* t, const VornScope* env) noexcept {
        Ref outer = Ref::steal(PySequence_Fast(v, "Matrix rows must be a sequence"));
        if (!outer) return nullptr;
        Py_ssize_t rows = PySequence_Fast_GET_SIZE(outer.get());
        std::vector<Ref> row_seqs;
        Py_ssize_t cols = 0;
        try {
            row_seqs.reserve(static_cast<size_t>(rows));
        } catch (...) {
            return no_memory();
        }
        for (Py_ssize_t r = 0; r < rows; ++r) {
            PyObject* row = PySequence_Fast_GET_ITEM(outer.get(), r);
            if (is_textlike(row)) return type_error("rows of elements", VORN_MATRIX, row);
            Ref seq = Ref::steal(PySequence_Fast(row, "Matrix rows must be sequences"));
            if (!seq) return nullptr;
            Py_ssize_t width = PySequence_Fast_GET_SIZE(seq.get());
            if (r == 0) cols = width;
            else if (width != cols) {
                PyErr_SetString(PyExc_ValueError, "Matrix rows differ in length");
                return nullptr;
            }
            row_seqs.push_back(std::move(seq));
        }
        ValueHandle out(vorn_value_matrix(static_cast<size_t>(rows), static_cast<size_t>(cols)));
        if (!out) return no_memory();
        for (size_t r = 0; r < row_seqs.size(); ++r) {
            const Py_ssize_t first = static_cast<Py_ssize_t>(r) * cols;
            if (!fill(out.get(), row_seqs[r].get(), vorn_type_child(t, 0), env, cols, first)) return nullptr;
        }
        if (vorn_value_count(out.get()) != static_cast<size_t>(rows * cols)) {
            PyErr_SetString(PyExc_ValueError, "Matrix rows changed while being converted");
            return nullptr;
        }
        return out.release();
    }

    // Converts entry number `i` of a Dict value.
    bool insert(VornValue* out, PyObject* key, PyObject* val, const VornType* t, const VornScope* env,
                Py_ssize_t i) noexcept {
        ValueHandle k(value(key, vorn_type_child(t, 0), env));
        if (!k) {
            failed_at("key of entry %zd", i);
            return false;
        }
        VornValue* c = value(val, vorn_type_child(t, 1), env);
        if (!c) {
            failed_at("value of entry %zd", i);
            return false;
        }
        vorn_value_insert(out, k.release(), c);
        return true;
    }

    // A dict, or any mapping with items() (VornDict).
    VornValue* dict(PyObject* v, const VornType* t, const VornScope* env) noexcept {
        RecursionGuard guard(" while converting a Vorn value");
        if (guard.failed()) return nullptr;
        ValueHandle out;
        size_t expected = 0;
        if (PyDict_Check(v)) {
            out.reset(vorn_value_dict(static_cast<size_t>(PyDict_GET_SIZE(v))));
            if (!out) return no_memory();
            Py_ssize_t pos = 0;
            PyObject *key, *val;
            while (PyDict_Next(v, &pos, &key, &val)) {
                // Held, since converting may run code that changes the dict.
                Ref k = Ref::borrow(key), x = Ref::borrow(val);
                if (!insert(out.get(), k.get(), x.get(), t, env, static_cast<Py_ssize_t>(expected))) return nullptr;
                ++expected;
            }
        } else {
            const int has_items = has_attr(v, str<"items">());
            if (has_items < 0) return nullptr;
            if (!has_items || is_textlike(v)) return type_error("a dict or VornDict", VORN_DICT, v);
            Ref items = Ref::steal(PyObject_CallMethodNoArgs(v, str<"items">()));
            if (!items) return nullptr;
            Ref seq = Ref::steal(PySequence_Fast(items.get(), "items() must return an iterable"));
            if (!seq) return nullptr;
            out.reset(vorn_value_dict(static_cast<size_t>(PySequence_Fast_GET_SIZE(seq.get()))));
            if (!out) return no_memory();
            for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq.get()); ++i) {
                Ref pair = Ref::borrow(PySequence_Fast_GET_ITEM(seq.get(), i));
                if (!PyTuple_Check(pair.get()) || PyTuple_GET_SIZE(pair.get()) != 2) {
                    PyErr_SetString(PyExc_TypeError, "Dict items must be (key, value) pairs");
                    return nullptr;
                }
                if (!insert(out.get(), PyTuple_GET_ITEM(pair.get(), 0), PyTuple_GET_ITEM(pair.get(), 1), t, env, i))
                    return nullptr;
                ++expected;
            }
        }
        if (vorn_value_count(out.get()) != expected) return no_memory();
        if (!unique_keys(out.get(), t, env)) return nullptr;
        return out.release();
    }

    // A Dict holds each key once: two equal keys (by Vorn equality, which can differ
    // from Python's) would leave one value unused, so they are refused.
    static bool unique_keys(VornValue* d, const VornType* t, const VornScope* env) noexcept {
        ptrdiff_t repeat = vorn_value_first_repeat(d);
        if (repeat == -1) return true;
        if (repeat < 0) {
            PyErr_NoMemory();
            return false;
        }
        Ref key = Ref::steal(value_text(vorn_value_dict_key(d, static_cast<size_t>(repeat)), vorn_type_child(t, 0), env));
        if (key) PyErr_Format(PyExc_ValueError, "Dict value holds the key %U more than once", key.get());
        return false;
    }

    VornValue* ref(PyObject* v, const VornType* t, const VornScope* env) noexcept {
        if (!is_instance(v, py.ref)) return type_error("a VornRef", VORN_REF, v);
        RecursionGuard guard(" while converting a Vorn value");
        if (guard.failed()) return nullptr;
        Ref target = Ref::steal(PyObject_GetAttr(v, str<"value">()));
        if (!target) return nullptr;
        VornValue* c = value(target.get(), vorn_type_child(t, 0), env);
        if (!c) return failed_at("the referenced value");
        VornValue* out = vorn_value_ref(c);
        return out ? out : no_memory();
    }

    // A field's value from a dict (fast) or any other mapping; null without an
    // exception when the field is absent.
    static Ref field(PyObject* v, PyObject* name) noexcept {
        if (PyDict_Check(v)) return Ref::borrow(PyDict_GetItemWithError(v, name));
        Ref item = Ref::steal(PyObject_GetItem(v, name));
        if (!item && PyErr_ExceptionMatches(PyExc_KeyError)) PyErr_Clear();
        return item;
    }

    VornValue* record(PyObject* v, const VornType* t, const VornScope* env) noexcept {
        if (!PyDict_Check(v) && !PyMapping_Check(v)) return type_error("a dict", VORN_STRUCT, v);
        if (is_textlike(v) || PyList_Check(v) || PyTuple_Check(v)) return type_error("a dict", VORN_STRUCT, v);
        RecursionGuard guard(" while converting a Vorn value");
        if (guard.failed()) return nullptr;
        const std::vector<Ref>* names = names_.of(t);
        if (!names) return nullptr;
        size_t n = names->size();
        ValueHandle out(vorn_value_list(VORN_STRUCT, n));
        if (!out) return no_memory();
        for (size_t i = 0; i < n; ++i) {
            PyObject* name = (*names)[i].get();
            Ref item = field(v, name);
            if (!item) {
                if (!PyErr_Occurred())
                    PyErr_Format(PyExc_ValueError, "Struct value is missing field %R", name);
                return failed_at_member("field", name);
            }
            VornValue* c = value(item.get(), vorn_type_child(t, i), env);
            if (!c) return failed_at_member("field", name);
            vorn_value_append(out.get(), c);
        }
        if (vorn_value_count(out.get()) != n) return no_memory();
        if (PyDict_Check(v) && static_cast<size_t>(PyDict_GET_SIZE(v)) != n) return extra_field(v, *names);
        return out.release();
    }

    // Data the type has no place for would be lost silently, so it is an error.
    static VornValue* extra_field(PyObject* v, const std::vector<Ref>& names) noexcept {
        Py_ssize_t pos = 0;
        PyObject *key, *val;
        while (PyDict_Next(v, &pos, &key, &val)) {
            bool known = false;
            for (const Ref& name : names) {
                int eq = PyObject_RichCompareBool(key, name.get(), Py_EQ);
                if (eq < 0) return nullptr;
                if (eq) {
                    known = true;
                    break;
                }
            }
            if (!known) {
                PyErr_Format(PyExc_ValueError, "Struct value has field %R, which its type does not have", key);
                return nullptr;
            }
        }
        PyErr_SetString(PyExc_ValueError, "Struct value changed while being converted");
        return nullptr;
    }

    // {"type": case name, "value": payload}; a missing "value" reads as None.
    VornValue* variant(PyObject* v, const VornType* t, const VornScope* env) noexcept {
        if ((!PyDict_Check(v) && !PyMapping_Check(v)) || is_textlike(v) || PyList_Check(v) || PyTuple_Check(v))
            return type_error("a dict with \"type\" and \"value\"", VORN_VARIANT, v);
        RecursionGuard guard(" while converting a Vorn value");
        if (guard.failed()) return nullptr;
        Ref case_name = field(v, str<"type">());
        if (!case_name) {
            if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "Variant value has no \"type\" key");
            return nullptr;
        }
        if (!PyUnicode_Check(case_name.get())) {
            PyErr_Format(PyExc_TypeError, "Variant case name must be str, got %.200s",
                         Py_TYPE(case_name.get())->tp_name);
            return nullptr;
        }
        Py_ssize_t size;
        const char* s = PyUnicode_AsUTF8AndSize(case_name.get(), &size);
        if (!s) return nullptr;
        ptrdiff_t index = vorn_type_member_index(t, s, static_cast<size_t>(size));
        if (index < 0) {
            PyErr_Format(PyExc_ValueError, "Variant type has no case %R", case_name.get());
            return nullptr;
        }
        Ref payload = field(v, str<"value">());
        if (!payload) {
            if (PyErr_Occurred()) return nullptr;
            payload = Ref::borrow(Py_None);
        }
        VornValue* c = value(payload.get(), vorn_type_child(t, static_cast<size_t>(index)), env);
        if (!c) return failed_at_member("case", case_name.get());
        VornValue* out = vorn_value_variant(static_cast<size_t>(index), c);
        return out ? out : no_memory();
    }
};

}  // namespace

VornValue* py_value_to_c(PyObject* value, VornType* type) noexcept {
    if (!value || !type) {
        PyErr_SetString(PyExc_SystemError, "py_value_to_c called with NULL");
        return nullptr;
    }
    // Exact ints and floats of their own type need no walk.
    VornKind kind = vorn_type_kind(type);
    if (kind == VORN_INTEGER && PyLong_CheckExact(value)) {
        int overflow = 0;
        long long i = PyLong_AsLongLongAndOverflow(value, &overflow);
        if (!overflow && !(i == -1 && PyErr_Occurred())) {
            VornValue* out = vorn_value_int(i);
            if (!out) PyErr_NoMemory();
            return out;
        }
        if (PyErr_Occurred()) return nullptr;
    } else if (kind == VORN_FLOAT && PyFloat_CheckExact(value)) {
        VornValue* out = vorn_value_float(PyFloat_AS_DOUBLE(value));
        if (!out) PyErr_NoMemory();
        return out;
    }
    try {
        ToC convert;
        VornValue* out = convert.value(value, type, nullptr);
        if (!out) convert.note_failed_path();
        return out;
    } catch (...) {
        PyErr_NoMemory();
        return nullptr;
    }
}

}  // namespace vornc_bridge
