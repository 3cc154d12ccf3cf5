// Iterating an exact dict's items in C, step for step as iter(d.items()) does.
#pragma once

#include "common/ref.hpp"

namespace vorn::sortkit {

// iter(d.items()) of an exact dict, stepped in C: what the interpreter's item iterator
// does at each step (the same "changed size" and "keys changed" errors, at the same
// step), without a tuple per item. `d` must outlive it.
struct DictItems {
    PyObject* d;
    Py_ssize_t pos = 0, used, left;
    bool done = false;

    explicit DictItems(PyObject* dict) noexcept : d(dict), used(PyDict_GET_SIZE(dict)), left(used) {}

    // 1 with the next key and value (borrowed), 0 at the end, -1 with an exception.
    int next(PyObject** key, PyObject** value) noexcept {
        if (done) return 0;
        if (used != PyDict_GET_SIZE(d)) {
            PyErr_SetString(PyExc_RuntimeError, "dictionary changed size during iteration");
            return -1;
        }
        if (!PyDict_Next(d, &pos, key, value)) {
            done = true;
            return 0;
        }
        if (left == 0) {
            PyErr_SetString(PyExc_RuntimeError, "dictionary keys changed during iteration");
            done = true;
            return -1;
        }
        --left;
        return 1;
    }
};

}  // namespace vorn::sortkit
