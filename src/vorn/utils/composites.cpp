// Build steps shared by cy_compare_for, cy_equal_for and cy_is_for: the component
// function, Struct fields and Variant cases of a composite function.
#include "vorn/utils/composites.hpp"

#include "common/compat.hpp"
#include "common/static_type.hpp"
#include "vorn/utils/value_access.hpp"

namespace vorn::sortkit {

PyObject* build_nested(const char* builder_name, PyObject* type_val, PyObject* type_ctx) noexcept {
    Ref name = intern(builder_name);
    if (!name) return nullptr;
    Ref builder = Ref::steal(global(name.get()));
    if (!builder) return nullptr;
    PyObject* args[2] = {type_val, type_ctx};
    return PyObject_Vectorcall(builder.get(), args, 2, nullptr);
}

PyObject* build_over_component(const char* builder_name, PyObject* component_type, PyObject* type_ctx,
                               const FunctionSpec& spec, std::initializer_list<PyObject*> extra) noexcept {
    if (!component_type) return nullptr;
    PyObject* state[kMaxState] = {};
    int i = 1;
    for (PyObject* s : extra) state[i++] = s;
    Ref fn = make_function(spec, {state[0], state[1], state[2]});
    if (!fn) return nullptr;
    Ref component_fn = Ref::steal(build_nested(builder_name, component_type, type_ctx));
    if (!component_fn) return nullptr;
    fill_state(fn.get(), slot::kComponent, std::move(component_fn));
    return fn.release();
}

namespace {

// Calls `add(name, function)` for each record of `type_val.value`, in order, with the
// function built for the record's "type". The record's "name" is read first, or, for
// `NameRead::AfterBuild`, after its type has been read and built.
template <typename Add>
int build_members(const char* builder_name, PyObject* type_val, PyObject* type_ctx, NameRead order,
                  Add add) noexcept {
    Ref records = Ref::steal(PyObject_GetAttr(type_val, str<"value">()));
    if (!records) return -1;
    Ref it = Ref::steal(PyObject_GetIter(records.get()));
    if (!it) return -1;
    while (Ref record = Ref::steal(PyIter_Next(it.get()))) {
        Ref name;
        if (order == NameRead::First && !(name = Ref::steal(subscript(record.get(), str<"name">()))))
            return -1;
        Ref member_type = Ref::steal(subscript(record.get(), str<"type">()));
        if (!member_type) return -1;
        Ref fn = Ref::steal(build_nested(builder_name, member_type.get(), type_ctx));
        if (!fn) return -1;
        if (!name && !(name = Ref::steal(subscript(record.get(), str<"name">())))) return -1;
        if (add(name.get(), fn.get()) < 0) return -1;
    }
    return PyErr_Occurred() ? -1 : 0;
}

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

// The table over the entries of the field list `fields`, each checked to be a pair.
// New reference, or null.
PyObject* checked_fields(PyObject* fields) noexcept {
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
        f = Field{PyTuple_GET_ITEM(pair, 0), PyTuple_GET_ITEM(pair, 1), nullptr, 0, leaf_of(PyTuple_GET_ITEM(pair, 1), 3)};
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

}  // namespace

PyObject* build_struct_function(const char* builder_name, PyObject* type_val, PyObject* type_ctx,
                                const FunctionSpec& spec) noexcept {
    Ref fields = Ref::steal(PyList_New(0));
    if (!fields) return nullptr;
    Ref fn = make_function(spec, {fields.get()});
    if (!fn) return nullptr;
    int rc = build_members(builder_name, type_val, type_ctx, NameRead::First, [&](PyObject* name, PyObject* f) {
        Ref pair = Ref::steal(PyTuple_Pack(2, name, f));
        return pair ? PyList_Append(fields.get(), pair.get()) : -1;
    });
    if (rc < 0) return nullptr;
    // Frozen, so that nothing reaching it through the collector can change its shape.
    Ref frozen = Ref::steal(checked_fields(fields.get()));
    if (!frozen) return nullptr;
    fill_state(fn.get(), slot::kFields, std::move(frozen));
    return fn.release();
}

PyObject* build_variant_function(const char* builder_name, PyObject* type_val, PyObject* type_ctx,
                                 const FunctionSpec& spec, NameRead order) noexcept {
    Ref cases = Ref::steal(PyDict_New());
    if (!cases) return nullptr;
    Ref fn = make_function(spec, {cases.get()});
    if (!fn) return nullptr;
    int rc = build_members(builder_name, type_val, type_ctx, order, [&](PyObject* name, PyObject* f) {
        return PyDict_SetItem(cases.get(), name, f);
    });
    return rc < 0 ? nullptr : fn.release();
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
    holder = Ref::steal(checked_fields(fields));
    return reinterpret_cast<FieldTable*>(holder.get());
}

PyObject* find_field(PyObject* d, Field& field) noexcept {
    PyObject *key, *value;
    PyObject* found = PyDict_GetItemWithError(d, field.name);
    // Remember where it is, for the next dict of the same shape.
    if (found && field.key) {
        for (Py_ssize_t i = 0; i < 16 && compat::dict_str_entry(d, i, &key, &value); ++i) {
            if (key == field.key && value == found) {
                field.slot = i;
                break;
            }
        }
    }
    return found;
}

PyObject* look_up_field(PyObject* d, Field& field) noexcept {
    PyObject* found = find_field(d, field);
    if (!found && !PyErr_Occurred()) compat::set_key_error(field.name);
    return found;
}

}  // namespace vorn::sortkit
