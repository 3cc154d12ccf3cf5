// Every use of interpreter internals, each with a portable fallback. The internals of
// CPython 3.11 to 3.15 are known here; a later version builds with the fallbacks, so
// that it works on its first day.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

// VORN_COMPAT_PORTABLE forces every fallback, so the fallbacks are built and tested on
// any version (the CMake option of that name sets it).
#if PY_VERSION_HEX < 0x03100000 && !defined(VORN_COMPAT_PORTABLE)
#define VORN_COMPAT_KNOWN 1  // 3.11 to 3.15, whose internals this header reads
#endif
#if defined(VORN_COMPAT_KNOWN) && PY_VERSION_HEX < 0x030C0000
#define VORN_COMPAT_INT_DIGITS 1  // ints are read through ob_digit and the signed size
#endif
#if defined(VORN_COMPAT_KNOWN) && PY_VERSION_HEX >= 0x030C0000
#define VORN_COMPAT_INT_TAG 1  // ints are read through ob_digit and the tag of 3.12 on
#endif
#if PY_VERSION_HEX < 0x030D0000
#define VORN_COMPAT_311_NAMES 1  // functions that 3.13 renamed or removed
#endif
#if defined(VORN_COMPAT_KNOWN)
#define VORN_COMPAT_PRIVATE 1  // private functions that 3.11 to 3.15 all declare
#endif

#if defined(VORN_COMPAT_KNOWN) && !defined(Py_GIL_DISABLED)
#define VORN_COMPAT_DICT_ENTRIES 1  // dict entries read in place (3.11 to 3.15 layout)
#endif

