// The dict watcher behind dict_signal::stamp, started on first use.
#include "common/dict_signal.hpp"

namespace vorn::dict_signal {

#if PY_VERSION_HEX >= 0x030C0000
uint64_t epoch = 1;

namespace {

constexpr int kNotStarted = -1;
constexpr int kNoWatcher = -2;  // none was to be had: nothing is stamped
int watcher_id = kNotStarted;

// Runs inside the dict's own update: it must not run code, raise or touch the dict.
// A dict's deallocation changes nothing that a stamp stands for: whatever read it
// holds it, or holds a watched dict that held it and changed when it let it go.
int on_event(PyDict_WatchEvent event, PyObject*, PyObject*, PyObject*) noexcept {
    if (event != PyDict_EVENT_DEALLOCATED) ++epoch;
    return 0;
}

// At most eight watchers exist per interpreter, shared with every other extension;
// when none is left, nothing is stamped and the fast paths that need stamps stand down.
bool start() noexcept {
    if (watcher_id == kNoWatcher) return false;
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    const int id = PyDict_AddWatcher(on_event);
    if (id < 0) PyErr_Clear();
    PyErr_Restore(type, value, tb);
    watcher_id = id < 0 ? kNoWatcher : id;
    return id >= 0;
}

}  // namespace

uint64_t stamp(PyObject* d) noexcept {
    if (!compat::dict_changes_reported(d)) return 0;
    if (watcher_id < 0 && !start()) return 0;
    if (compat::dict_watched_by(d, watcher_id)) return epoch;
    // Fails only for an id no longer set, cleared by someone else: then stand down,
    // and end every stamp taken.
    if (PyDict_Watch(watcher_id, d) < 0) {
        PyErr_Clear();
        watcher_id = kNoWatcher;
        ++epoch;
        return 0;
    }
    return epoch;
}
#else
uint64_t stamp(PyObject* d) noexcept { return compat::dict_version(d); }
#endif

}  // namespace vorn::dict_signal
