// Conversions of Python objects to the native values the scalar orders work on.
#include "vorn/utils/sortkit.hpp"

#include <climits>

namespace vorn::sortkit {

int to_truth(PyObject* o, int* out) noexcept {
    if (o == Py_True) { *out = 1; return 0; }
    if (o == Py_False || o == Py_None) { *out = 0; return 0; }
    int t = PyObject_IsTrue(o);
    if (t < 0) return -1;
    *out = t;
    return 0;
}

namespace {

// An int, as it is, or the result of the type's __int__, checked as the
// interpreter's own integer conversion of a C argument checks it. New reference.
PyObject* as_int_object(PyObject* o) noexcept {
    if (PyLong_Check(o)) return Py_NewRef(o);
    PyNumberMethods* nb = Py_TYPE(o)->tp_as_number;
    if (!nb || !nb->nb_int) {
        PyErr_SetString(PyExc_TypeError, "an integer is required");
        return nullptr;
    }
    PyObject* r = nb->nb_int(o);
    if (!r || PyLong_CheckExact(r)) return r;
    if (PyLong_Check(r)) {
        if (PyErr_WarnFormat(PyExc_DeprecationWarning, 1,
                             "__int__ returned non-int (type %.200s).  The ability to return an "
                             "instance of a strict subclass of int is deprecated, and may be "
                             "removed in a future version of Python.",
                             Py_TYPE(r)->tp_name) < 0) {
            Py_DECREF(r);
            return nullptr;
        }
        return r;
    }
    PyErr_Format(PyExc_TypeError, "__int__ returned non-int (type %.200s)", Py_TYPE(r)->tp_name);
    Py_DECREF(r);
    return nullptr;
}

}  // namespace

int to_int64(PyObject* o, int64_t* out) noexcept {
    if (PyLong_CheckExact(o)) {
        int overflow = 0;
        long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
        if (!overflow) {
            if (v == -1 && PyErr_Occurred()) return -1;
            *out = v;
            return 0;
        }
    }
    Ref n = Ref::steal(as_int_object(o));
    if (!n) return -1;
    long long v = PyLong_AsLongLong(n.get());
    if (v == -1 && PyErr_Occurred()) return -1;
    *out = v;
    return 0;
}

int to_int32(PyObject* o, int32_t* out) noexcept {
    Ref n = Ref::steal(as_int_object(o));
    if (!n) return -1;
    long v = PyLong_AsLong(n.get());
    if (v == -1 && PyErr_Occurred()) return -1;
    if (v < INT32_MIN || v > INT32_MAX) {
        PyErr_SetString(PyExc_OverflowError, "value too large to convert to int");
        return -1;
    }
    *out = static_cast<int32_t>(v);
    return 0;
}

int to_double(PyObject* o, double* out) noexcept {
    if (PyFloat_CheckExact(o)) {
        *out = PyFloat_AS_DOUBLE(o);
        return 0;
    }
    double d = PyFloat_AsDouble(o);
    if (d == -1.0 && PyErr_Occurred()) return -1;
    *out = d;
    return 0;
}

}  // namespace vorn::sortkit
