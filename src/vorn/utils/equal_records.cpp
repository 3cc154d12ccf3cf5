// The equality functions of the record kinds: equal_ref, equal_struct and
// equal_variant.
#include "vorn/utils/composites.hpp"
#include "vorn/utils/equal_builders.hpp"
#include "vorn/utils/value_access.hpp"

namespace vorn::sortkit {
namespace {

int equal_ref_impl(NativeFunction* self, PyObject* x, PyObject* y, PyObject* ctx, PyObject** object) noexcept {
    if (x == y) return 1;
    CompositeCall guard(" in equal_ref");
    if (guard.failed()) return kFailed;
    PyObject* inner_comparer = component(self);
    if (!inner_comparer) return kFailed;
    Ref owned;
    int seen = enter_pair(&ctx, owned, x, y, ignores_context(inner_comparer));
    if (seen != 0) return seen < 0 ? kFailed : 1;
    Ref xv = Ref::steal(PyObject_GetAttr(x, str<"value">()));
    if (!xv) return kFailed;
    Ref yv = Ref::steal(PyObject_GetAttr(y, str<"value">()));
    if (!yv) return kFailed;
    return equal_component(inner_comparer, xv.get(), yv.get(), ctx, true, object);
}

bool fields_ignore_context(FieldTable* table) noexcept {
    for (Py_ssize_t i = 0; i < Py_SIZE(table); ++i) {
        if (!ignores_context(table->fields[i].fn)) return false;
    }
    return true;
}

// Whether field `f` of x and y is equal by its function: exact dicts read in place and
// leaf functions run inline on exact built-ins (neither runs user code). 1, 0 or -1.
int field_equal(Field& f, PyObject* x, PyObject* y, bool dicts, PyObject* ctx) noexcept {
    FieldPair v;
    if (v.read(f, x, y, dicts) < 0) return -1;
    int equal;
    if (inline_equal(f.leaf, v.x, v.y, &equal)) return equal;
    v.hold();
    return call_truth(f.fn, v.x, v.y, ctx, !dicts);
}

}  // namespace

int tags_differ(PyObject* x, PyObject* y, Ref* x_tag) noexcept {
    *x_tag = Ref::steal(subscript(x, str<"type">()));
    if (!*x_tag) return -1;
    Ref y_tag = Ref::steal(subscript(y, str<"type">()));
    if (!y_tag) return -1;
    // Two exact strs (or ints): `!=` by its truth without the call, as their comparison
    // runs no user code and gives a bool.
    int equal;
    if (inline_equal(Leaf::PythonEqual, x_tag->get(), y_tag.get(), &equal)) return !equal;
    return compare_truth(x_tag->get(), y_tag.get(), Py_NE);
}

int all_fields_true(FieldTable* table, PyObject* x, PyObject* y, PyObject* ctx) noexcept {
    // Held: a field function may run code that reaches the table (the collector).
    Ref held = Ref::borrow(reinterpret_cast<PyObject*>(table));
    const bool dicts = PyDict_CheckExact(x) && PyDict_CheckExact(y);
    for (Py_ssize_t i = 0; i < Py_SIZE(table); ++i) {
        int t = field_equal(table->fields[i], x, y, dicts, ctx);
        if (t <= 0) return t;
    }
    return 1;
}

namespace {

int equal_struct_impl(NativeFunction* self, PyObject* x, PyObject* y, PyObject* ctx, PyObject**) noexcept {
    CompositeCall guard(" in equal_struct");
    if (guard.failed()) return kFailed;
    Ref holder;
    FieldTable* table = fields_of(self, holder);
    if (!table) return kFailed;
    Ref owned;
    int seen = enter_pair(&ctx, owned, x, y, fields_ignore_context(table));
    if (seen != 0) return seen < 0 ? kFailed : 1;
    return truth_result(all_fields_true(table, x, y, ctx));
}

int equal_variant_impl(NativeFunction* self, PyObject* x, PyObject* y, PyObject* ctx, PyObject** object) noexcept {
    CompositeCall guard(" in equal_variant");
    if (guard.failed()) return kFailed;
    PyObject* cases = case_table(self);
    if (!cases) return kFailed;
    Ref x_tag;
    int differ = tags_differ(x, y, &x_tag);
    if (differ != 0) return differ < 0 ? kFailed : 0;

    // The case function is looked up after the context step; with a context of our
    // own, looking it up first (to learn whether it needs one) changes nothing seen.
    Ref owned;
    Ref case_fn;
    if (ctx == Py_None) {
        case_fn = Ref::steal(subscript(cases, x_tag.get()));
        if (!case_fn) return kFailed;
    }
    int seen = enter_pair(&ctx, owned, x, y, case_fn && ignores_context(case_fn.get()));
    if (seen != 0) return seen < 0 ? kFailed : 1;
    if (!case_fn && !(case_fn = Ref::steal(subscript(cases, x_tag.get())))) return kFailed;
    Ref xv = Ref::steal(subscript(x, str<"value">()));
    if (!xv) return kFailed;
    Ref yv = Ref::steal(subscript(y, str<"value">()));
    if (!yv) return kFailed;
    return equal_component(case_fn.get(), xv.get(), yv.get(), ctx, subscription_is_fresh(x, y), object);
}

}  // namespace

const NativeSpec equal_ref_spec = equality_spec<equal_ref_impl>(
    "equal_ref", "cy_equal_for.<locals>.equal_ref", kContextParams, kKeepsContextPrivate);
const NativeSpec equal_struct_spec = equality_spec<equal_struct_impl>(
    "equal_struct", "cy_equal_for.<locals>.equal_struct", kContextParams, kKeepsContextPrivate);
const NativeSpec equal_variant_spec = equality_spec<equal_variant_impl>(
    "equal_variant", "cy_equal_for.<locals>.equal_variant", kContextParams, kKeepsContextPrivate);

}  // namespace vorn::sortkit
