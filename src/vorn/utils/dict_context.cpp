// The visit check on the dict form of the comparison context.
#include "vorn/utils/dict_context.hpp"

#include "common/strings.hpp"

namespace vorn::sortkit {
namespace {

int set_contains(PyObject* s, PyObject* item) noexcept {
    if (PyAnySet_CheckExact(s)) return PySet_Contains(s, item);
    return PySequence_Contains(s, item);
}

int set_add(PyObject* s, PyObject* item) noexcept {
    if (PySet_CheckExact(s)) return PySet_Add(s, item);
    Ref r = Ref::steal(PyObject_CallMethodOneArg(s, str<"add">(), item));
    return r ? 0 : -1;
}

// ctx[x_id], or null without an exception when x_id is not a key. New reference.
PyObject* lookup(PyObject* ctx, PyObject* x_id) noexcept {
    if (PyDict_CheckExact(ctx)) return Py_XNewRef(PyDict_GetItemWithError(ctx, x_id));
    int present = PySequence_Contains(ctx, x_id);
    if (present <= 0) return nullptr;
    return PyObject_GetItem(ctx, x_id);
}

}  // namespace

int visit_pair(PyObject** ctx, Ref& owned, PyObject* x, PyObject* y) noexcept {
    if (*ctx == Py_None) {
        owned = Ref::steal(PyDict_New());
        if (!owned) return -1;
        *ctx = owned.get();
    }
    Ref x_id = Ref::steal(PyLong_FromVoidPtr(x));
    if (!x_id) return -1;
    Ref seen = Ref::steal(lookup(*ctx, x_id.get()));
    if (PyErr_Occurred()) return -1;
    Ref y_id = Ref::steal(PyLong_FromVoidPtr(y));
    if (!y_id) return -1;
    if (seen) {
        int found = set_contains(seen.get(), y_id.get());
        if (found != 0) return found;
    } else {
        seen = Ref::steal(PySet_New(nullptr));
        if (!seen || PyObject_SetItem(*ctx, x_id.get(), seen.get()) < 0) return -1;
    }
    return set_add(seen.get(), y_id.get()) < 0 ? -1 : 0;
}

}  // namespace vorn::sortkit
