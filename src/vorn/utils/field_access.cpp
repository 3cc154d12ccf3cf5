// The field table of a Struct function (a collected object over the frozen list of
// (name, function) pairs) and the reads of a field's value from a value.
#include "vorn/utils/field_access.hpp"

#include "common/compat.hpp"
#include "common/static_type.hpp"
#include "vorn/utils/value_access.hpp"

namespace vorn::sortkit {

namespace {

bool is_field_pair(PyObject* entry) noexcept {
    return PyTuple_CheckExact(entry) && PyTuple_GET_SIZE(entry) == 2;
}

int field_table_traverse(PyObject* o, visitproc visit, void* arg) {
    Py_VISIT(reinterpret_cast<FieldTable*>(o)->pairs);
    return 0;
}

// No clear step: a cycle through a table also runs through the Struct function that
// holds it, whose clear step breaks it; a table therefore never loses its pairs while
// a field still points into them.
void field_table_dealloc(PyObject* o) {
    auto* t = reinterpret_cast<FieldTable*>(o);
    PyObject_GC_UnTrack(o);
    for (Py_ssize_t i = 0; i < Py_SIZE(t); ++i) Py_XDECREF(t->fields[i].key);
    Py_XDECREF(t->pairs);
    PyObject_GC_Del(o);
}

PyTypeObject FieldTableType{};

int ready_field_table_type() noexcept {
    return ready_static_type(FieldTableType, [](PyTypeObject& t) {
        t.tp_name = "vorn.utils._sortkit.FieldTable";
        t.tp_basicsize = offsetof(FieldTable, fields);
        t.tp_itemsize = sizeof(Field);
        t.tp_dealloc = field_table_dealloc;
        t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC;
        t.tp_traverse = field_table_traverse;
    });
}

}  // namespace

PyObject* freeze_fields(PyObject* fields) noexcept {
    Ref pairs = Ref::steal(PySequence_Tuple(fields));
    if (!pairs || ready_field_table_type() < 0) return nullptr;
    const Py_ssize_t n = PyTuple_GET_SIZE(pairs.get());
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (!is_field_pair(PyTuple_GET_ITEM(pairs.get(), i))) {
            PyErr_SetString(PyExc_TypeError, "a field entry must be a (name, function) pair");
            return nullptr;
        }
    }
    auto* t = PyObject_GC_NewVar(FieldTable, &FieldTableType, n);
    if (!t) return nullptr;
    t->pairs = pairs.release();
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* pair = PyTuple_GET_ITEM(t->pairs, i);
        Field& f = t->fields[i];
        PyObject* fn = PyTuple_GET_ITEM(pair, 1);
        f = Field{PyTuple_GET_ITEM(pair, 0), fn, nullptr, 0, leaf_of(fn, kWithContext)};
        if (PyUnicode_CheckExact(f.name)) {
            // Interned, so that the name is most likely the very key object of the dicts
            // read (their keys are interned when they come from source text).
            f.key = Py_NewRef(f.name);
            PyUnicode_InternInPlace(&f.key);
        }
    }
    PyObject_GC_Track(t);
    return reinterpret_cast<PyObject*>(t);
}

FieldTable* frozen_fields(PyObject* fn) noexcept {
    if (!is_native_function(fn)) return nullptr;
    PyObject* fields = reinterpret_cast<NativeFunction*>(fn)->state[slot::kFields];
    return fields && Py_IS_TYPE(fields, &FieldTableType) ? reinterpret_cast<FieldTable*>(fields) : nullptr;
}

FieldTable* fields_of(NativeFunction* self, Ref& holder) noexcept {
    PyObject* fields = state_of(self, slot::kFields);
    if (!fields) return nullptr;
    if (Py_IS_TYPE(fields, &FieldTableType)) return reinterpret_cast<FieldTable*>(fields);
    holder = Ref::steal(freeze_fields(fields));
    return reinterpret_cast<FieldTable*>(holder.get());
}

// How many of a dict's first entries are searched for where a found field lies: the
// fields of a Struct value's dict, in the order they were stored.
constexpr Py_ssize_t kHintedEntries = 16;

PyObject* find_field(PyObject* d, Field& field) noexcept {
    PyObject *key, *value;
    // The name itself among the first entries, remembered for the next dict of the
    // same shape: found without hashing, where a hint missed because dicts of other
    // shapes (a Variant's other cases) came between.
    if (field.key) {
        for (Py_ssize_t i = 0; i < kHintedEntries && compat::dict_str_entry(d, i, &key, &value); ++i) {
            if (key == field.key && value) {
                field.slot = i;
                return value;
            }
        }
    }
    // Not there: by a lookup, which leaves the hint as it was (where the name is found
    // now, it is held by another object, equal to it).
    return PyDict_GetItemWithError(d, field.name);
}

PyObject* look_up_field(PyObject* d, Field& field) noexcept {
    PyObject* found = find_field(d, field);
    if (!found && !PyErr_Occurred()) compat::set_key_error(field.name);
    return found;
}

}  // namespace vorn::sortkit
