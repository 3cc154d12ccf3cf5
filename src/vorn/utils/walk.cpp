// The temporaries kept alive for the length of a walk.
#include "vorn/utils/walk.hpp"

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

}  // namespace vorn::sortkit
