// The Ref comparer (through the referenced value), the Struct comparer (field by
// field in the descriptor's order) and the Variant comparer (case name, then payload).
#include "common/compat.hpp"
#include "vorn/utils/compare_builders.hpp"
#include "vorn/utils/private_context.hpp"
#include "vorn/utils/type_context.hpp"

namespace vorn::sortkit {
namespace {

constexpr const char* kWhere = " while comparing values";

// ---- Ref (state: the cell with the referenced type's comparer) ------------------------

PyObject* compare_ref(NativeFunction* self, PyObject* const* a) noexcept {
    PyObject *x = a[0], *y = a[1], *ctx = a[2];
    if (x == y) return three_way(0);
    RecursionGuard guard(kWhere);
    if (guard.failed()) return nullptr;
    PyObject* target = state_of(self, 0);
    if (!target) return nullptr;
    Ref own_ctx;
    if (ctx != Py_None || !ignores_context(target)) {
        int seen = visit_context(&ctx, own_ctx, x, y);
        if (seen < 0) return nullptr;
        if (seen) return three_way(0);
    }
    Ref xv = Ref::steal(PyObject_GetAttr(x, str<"value">()));
    if (!xv) return nullptr;
    Ref yv = Ref::steal(PyObject_GetAttr(y, str<"value">()));
    if (!yv) return nullptr;
    return call_component(target, xv.get(), yv.get(), ctx, true);
}

const FunctionSpec ref_spec{"compare_ref", "cy_compare_for.<locals>.compare_ref", kModuleName,
                            nullptr, 3, 2, {"x", "y", "ctx"}, compare_ref, kKeepsContextPrivate};

// ---- Struct (state: (field name, comparer) pairs in field order) ------------------------

PyObject* compare_struct(NativeFunction* self, PyObject* const* a) noexcept {
    PyObject *x = a[0], *y = a[1], *ctx = a[2];
    RecursionGuard guard(kWhere);
    if (guard.failed()) return nullptr;
    PyObject* state = state_of(self, 0);
    if (!state) return nullptr;
    // A tuple of (name, comparer) tuples once built; while the build still appends to
    // the list, a call (reached from a predicate) walks a snapshot of it.
    Ref fields = Ref::steal(PyTuple_CheckExact(state) ? Py_NewRef(state) : PySequence_Tuple(state));
    if (!fields) return nullptr;
    const bool fresh = subscription_is_fresh(x, y);
    for (Py_ssize_t i = 0, n = PyTuple_GET_SIZE(fields.get()); i < n; ++i) {
        PyObject* field = PyTuple_GET_ITEM(fields.get(), i);
        PyObject* name = PyTuple_GET_ITEM(field, 0);
        Ref xv = Ref::steal(item(x, name));
        if (!xv) return nullptr;
        Ref yv = Ref::steal(item(y, name));
        if (!yv) return nullptr;
        Ref r = Ref::steal(call_component(PyTuple_GET_ITEM(field, 1), xv.get(), yv.get(), ctx, fresh));
        if (!r) return nullptr;
        int32_t c;
        if (integer_result(r.get(), &c) < 0) return nullptr;
        if (c) return PyLong_FromLong(c);
    }
    return three_way(0);
}

const FunctionSpec struct_spec{"compare_struct", "cy_compare_for.<locals>.compare_struct",
                               kModuleName, nullptr, 3, 2, {"x", "y", "ctx"}, compare_struct,
                               kKeepsContextPrivate};

// ---- Variant (state: dict from case name to comparer) ---------------------------------

PyObject* compare_variant(NativeFunction* self, PyObject* const* a) noexcept {
    PyObject *x = a[0], *y = a[1], *ctx = a[2];
    RecursionGuard guard(kWhere);
    if (guard.failed()) return nullptr;
    Ref xt = Ref::steal(item(x, str<"type">()));
    if (!xt) return nullptr;
    Ref yt = Ref::steal(item(y, str<"type">()));
    if (!yt) return nullptr;
    int lt = PyObject_RichCompareBool(xt.get(), yt.get(), Py_LT);
    if (lt < 0) return nullptr;
    if (lt) return three_way(-1);
    int gt = PyObject_RichCompareBool(xt.get(), yt.get(), Py_GT);
    if (gt < 0) return nullptr;
    if (gt) return three_way(1);
    // Held for the call: the table is reachable from Python (gc.get_referents).
    PyObject* cases = state_of(self, 0);
    if (!cases) return nullptr;
    Ref comparer = Ref::borrow(PyDict_GetItemWithError(cases, xt.get()));
    if (!comparer) {
        if (!PyErr_Occurred()) compat::set_key_error(xt.get());
        return nullptr;
    }
    Ref xv = Ref::steal(item(x, str<"value">()));
    if (!xv) return nullptr;
    Ref yv = Ref::steal(item(y, str<"value">()));
    if (!yv) return nullptr;
    return call_component(comparer.get(), xv.get(), yv.get(), ctx, subscription_is_fresh(x, y));
}

const FunctionSpec variant_spec{"compare_variant", "cy_compare_for.<locals>.compare_variant",
                                kModuleName, nullptr, 3, 2, {"x", "y", "ctx"}, compare_variant,
                                kKeepsContextPrivate};

// Calls `add(member)` for each member {"name": ..., "type": ...} of a Struct or
// Variant payload, in iteration order; stops at the first failure.
template <typename Add>
int build_members(PyObject* t, Add add) noexcept {
    Ref members = Ref::steal(PyObject_GetAttr(t, str<"value">()));
    if (!members) return -1;
    Ref it = Ref::steal(PyObject_GetIter(members.get()));
    if (!it) return -1;
    while (Ref member = Ref::steal(PyIter_Next(it.get()))) {
        if (add(member.get()) < 0) return -1;
    }
    return PyErr_Occurred() ? -1 : 0;
}

// The comparer of member["type"]. New reference, or null.
PyObject* build_member(PyObject* member, PyObject* type_ctx) noexcept {
    Ref member_type = Ref::steal(item(member, str<"type">()));
    return member_type ? build_component(member_type.get(), type_ctx) : nullptr;
}

}  // namespace

PyObject* build_ref(PyObject* t, PyObject* type_ctx) noexcept {
    if (import_value_classes({"VornRef"}) < 0) return nullptr;
    Ref comparer = make_function(ref_spec);
    if (!comparer) return nullptr;
    Ref target_type = Ref::steal(PyObject_GetAttr(t, str<"value">()));
    if (!target_type) return nullptr;
    Ref target = Ref::steal(build_component(target_type.get(), type_ctx));
    if (!target) return nullptr;
    fill_slot(comparer.get(), 0, std::move(target));
    return comparer.release();
}

PyObject* build_struct(PyObject* t, PyObject* type_ctx) noexcept {
    Ref fields = Ref::steal(PyList_New(0));
    if (!fields) return nullptr;
    Ref comparer = make_function(struct_spec, {fields.get()});
    if (!comparer) return nullptr;
    int rc = build_members(t, [&](PyObject* field) noexcept {
        Ref name = Ref::steal(item(field, str<"name">()));
        if (!name) return -1;
        Ref field_cmp = Ref::steal(build_member(field, type_ctx));
        if (!field_cmp) return -1;
        Ref pair = Ref::steal(PyTuple_Pack(2, name.get(), field_cmp.get()));
        return pair ? PyList_Append(fields.get(), pair.get()) : -1;
    });
    if (rc < 0) return nullptr;
    // Frozen, so that nothing reaching it through the collector can change its shape.
    Ref frozen = Ref::steal(PyList_AsTuple(fields.get()));
    if (!frozen) return nullptr;
    fill_slot(comparer.get(), 0, std::move(frozen));
    return comparer.release();
}

PyObject* build_variant(PyObject* t, PyObject* type_ctx) noexcept {
    Ref cases = Ref::steal(PyDict_New());
    if (!cases) return nullptr;
    Ref comparer = make_function(variant_spec, {cases.get()});
    if (!comparer) return nullptr;
    // As in `cases[case["name"]] = cy_compare_for(case["type"], type_ctx)`: the
    // comparer is built before the name is read; a repeated name replaces the earlier.
    int rc = build_members(t, [&](PyObject* variant_case) noexcept {
        Ref case_cmp = Ref::steal(build_member(variant_case, type_ctx));
        if (!case_cmp) return -1;
        Ref name = Ref::steal(item(variant_case, str<"name">()));
        if (!name) return -1;
        return PyDict_SetItem(cases.get(), name.get(), case_cmp.get());
    });
    return rc < 0 ? nullptr : comparer.release();
}

}  // namespace vorn::sortkit
