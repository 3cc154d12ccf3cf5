// Argument parsing for native functions: positional, then keywords by parameter
// name, with the interpreter's messages for every misuse.
#include "common/args.hpp"

#include "common/function.hpp"

namespace vorn {

void raise_argument_count(const char* name, bool exact, Py_ssize_t min, Py_ssize_t max,
                          Py_ssize_t given) noexcept {
    const char* bound_word;
    Py_ssize_t bound;
    if (given < min) {
        bound = min;
        bound_word = "at least";
    } else {
        bound = max;
        bound_word = "at most";
    }
    if (exact) bound_word = "exactly";
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
                 name, bound_word, bound, bound == 1 ? "" : "s", given);
}

void raise_argument_type(const char* arg, const char* expected, PyObject* obj) noexcept {
    PyErr_Format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)",
                 arg, expected, Py_TYPE(obj)->tp_name);
}

namespace {

// Index of parameter `key` among spec's names, or -1.
int parameter_index(const FunctionSpec& spec, PyObject* key) noexcept {
    for (int i = 0; i < spec.nparams; ++i) {
        if (PyUnicode_CompareWithASCIIString(key, spec.params[i]) == 0) return i;
    }
    return -1;
}

}  // namespace

int parse_arguments(const FunctionSpec& spec, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** out) noexcept {
    const Py_ssize_t n = spec.nparams;
    const bool exact = spec.nrequired == spec.nparams;
    if (n == 0) {
        // A function without parameters words its errors as the interpreter's own do.
        if (nargs > 0) {
            PyErr_Format(PyExc_TypeError, "%.200s() takes no arguments (%zd given)", spec.name, nargs);
            return -1;
        }
        if (kwnames && PyTuple_GET_SIZE(kwnames) > 0) {
            PyErr_Format(PyExc_TypeError, "%.200s() takes no keyword arguments", spec.name);
            return -1;
        }
        return 0;
    }
    if (nargs > n) {
        raise_argument_count(spec.name, exact, spec.nrequired, n, nargs);
        return -1;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
    for (Py_ssize_t i = nargs; i < n; ++i) out[i] = nullptr;

    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    if (nkw > 0) {
        PyObject* const* kwvalues = args + nargs;
        // Keywords are matched to the parameters after the positional ones; one that
        // names a positional parameter, or no parameter, is an error. A missing
        // required argument is reported before a bad keyword.
        bool bad_keyword = false;
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            PyObject* key = PyTuple_GET_ITEM(kwnames, k);
            int idx = PyUnicode_Check(key) ? parameter_index(spec, key) : -1;
            if (idx >= nargs) out[idx] = kwvalues[k];
            else bad_keyword = true;
        }
        for (Py_ssize_t i = nargs; i < spec.nrequired; ++i) {
            if (!out[i]) {
                raise_argument_count(spec.name, exact, spec.nrequired, n, i);
                return -1;
            }
        }
        if (bad_keyword) {
            for (Py_ssize_t k = 0; k < nkw; ++k) {
                PyObject* key = PyTuple_GET_ITEM(kwnames, k);
                if (!PyUnicode_Check(key)) {
                    PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", spec.name);
                    return -1;
                }
                int idx = parameter_index(spec, key);
                if (idx < 0) {
                    PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'",
                                 spec.name, key);
                    return -1;
                }
                if (idx < nargs) {
                    PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'",
                                 spec.name, key);
                    return -1;
                }
            }
        }
    } else if (nargs < spec.nrequired) {
        raise_argument_count(spec.name, exact, spec.nrequired, n, nargs);
        return -1;
    }
    for (Py_ssize_t i = nargs; i < n; ++i) {
        if (!out[i]) out[i] = Py_None;
    }
    return 0;
}

}  // namespace vorn
