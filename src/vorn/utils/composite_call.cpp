// The temporaries kept alive for the length of a walk, the object results of
// component calls, and the failure path of a composite level.
#include "vorn/utils/composite_call.hpp"

namespace vorn::sortkit {

thread_local WalkState walk_state [[gnu::tls_model("initial-exec")]]{};

int keep_alive(PyObject* x, PyObject* y) noexcept {
    WalkState& w = walk_state;
    if (w.depth == 0) return 0;  // no walk to outlive
    if (w.capacity - w.count < 2) {
        Py_ssize_t capacity = 2 * w.capacity + 64;
        auto* bigger = static_cast<PyObject**>(PyMem_RawRealloc(w.kept, sizeof(PyObject*) * capacity));
        if (!bigger) {
            PyErr_NoMemory();
            return -1;
        }
        w.kept = bigger;
        w.capacity = capacity;
    }
    w.kept[w.count++] = Py_NewRef(x);
    w.kept[w.count++] = Py_NewRef(y);
    return 0;
}

void release_kept() noexcept {
    // Taken out first: releasing can run code (__del__) that starts a walk of its own.
    WalkState& w = walk_state;
    PyObject** kept = w.kept;
    Py_ssize_t count = w.count;
    w.kept = nullptr;
    w.count = w.capacity = 0;
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    for (Py_ssize_t i = 0; i < count; ++i) Py_DECREF(kept[i]);
    PyErr_Restore(type, value, tb);
    PyMem_RawFree(kept);
}

namespace {

// Names print by repr() only when they are exact built-in scalars, whose repr runs no
// code of the caller's.
bool plain_name(PyObject* name) noexcept {
    return name && (PyUnicode_CheckExact(name) || PyLong_CheckExact(name) || PyFloat_CheckExact(name) ||
                    PyBool_Check(name));
}

}  // namespace

int child_failed(Doing doing, const Child& where, int error) noexcept {
    switch (where.at) {
        case Child::At::Field:
            if (plain_name(where.name)) note_failed_part(doing, "field %R", where.name);
            else note_failed_part(doing, "field %zd", where.index);
            break;
        case Child::At::Index: note_failed_part(doing, "element %zd", where.index); break;
        case Child::At::Element: note_failed_part(doing, "element %zd in sorted order", where.index); break;
        case Child::At::Case:
            if (plain_name(where.name)) note_failed_part(doing, "case %R", where.name);
            else note_failed_part(doing, "a case");
            break;
        case Child::At::Entry:
            if (plain_name(where.name)) note_failed_part(doing, "the entry of key %R", where.name);
            else note_failed_part(doing, "an entry");
            break;
        case Child::At::Referent: note_failed_part(doing, "the referenced value"); break;
    }
    return error;
}

int object_result_of_call(PyObject* fn, PyObject* x, PyObject* y, PyObject* ctx, bool fresh,
                          PyObject** object) noexcept {
    int r = compare_component(fn, x, y, ctx, fresh, object);
    if (r != kObjectResult) return r;
    int nonzero = object_result(*object);
    if (nonzero > 0) return kObjectResult;
    Py_CLEAR(*object);
    return nonzero < 0 ? kFailed : 0;
}

int object_result(PyObject* r) noexcept {
    if (PyLong_CheckExact(r)) return !compat::int_is_zero(r);
    static PyObject* zero = PyLong_FromLong(0);  // the interpreter's cached 0, kept
    if (!zero) return -1;
    Ref ne = Ref::steal(PyObject_RichCompare(r, zero, Py_NE));
    return ne ? PyObject_IsTrue(ne.get()) : -1;
}

}  // namespace vorn::sortkit