namespace vorn::compat {

// ---- Exact ints. Every function takes an object of exactly the type int. ----

// The value of `o` if it fits in one digit (30 bits and a sign), the usual result of a
// comparer; false otherwise.
inline bool compact_int(PyObject* o, Py_ssize_t* out) noexcept {
#ifdef VORN_COMPAT_INT_DIGITS
    const Py_ssize_t size = Py_SIZE(o);
    if (size < -1 || size > 1) return false;
    *out = size * static_cast<Py_ssize_t>(reinterpret_cast<PyLongObject*>(o)->ob_digit[0]);
    return true;
#elif PY_VERSION_HEX >= 0x030C0000
    auto* l = reinterpret_cast<PyLongObject*>(o);
    if (!PyUnstable_Long_IsCompact(l)) return false;
    *out = PyUnstable_Long_CompactValue(l);
    return true;
#else
    int overflow;
    long v = PyLong_AsLongAndOverflow(o, &overflow);
    if (overflow || v < -0x3fffffffL || v > 0x3fffffffL) return false;
    *out = v;
    return true;
#endif
}

// The value of the int of `count` digits `d` (least significant first, count > 1) and
// sign `negative` if it fits in 64 bits, read for two and three digits; false otherwise.
inline bool multi_digit_value(const digit* d, Py_ssize_t count, bool negative, int64_t* out) noexcept {
    int64_t magnitude;
    if (count == 2) {
        magnitude = static_cast<int64_t>(d[0]) | static_cast<int64_t>(d[1]) << PyLong_SHIFT;
    } else if (count == 3 && uint64_t{d[2]} < (uint64_t{1} << (63 - 2 * PyLong_SHIFT))) {
        // Three digits make up to 90 bits; the magnitude fits below 2**63 when the top
        // one holds at most 3 bits (-2**63 itself goes the general way).
        magnitude = static_cast<int64_t>(d[0]) | static_cast<int64_t>(d[1]) << PyLong_SHIFT |
                    static_cast<int64_t>(d[2]) << (2 * PyLong_SHIFT);
    } else {
        return false;
    }
    *out = negative ? -magnitude : magnitude;
    return true;
}

// The value of `o` if it fits in 64 bits (read directly for up to three digits); false
// for a larger int. Never leaves an exception.
inline bool int64_value(PyObject* o, int64_t* out) noexcept {
#if defined(VORN_COMPAT_INT_DIGITS)
    const Py_ssize_t size = Py_SIZE(o);  // the number of digits, signed
    const digit* d = reinterpret_cast<PyLongObject*>(o)->ob_digit;
    // One digit or none (0 keeps one zero digit): the value is the digit times the
    // signed size, without a branch on which of the three it is.
    if (static_cast<size_t>(size + 1) <= 2) {
        *out = size * static_cast<int64_t>(d[0]);
        return true;
    }
    if (multi_digit_value(d, size < 0 ? -size : size, size < 0, out)) return true;
#elif defined(VORN_COMPAT_INT_TAG)
    const uintptr_t tag = reinterpret_cast<PyLongObject*>(o)->long_value.lv_tag;
    const digit* d = reinterpret_cast<PyLongObject*>(o)->long_value.ob_digit;
    const int64_t sign = 1 - static_cast<int64_t>(tag & _PyLong_SIGN_MASK);  // sign bits 0, 1, 2: +, 0, -
    const auto count = static_cast<Py_ssize_t>(tag >> _PyLong_NON_SIZE_BITS);
    if (count <= 1) {  // zero has no digit or a zero one: its sign makes the product 0
        *out = sign * static_cast<int64_t>(d[0]);
        return true;
    }
    if (multi_digit_value(d, count, sign < 0, out)) return true;
#else
    Py_ssize_t small;
    if (compact_int(o, &small)) {
        *out = small;
        return true;
    }
#endif
    int overflow;
    long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
    if (overflow) return false;
    *out = v;
    return true;
}

// -1, 0 or 1 by the sign of `o`.
inline int int_sign(PyObject* o) noexcept {
#if defined(VORN_COMPAT_INT_TAG)
    // Sign bits 0, 1, 2: +, 0, -.
    return 1 - static_cast<int>(reinterpret_cast<PyLongObject*>(o)->long_value.lv_tag & _PyLong_SIGN_MASK);
#elif defined(VORN_COMPAT_PRIVATE)
    return _PyLong_Sign(o);
#else
    Py_ssize_t small;
    if (compact_int(o, &small)) return (small > 0) - (small < 0);
    int overflow;
    long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
    return overflow ? overflow : (v > 0) - (v < 0);
#endif
}

inline bool int_is_zero(PyObject* o) noexcept {
#ifdef VORN_COMPAT_INT_DIGITS
    return Py_SIZE(o) == 0;
#else
    Py_ssize_t small;
    return compact_int(o, &small) && small == 0;
#endif
}

// ---- Attributes, types and errors. ----

// getattr without AttributeError: 1 with `*result` a new reference, 0 with `*result`
// null when there is no such attribute, -1 with an exception set.
inline int lookup_attr(PyObject* o, PyObject* name, PyObject** result) noexcept {
#ifdef VORN_COMPAT_311_NAMES
    return _PyObject_LookupAttr(o, name, result);
#else
    return PyObject_GetOptionalAttr(o, name, result);
#endif
}

// The attribute `name` in the dicts of `type`'s MRO, as attribute lookup sees it,
// without descriptors or user code. Borrowed (the type holds it), or null without an
// exception.
inline PyObject* type_lookup(PyTypeObject* type, PyObject* name) noexcept {
#ifdef VORN_COMPAT_PRIVATE
    return _PyType_Lookup(type, name);  // served from the interpreter's method cache
#else
    PyObject* mro = type->tp_mro;
    if (!mro) return nullptr;
    for (Py_ssize_t i = 0, n = PyTuple_GET_SIZE(mro); i < n; ++i) {
        auto* base = reinterpret_cast<PyTypeObject*>(PyTuple_GET_ITEM(mro, i));
#if PY_VERSION_HEX >= 0x030C0000
        PyObject* dict = PyType_GetDict(base);  // built-in types keep theirs per interpreter
        Py_XDECREF(dict);                       // the type still holds it
#else
        PyObject* dict = base->tp_dict;
#endif
        if (!dict) continue;
        // Only strs are looked up, so the dict lookup runs no user code and cannot fail.
        PyObject* found = PyDict_GetItem(dict, name);
        if (found) return found;
    }
    return nullptr;
#endif
}

// A tag that stands for the current state of `type`'s attributes: while it is unchanged,
// so is every type_lookup on the type. The interpreter assigns it (type_lookup does) and
// drops it when the type or a base changes; 0 when there is none. Tags only count up:
// from one counter for the process on 3.11, and from 3.12 (to 3.15) one for static and
// immutable types and one per interpreter for the others. Our modules load in one
// interpreter per process (and do not support its being finalised and started again,
// which restarts those counters), so a type and a tag seen together name one state of
// one type even after that type is gone.
inline unsigned type_version(PyTypeObject* type) noexcept {
#if defined(VORN_COMPAT_PRIVATE) && PY_VERSION_HEX >= 0x030D0000
    return type->tp_version_tag;  // 3.13 on set no flag: a tag holds while it is not 0
#elif defined(VORN_COMPAT_PRIVATE)
    return PyType_HasFeature(type, Py_TPFLAGS_VALID_VERSION_TAG) ? type->tp_version_tag : 0;
#else
    (void)type;
    return 0;
#endif
}

// KeyError(key), its argument wrapped in a 1-tuple so that a tuple key is not taken for
// the argument list.
inline void set_key_error(PyObject* key) noexcept {
    PyObject* args = PyTuple_Pack(1, key);
    if (!args) return;
    PyErr_SetObject(PyExc_KeyError, args);
    Py_DECREF(args);
}

// ---- Object storage and type slots (public structures, kept here in one place). ----

// The item storage of a list or a tuple (a subclass included), read in place: what
// PySequence_Fast_ITEMS gives. Valid while nothing resizes it.
inline PyObject** sequence_items(PyObject* seq) noexcept { return PySequence_Fast_ITEMS(seq); }

// Makes the fresh block `o` an object of `type` (no reference taken).
inline void set_type(PyObject* o, PyTypeObject* type) noexcept { Py_SET_TYPE(o, type); }

// Gives the class `type` the vectorcall entry `call` for calls of the class itself.
inline void set_type_vectorcall(PyTypeObject* type, vectorcallfunc call) noexcept { type->tp_vectorcall = call; }

// The vectorcall entry of calls of the class `type` itself (null when it has none).
inline vectorcallfunc type_vectorcall(PyTypeObject* type) noexcept { return type->tp_vectorcall; }

// Frees the instances of the made class `type` with `dealloc` (its base's, for a class
// whose instances have nothing of their own to release).
inline void set_type_dealloc(PyTypeObject* type, destructor dealloc) noexcept { type->tp_dealloc = dealloc; }

// The range of the ints the interpreter keeps one shared object for (PyLong_FromLong
// of a value in it returns that object), as its documentation gives it.
inline constexpr long kSharedIntMin = -5, kSharedIntMax = 256;

// The value of `o`, an exact int, when it is one of the shared small ints: a value
// that stands for the object itself. False otherwise.
inline bool shared_small_int(PyObject* o, Py_ssize_t* out) noexcept {
    return compact_int(o, out) && *out >= kSharedIntMin && *out <= kSharedIntMax;
}

// ---- Exact dicts read in place. ----

#ifdef VORN_COMPAT_DICT_ENTRIES
namespace dict_layout {  // Include/internal/pycore_dict.h of 3.11 to 3.15
struct Keys {
    Py_ssize_t refcnt;
    uint8_t log2_size;
    uint8_t log2_index_bytes;
    uint8_t kind;  // 0: any keys; otherwise every key is an exact str
    uint32_t version;
    Py_ssize_t usable;
    Py_ssize_t nentries;
    char indices[];  // 1 << log2_index_bytes bytes, then the entries
};
struct GeneralEntry {
    Py_hash_t hash;
    PyObject* key;
    PyObject* value;
};
struct StrEntry {
    PyObject* key;
    PyObject* value;
};

// Where a keys table's entries start (after the indices).
inline char* entries_of(Keys* keys) noexcept { return keys->indices + (size_t{1} << keys->log2_index_bytes); }

// Entry `i` of a table whose entries start at `entries`, as stored: its key and value.
inline void read_entry(const char* entries, bool str_keys, Py_ssize_t i, PyObject** key, PyObject** value) noexcept {
    if (str_keys) {
        auto* e = reinterpret_cast<const StrEntry*>(entries) + i;
        *key = e->key;
        *value = e->value;
    } else {
        auto* e = reinterpret_cast<const GeneralEntry*>(entries) + i;
        *key = e->key;
        *value = e->value;
    }
}
}  // namespace dict_layout
#endif

// Entry `i` of the exact dict `d` as stored: its key and its value (null for an entry
// deleted or not in this dict). False when `i` is past the entries, or when entries
// cannot be read in place on this build (then a plain lookup serves).
inline bool dict_entry(PyObject* d, Py_ssize_t i, PyObject** key, PyObject** value) noexcept {
#ifdef VORN_COMPAT_DICT_ENTRIES
    auto* mp = reinterpret_cast<PyDictObject*>(d);
    auto* keys = reinterpret_cast<dict_layout::Keys*>(mp->ma_keys);
    if (i < 0 || i >= keys->nentries) return false;
#if PY_VERSION_HEX >= 0x030D0000
    // 3.13 on keep a split table's values behind a header of their own, often in the
    // object the dict belongs to; a plain lookup reads them.
    if (mp->ma_values) return false;
#endif
    dict_layout::read_entry(dict_layout::entries_of(keys), keys->kind != 0, i, key, value);
    if (mp->ma_values) *value = reinterpret_cast<PyObject**>(mp->ma_values)[i];  // split table
    return true;
#else
    (void)d, (void)i, (void)key, (void)value;
    return false;
#endif
}

// The same for a dict whose every key is an exact str (so that finding a key in it by
// a lookup calls no user code either); false for any other dict.
inline bool dict_str_entry(PyObject* d, Py_ssize_t i, PyObject** key, PyObject** value) noexcept {
#ifdef VORN_COMPAT_DICT_ENTRIES
    auto* keys = reinterpret_cast<dict_layout::Keys*>(reinterpret_cast<PyDictObject*>(d)->ma_keys);
    return keys->kind != 0 && dict_entry(d, i, key, value);
#else
    (void)d, (void)i, (void)key, (void)value;
    return false;
#endif
}

// Whether every key of the exact dict `d` is an exact str, so that looking an exact
// str up in it runs no user code (`__eq__` of a key); false when that cannot be told.
inline bool dict_has_only_str_keys(PyObject* d) noexcept {
#ifdef VORN_COMPAT_DICT_ENTRIES
    return reinterpret_cast<dict_layout::Keys*>(reinterpret_cast<PyDictObject*>(d)->ma_keys)->kind != 0;
#else
    (void)d;
    return false;
#endif
}

// The items of the exact dict `d` in iteration order, read in place: what
// iter(d.items()) yields, while nothing changes the dict. A split table keeps its
// items in an order of its own, and a build without the layout cannot read them: for
// those ok() is false and the items are to be iterated.
class DictCursor {
public:
    explicit DictCursor(PyObject* d) noexcept {
#ifdef VORN_COMPAT_DICT_ENTRIES
        auto* mp = reinterpret_cast<PyDictObject*>(d);
        auto* keys = reinterpret_cast<dict_layout::Keys*>(mp->ma_keys);
        ok_ = mp->ma_values == nullptr;
        str_keys_ = keys->kind != 0;
        count_ = keys->nentries;
        entries_ = dict_layout::entries_of(keys);
#else
        (void)d;
#endif
    }
    bool ok() const noexcept { return ok_; }
    // The next item, borrowed: true, or false after the last.
    bool next(PyObject** key, PyObject** value) noexcept {
#ifdef VORN_COMPAT_DICT_ENTRIES
        while (next_ < count_) {
            dict_layout::read_entry(entries_, str_keys_, next_++, key, value);
            if (*value) return true;  // a deleted item leaves its entry empty
        }
#else
        (void)key, (void)value;
#endif
        return false;
    }

private:
    bool ok_ = false;
    bool str_keys_ = false;
    Py_ssize_t count_ = 0, next_ = 0;
    char* entries_ = nullptr;
};

// ---- Exact sets. ----

// The elements of the exact set or frozenset `s` in iteration order, borrowed, into
// `out` (room for `capacity`): their number, or -1 when they do not fit or cannot be
// read in place on this build (then iterate it). Runs no user code.
inline Py_ssize_t set_elements(PyObject* s, PyObject** out, Py_ssize_t capacity) noexcept {
#if defined(VORN_COMPAT_PRIVATE)
    // The table read in slot order, as set iteration reads it: a slot holds an element
    // when its key is set and its hash is not -1 (a removed element leaves the dummy
    // key with hash -1; no element hashes to -1).
    if (PySet_GET_SIZE(s) > capacity) return -1;
    auto* set = reinterpret_cast<PySetObject*>(s);
    const setentry* table = set->table;
    Py_ssize_t n = 0;
    if (set->mask < capacity) {
        // Every slot fits in `out`: each is written and kept only if it holds an
        // element, without a branch on the (random) occupancy.
        for (Py_ssize_t i = 0; i <= set->mask; ++i) {
            out[n] = table[i].key;
            n += table[i].key != nullptr && table[i].hash != -1;
        }
        return n;
    }
    for (Py_ssize_t i = 0; i <= set->mask; ++i) {
        if (table[i].key && table[i].hash != -1) out[n++] = table[i].key;
    }
    return n;
#else
    (void)s, (void)out, (void)capacity;
    return -1;
#endif
}

// The slots of the exact set or frozenset `s`, for a reader that remembers where its
// elements lay: `*mask` (the table's last slot) and the elements, borrowed, into `out`
// with their slots into `slots` (room for `capacity`), in slot order. Their number, or
// -1 when they do not fit or cannot be read in place on this build.
inline Py_ssize_t set_elements_in_slots(PyObject* s, Py_ssize_t* mask, PyObject** out, Py_ssize_t* slots,
                                        Py_ssize_t capacity) noexcept {
#if defined(VORN_COMPAT_PRIVATE)
    if (PySet_GET_SIZE(s) > capacity) return -1;
    auto* set = reinterpret_cast<PySetObject*>(s);
    *mask = set->mask;
    Py_ssize_t n = 0;
    for (Py_ssize_t i = 0; i <= set->mask; ++i) {
        if (set->table[i].key && set->table[i].hash != -1) out[n] = set->table[i].key, slots[n++] = i;
    }
    return n;
#else
    (void)s, (void)mask, (void)out, (void)slots, (void)capacity;
    return -1;
#endif
}

// Whether the exact set or frozenset `s` holds the `n` elements that
// set_elements_in_slots read, in the same slots of a table of the same `mask`: then it
// holds those and no others (a removed element leaves the dummy in its slot).
// `slots_and_elements` alternates a slot and the element read there. Where tables
// are not read nothing was, and this is never asked.
inline bool set_holds_in_slots(PyObject* s, Py_ssize_t mask, const uint64_t* slots_and_elements,
                               Py_ssize_t n) noexcept {
#if defined(VORN_COMPAT_PRIVATE)
    auto* set = reinterpret_cast<PySetObject*>(s);
    if (set->mask != mask || set->used != n) return false;
    const setentry* table = set->table;
    for (Py_ssize_t i = 0; i < n; ++i, slots_and_elements += 2) {
        if (table[slots_and_elements[0]].key != reinterpret_cast<PyObject*>(slots_and_elements[1])) return false;
    }
    return true;
#else
    (void)s, (void)mask, (void)slots_and_elements, (void)n;
    return false;
#endif
}

// ---- Dict versions (3.11). ----

// A tag of the exact dict `d` that changes with every change made to it, so that what
// was found in it can be kept until then; 0 where the interpreter keeps none (a caller
// then keeps nothing). Read on 3.11 only: 3.12 deprecates the tag and 3.14 drops it;
// from 3.12 on, dict watchers tell of changes instead (dict_signal.hpp).
inline uint64_t dict_version(PyObject* d) noexcept {
#if PY_VERSION_HEX < 0x030C0000 && !defined(VORN_COMPAT_PORTABLE)
    return reinterpret_cast<PyDictObject*>(d)->ma_version_tag;
#else
    (void)d;
    return 0;
#endif
}

// Whether the exact dict `d` is watched by the dict watcher `id` already (3.12 on, the
// low bits of the word after ma_used: its watchers, one bit each); false where that
// cannot be read, so that a caller then watches it again (PyDict_Watch, which sets it).
inline bool dict_watched_by(PyObject* d, int id) noexcept {
#if defined(VORN_COMPAT_KNOWN) && PY_VERSION_HEX >= 0x030C0000 && !defined(Py_GIL_DISABLED)
    static_assert(offsetof(PyDictObject, ma_keys) == offsetof(PyDictObject, ma_used) + 2 * sizeof(uint64_t),
                  "a 64-bit tag between ma_used and ma_keys");
    uint64_t tag;
    std::memcpy(&tag, reinterpret_cast<const char*>(d) + offsetof(PyDictObject, ma_used) + sizeof(Py_ssize_t),
                sizeof tag);
    return (tag >> id) & 1;
#else
    (void)d, (void)id;
    return false;
#endif
}

// Whether the interpreter tells a dict watcher of every change to the exact dict `d`.
// 3.13.0 tells of none made through an object to its instance dict while the dict's
// values live in the object (mended in 3.13.1).
inline bool dict_changes_reported(PyObject* d) noexcept {
#if PY_VERSION_HEX >= 0x030D0000 && PY_VERSION_HEX < 0x030E0000
    if (Py_Version < 0x030D0100 && reinterpret_cast<PyDictObject*>(d)->ma_values) return false;
#else
    (void)d;
#endif
    return true;
}

// ---- Interpreter state. ----

// How many recursion checks (Py_EnterRecursiveCall) in a row the calling thread passes
// before one raises RecursionError; 0 where that cannot be read, so that a caller then
// makes every check. Up to 3.13 a check counts; from 3.14 it fails only when the C
// stack at the check lies past the interpreter's limit (recursion_checks_by_stack).
inline int recursion_headroom() noexcept {
#if defined(VORN_COMPAT_KNOWN) && PY_VERSION_HEX < 0x030E0000 && !defined(USE_STACKCHECK)
    // A check fails when the count it decrements was already 0 or less (3.13: less
    // than 0, one check later, which this leaves unused).
#if PY_VERSION_HEX < 0x030C0000
    const int remaining = PyThreadState_Get()->recursion_remaining;
#else
    const int remaining = PyThreadState_Get()->c_recursion_remaining;
#endif
    return remaining > 0 ? remaining : 0;
#else
    return 0;
#endif
}

// Whether a recursion check depends only on the address of the C stack where it is
// made (3.14 and 3.15 count nothing): then checks made in one frame all come out as
// the first did.
inline constexpr bool recursion_checks_by_stack =
#if defined(VORN_COMPAT_KNOWN) && PY_VERSION_HEX >= 0x030E0000
    true;
#else
    false;
#endif

// Py_LeaveRecursiveCall, which from 3.14 does nothing (a check counts nothing), and
// is then not called.
inline void leave_recursive_call() noexcept {
    if constexpr (!recursion_checks_by_stack) Py_LeaveRecursiveCall();
}

inline bool is_finalizing() noexcept {
#ifdef VORN_COMPAT_311_NAMES
    return _Py_IsFinalizing() != 0;
#else
    return Py_IsFinalizing() != 0;
#endif
}

// Whether the calling thread is the interpreter's main thread (the one that
// threading.main_thread() names). Never leaves an exception: if threading cannot be
// reached the answer is false.
inline bool is_main_thread() noexcept {
#if defined(VORN_COMPAT_311_NAMES) && !defined(VORN_COMPAT_PORTABLE)
    return _PyOS_IsMainThread() != 0;
#else
    PyObject* threading = PyImport_ImportModule("threading");
    PyObject* main = threading ? PyObject_CallMethod(threading, "main_thread", nullptr) : nullptr;
    PyObject* ident = main ? PyObject_GetAttrString(main, "ident") : nullptr;
    bool is_main = ident && PyLong_Check(ident) &&
                   PyLong_AsUnsignedLong(ident) == PyThread_get_thread_ident();
    Py_XDECREF(ident);
    Py_XDECREF(main);
    Py_XDECREF(threading);
    if (PyErr_Occurred()) PyErr_Clear();
    return is_main;
#endif
}

}  // namespace vorn::compat
