// The Ref comparer (through the referenced value), the Struct comparer (field by
// field in the descriptor's order) and the Variant comparer (case name, then payload).
#include "common/compat.hpp"
#include "vorn/utils/compare_functions.hpp"
#include "vorn/utils/composite_call.hpp"
#include "vorn/utils/field_access.hpp"
#include "vorn/utils/value_access.hpp"

namespace vorn::sortkit {
namespace {

constexpr const char* kWhere = " while comparing values";

// ---- Ref (component: the referenced type's comparer) ----------------------------------

int compare_ref(NativeFunction* self, PyObject* x, PyObject* y, PyObject* ctx, PyObject** object) noexcept {
    Level<Comparing> level;
    PyObject* target;
    if (int r = level.open(self, x, y, &ctx, kWhere, &target); r != kGoOn) return r;
    Ref xv = Ref::steal(PyObject_GetAttr(x, str<"value">()));
    if (!xv) return kFailed;
    Ref yv = Ref::steal(PyObject_GetAttr(y, str<"value">()));
    if (!yv) return kFailed;
    return child_result(Doing::Comparing, Comparing::call(target, xv.get(), yv.get(), ctx, true, object), Child::referent());
}

// ---- Struct (the field list: (name, comparer) pairs in field order) ----------------------

// The integer result of the field comparer on x[name] and y[name]. When both values
// are exact dicts their fields are read in place (dict_field), and a field whose
// comparer is one of our scalar orders is compared inline on exact ints, floats and
// strs: neither step runs user code, so what user code could see is unchanged.
int compare_field(Field& f, PyObject* x, PyObject* y, bool dicts, PyObject* ctx, int32_t* out) noexcept {
    FieldPair v;
    if (v.read(f, x, y, dicts) < 0) return -1;
    int sign;
    if (inline_order(f.leaf, v.x, v.y, &sign)) {
        *out = sign;
        return 0;
    }
    v.hold();
    return integer_result_of_call(f.fn, v.x, v.y, ctx, !dicts, out);
}

int compare_struct(NativeFunction* self, PyObject* x, PyObject* y, PyObject* ctx, PyObject** object) noexcept {
    Level<Comparing> level;
    if (int r = level.enter(kWhere); r != kGoOn) return r;
    Ref holder;
    FieldTable* table = fields_of(self, holder);
    if (!table) return kFailed;
    // Held: a field comparer may run code that reaches the table (the collector).
    Ref held = Ref::borrow(reinterpret_cast<PyObject*>(table));
    const bool dicts = PyDict_CheckExact(x) && PyDict_CheckExact(y);
    for (Py_ssize_t i = 0, n = Py_SIZE(table); i < n; ++i) {
        int32_t c;
        if (compare_field(table->fields[i], x, y, dicts, ctx, &c) < 0) [[unlikely]]
            return child_failed(Doing::Comparing, Child::field(i, table->fields[i].name));
        if (c) return native_int_result(c, object);
    }
    return 0;
}

// ---- Variant (the case table: dict from case name to comparer) -------------------------

// `d[key]` for a value: exact dicts read directly. Borrowed from `holder` or the dict,
// or null with an exception set.
PyObject* read_item(PyObject* d, PyObject* key, Ref& holder) noexcept {
    if (PyDict_CheckExact(d)) {
        PyObject* v = PyDict_GetItemWithError(d, key);
        if (!v && !PyErr_Occurred()) compat::set_key_error(key);
        return v;
    }
    holder = Ref::steal(PyObject_GetItem(d, key));
    return holder.get();
}

// The keys a Variant value is read by, with the entries where they were found last
// (hints only, checked on every read: shared by all Variant comparers).
Field variant_tag{nullptr, nullptr, nullptr, 0, Leaf::None};
Field variant_payload{nullptr, nullptr, nullptr, 0, Leaf::None};
Py_ssize_t case_slot = 0;

// `d[field.name]` of a value: exact dicts read in place (dict_field). Borrowed from
// `holder` or the dict, or null with an exception set.
PyObject* read_value_item(PyObject* d, Field& field, PyObject* name, Ref& holder) noexcept {
    if (PyDict_CheckExact(d)) {
        field.name = field.key = name;  // interned (str<>), alive for the process
        return dict_field(d, field);
    }
    return read_item(d, name, holder);
}

int compare_variant(NativeFunction* self, PyObject* x, PyObject* y, PyObject* ctx, PyObject** object) noexcept {
    Level<Comparing> level;
    if (int r = level.enter(kWhere); r != kGoOn) return r;
    Ref xh, yh;
    PyObject* xt = read_value_item(x, variant_tag, str<"type">(), xh);
    if (!xt) return kFailed;
    Ref xt_held = Ref::borrow(xt);  // the reads below may run code that changes x
    PyObject* yt = read_value_item(y, variant_tag, str<"type">(), yh);
    if (!yt) return kFailed;
    Ref yt_held = Ref::borrow(yt);
    // Case names order as the String comparer orders them (`<`, then `>`; two exact
    // strs natively, as their comparison runs no user code).
    int order = compare_ordered_native(nullptr, xt, yt, nullptr, nullptr);
    if (order == kFailed) return kFailed;
    if (order) return order;
    // Held for the call: the table is reachable from Python (gc.get_referents).
    PyObject* cases = case_table(self);
    if (!cases) return kFailed;
    Ref comparer;
    if (PyUnicode_CheckExact(xt)) {
        // An exact str tag: found by the entry it was found in last, as dict_field does.
        Field case_field{xt, nullptr, xt, case_slot, Leaf::None};
        comparer = Ref::borrow(dict_field(cases, case_field));
        case_slot = case_field.slot;
    } else {
        comparer = Ref::borrow(PyDict_GetItemWithError(cases, xt));
        if (!comparer && !PyErr_Occurred()) compat::set_key_error(xt);
    }
    if (!comparer) return kFailed;
    const bool dicts = PyDict_CheckExact(x) && PyDict_CheckExact(y);
    Ref xv = Ref::borrow(read_value_item(x, variant_payload, str<"value">(), xh));
    if (!xv) return kFailed;
    Ref yv = Ref::borrow(read_value_item(y, variant_payload, str<"value">(), yh));
    if (!yv) return kFailed;
    int sign;
    if (inline_order(leaf_of(comparer.get(), kWithContext), xv.get(), yv.get(), &sign)) return sign;
    return child_result(Doing::Comparing, Comparing::call(comparer.get(), xv.get(), yv.get(), ctx, !dicts, object),
                        Child::case_of(xt));
}

}  // namespace

const NativeSpec compare_ref_spec = comparer_spec<compare_ref>(
    "compare_ref", "cy_compare_for.<locals>.compare_ref", kContextParams, kKeepsContextPrivate);
const NativeSpec compare_struct_spec = comparer_spec<compare_struct>(
    "compare_struct", "cy_compare_for.<locals>.compare_struct", kContextParams, kKeepsContextPrivate);
const NativeSpec compare_variant_spec = comparer_spec<compare_variant>(
    "compare_variant", "cy_compare_for.<locals>.compare_variant", kContextParams, kKeepsContextPrivate);

}  // namespace vorn::sortkit
