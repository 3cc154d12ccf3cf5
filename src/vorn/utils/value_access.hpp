// How the walks read values: subscription, indexing, and whether what they read is
// made afresh by the access (a temporary) or read from a container's own storage.
#pragma once

#include "common/ref.hpp"
#include "common/type_memo.hpp"

namespace vorn::sortkit {

// `mapping[key]` as Python evaluates it, exact dicts read directly (KeyError for a
// missing key). For values (Struct fields, Variant tags) and descriptor payloads
// alike. New reference, or null with an exception set.
PyObject* subscript(PyObject* mapping, PyObject* key) noexcept;

// `seq[i]` as Python evaluates it (0 <= i), exact lists and tuples read directly.
// New reference, or null with an exception set.
PyObject* item_at(PyObject* seq, Py_ssize_t i) noexcept;

// A list whose indexing is the list's own: an exact list, or a subclass that leaves
// __getitem__ alone, whose items are therefore read from its storage, never fresh.
// The subclass test looks the method up, so it is out of line; the last subclass it
// found plain is remembered here, as walks ask for both lists at every comparison.
bool is_plain_list_subclass(PyObject* o) noexcept;
inline TypeMemo last_plain_list;
inline bool is_plain_list(PyObject* o) noexcept {
    return PyList_CheckExact(o) || last_plain_list.holds(Py_TYPE(o)) || is_plain_list_subclass(o);
}

// Whether len() of the list `o` is its size without user code: not so for a subclass
// with its own __len__, which len() asks.
inline bool has_list_len(PyObject* o) noexcept {
    return PyList_CheckExact(o) || Py_TYPE(o)->tp_as_sequence->sq_length == PyList_Type.tp_as_sequence->sq_length;
}

// Whether items of `seq` read by index come from its own storage (never fresh).
inline bool indexes_storage(PyObject* seq) noexcept { return PyTuple_CheckExact(seq) || is_plain_list(seq); }

// Whether values read from `x` and `y` by subscription are made by the access: true
// unless both are exact dicts.
inline bool subscription_is_fresh(PyObject* x, PyObject* y) noexcept {
    return !PyDict_CheckExact(x) || !PyDict_CheckExact(y);
}

}  // namespace vorn::sortkit
