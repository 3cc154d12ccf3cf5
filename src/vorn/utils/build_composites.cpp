// Build steps shared by cy_compare_for, cy_equal_for and cy_is_for: the component
// function, Struct fields and Variant cases of a composite function.
#include "vorn/utils/build_composites.hpp"

#include "vorn/utils/field_access.hpp"
#include "vorn/utils/value_access.hpp"

namespace vorn::sortkit {

PyObject* build_nested(Rebindable builder, PyObject* type_val, PyObject* type_ctx) noexcept {
    PyObject* args[2] = {type_val, type_ctx};
    return call_rebindable(builder, args, 2);
}

PyObject* build_over_component(Rebindable builder, PyObject* component_type, PyObject* type_ctx,
                               const FunctionSpec& spec, std::initializer_list<PyObject*> extra) noexcept {
    if (!component_type) return nullptr;
    PyObject* state[kMaxState] = {};
    int i = 1;
    for (PyObject* s : extra) state[i++] = s;
    Ref fn = make_function(spec, {state[0], state[1], state[2]});
    if (!fn) return nullptr;
    Ref component_fn = Ref::steal(build_nested(builder, component_type, type_ctx));
    if (!component_fn) return nullptr;
    fill_state(fn.get(), slot::kComponent, std::move(component_fn));
    return fn.release();
}

PyObject* build_over_payload(Rebindable builder, PyObject* t, PyObject* type_ctx, const FunctionSpec& spec) noexcept {
    Ref component_type = Ref::steal(PyObject_GetAttr(t, str<"value">()));
    return build_over_component(builder, component_type.get(), type_ctx, spec);
}

namespace {

// Calls `add(name, function)` for each record of `type_val.value`, in order, with the
// function built for the record's "type". The record's "name" is read first, or, for
// `NameRead::AfterBuild`, after its type has been read and built.
template <typename Add>
int build_members(Rebindable builder, PyObject* type_val, PyObject* type_ctx, NameRead order,
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
        Ref fn = Ref::steal(build_nested(builder, member_type.get(), type_ctx));
        if (!fn) return -1;
        if (!name && !(name = Ref::steal(subscript(record.get(), str<"name">())))) return -1;
        if (add(name.get(), fn.get()) < 0) return -1;
    }
    return PyErr_Occurred() ? -1 : 0;
}

}  // namespace

PyObject* build_struct_function(Rebindable builder, PyObject* type_val, PyObject* type_ctx,
                                const FunctionSpec& spec) noexcept {
    Ref fields = Ref::steal(PyList_New(0));
    if (!fields) return nullptr;
    Ref fn = make_function(spec, {fields.get()});
    if (!fn) return nullptr;
    int rc = build_members(builder, type_val, type_ctx, NameRead::First, [&](PyObject* name, PyObject* f) {
        Ref pair = Ref::steal(PyTuple_Pack(2, name, f));
        return pair ? PyList_Append(fields.get(), pair.get()) : -1;
    });
    if (rc < 0) return nullptr;
    // Frozen, so that nothing reaching it through the collector can change its shape.
    Ref frozen = Ref::steal(freeze_fields(fields.get()));
    if (!frozen) return nullptr;
    fill_state(fn.get(), slot::kFields, std::move(frozen));
    return fn.release();
}

PyObject* build_variant_function(Rebindable builder, PyObject* type_val, PyObject* type_ctx,
                                 const FunctionSpec& spec, NameRead order) noexcept {
    Ref cases = Ref::steal(PyDict_New());
    if (!cases) return nullptr;
    Ref fn = make_function(spec, {cases.get()});
    if (!fn) return nullptr;
    int rc = build_members(builder, type_val, type_ctx, order, [&](PyObject* name, PyObject* f) {
        return PyDict_SetItem(cases.get(), name, f);
    });
    return rc < 0 ? nullptr : fn.release();
}

}  // namespace vorn::sortkit
