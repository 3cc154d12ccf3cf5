// Build steps shared by cy_equal_for and cy_is_for: component functions, Struct
// fields and Variant cases.
#include "vorn/utils/member_builds.hpp"

#include "vorn/utils/type_context.hpp"

namespace vorn::sortkit {

PyObject* build_over_component(const char* builder_name, PyObject* component_type,
                               PyObject* type_ctx, const FunctionSpec& spec) noexcept {
    if (!component_type) return nullptr;
    Ref component = Ref::steal(build_nested(builder_name, component_type, type_ctx));
    if (!component) return nullptr;
    return make_function(spec, {component.get()}).release();
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
        if (order == NameRead::First && !(name = Ref::steal(item(record.get(), str<"name">()))))
            return -1;
        Ref member_type = Ref::steal(item(record.get(), str<"type">()));
        if (!member_type) return -1;
        Ref fn = Ref::steal(build_nested(builder_name, member_type.get(), type_ctx));
        if (!fn) return -1;
        if (!name && !(name = Ref::steal(item(record.get(), str<"name">())))) return -1;
        if (add(name.get(), fn.get()) < 0) return -1;
    }
    return PyErr_Occurred() ? -1 : 0;
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
    return rc < 0 ? nullptr : fn.release();
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

}  // namespace vorn::sortkit
