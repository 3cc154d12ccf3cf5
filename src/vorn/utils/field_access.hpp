// How a Struct function's fields are read while it compares: the frozen field list, and
// each field's value read from the two values, in place from exact dicts where that
// runs no user code.
#pragma once

#include "common/compat.hpp"
#include "vorn/utils/leaf_functions.hpp"
#include "vorn/utils/sortkit.hpp"
#include "vorn/utils/value_access.hpp"

namespace vorn::sortkit {

// ---- The field list of a Struct function -----------------------------------------------

// One field: its name and function (borrowed from the list's pairs), with what the walks
// read natively.
struct Field {
    PyObject* name;
    PyObject* fn;
    PyObject* key;     // the name interned, when it is an exact str (owned); else null
    Py_ssize_t slot;   // the dict entry where the name was last found (a hint only)
    Leaf leaf;         // fn as a three-argument leaf the walks may run inline
};

// The frozen field list: the (name, function) pairs as a tuple (what the collector
// sees), and the fields read from it.
struct FieldTable {
    PyObject_VAR_HEAD
    PyObject* pairs;
    Field fields[1];
};

// The field table of a Struct function: the frozen table, or, while the build still
// fills the list, a table made from a snapshot of it, whose entries are checked (the
// list is reachable from Python through the collector). Borrowed from the function or
// from `holder`; null with an exception set.
FieldTable* fields_of(NativeFunction* self, Ref& holder) noexcept;

// The frozen field table that the Struct function `fn` holds, or null (borrowed).
FieldTable* frozen_fields(PyObject* fn) noexcept;

// The table over the entries of the field list `fields`, each checked to be a
// (name, function) pair (TypeError otherwise). New reference, or null.
PyObject* freeze_fields(PyObject* fields) noexcept;

// `d[field.name]` for an exact dict `d` by a lookup, remembering where the name was
// found. Borrowed, or null: find_field sets no exception for a missing name (an
// exact str name in a dict of exact str keys is looked up without any), look_up_field
// sets KeyError.
PyObject* find_field(PyObject* d, Field& field) noexcept;
PyObject* look_up_field(PyObject* d, Field& field) noexcept;

// Whether looking `field` up in the exact dict `d` may run user code: the __hash__ or
// __eq__ of a name that is no exact str, or the __eq__ of a key that is none. Such code
// may change or free what was read from another dict before.
inline bool field_lookup_runs_code(PyObject* d, const Field& field) noexcept {
    return !field.key || !compat::dict_has_only_str_keys(d);
}

// The value in the entry of the exact dict `d` where the name was found last, when
// that entry holds this very key object (or an equal exact str, compared without user
// code) and a value: as a dict holds each key once, that is `d[field.name]`.
// Borrowed, or null (no exception) when the hint does not hold.
inline PyObject* hinted_field(PyObject* d, const Field& field) noexcept {
    PyObject *key, *value;
    if (field.key && compat::dict_str_entry(d, field.slot, &key, &value) && value &&
        (key == field.key || (PyUnicode_CheckExact(key) && compare_strs(key, field.key) == 0)))
        return value;
    return nullptr;
}
// `d[field.name]` for an exact dict `d`: the hinted entry, else a lookup as `d[name]`
// makes it, with whatever __eq__ calls of keys that lookup makes. Borrowed, or null
// with KeyError set.
inline PyObject* dict_field(PyObject* d, Field& field) noexcept {
    PyObject* value = hinted_field(d, field);
    return value ? value : look_up_field(d, field);
}

// Field `f` of x and y, read in place from exact dicts (`dicts`) or by subscription.
// `x`/`y` are the two values; a value read in place is held only where needed: x's
// across a lookup in y that may run code changing x, and both by hold() before a call.
struct FieldPair {
    PyObject* x = nullptr;
    PyObject* y = nullptr;
    Ref held_x, held_y;

    // 0, or -1 with an exception set (KeyError for a missing field).
    int read(Field& f, PyObject* xd, PyObject* yd, bool dicts) noexcept {
        if (!dicts) {
            held_x = Ref::steal(subscript(xd, f.name));
            if (!held_x) return -1;
            held_y = Ref::steal(subscript(yd, f.name));
            if (!held_y) return -1;
            x = held_x.get();
            y = held_y.get();
            return 0;
        }
        x = dict_field(xd, f);
        if (!x) return -1;
        if (field_lookup_runs_code(yd, f)) held_x = Ref::borrow(x);
        y = dict_field(yd, f);
        return y ? 0 : -1;
    }

    // Holds both values for a call, which may run code that changes the dicts.
    void hold() noexcept {
        if (!held_x) held_x = Ref::borrow(x);
        if (!held_y) held_y = Ref::borrow(y);
    }
};

}  // namespace vorn::sortkit
