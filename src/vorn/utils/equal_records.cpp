// The equality functions of the record kinds: equal_ref, equal_struct and
// equal_variant.
#include "vorn/utils/composite_call.hpp"
#include "vorn/utils/equal_functions.hpp"
#include "vorn/utils/field_access.hpp"
#include "vorn/utils/value_access.hpp"

namespace vorn::sortkit {
namespace {

int equal_ref_impl(NativeFunction* self, PyObject* x, PyObject* y, PyObject* ctx, PyObject** object) noexcept {
    Level<Equality> level;
    PyObject* inner_comparer;
    if (int r = level.open(self, x, y, &ctx, " in equal_ref", &inner_comparer); r != kGoOn) return r;
    Ref xv = Ref::steal(PyObject_GetAttr(x, str<"value">()));
    if (!xv) return kFailed;
    Ref yv = Ref::steal(PyObject_GetAttr(y, str<"value">()));
    if (!yv) return kFailed;
    return child_result(Doing::TestingEquality, Equality::call(inner_comparer, xv.get(), yv.get(), ctx, true, object), Child::referent());
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

int all_fields_true(Doing doing, FieldTable* table, PyObject* x, PyObject* y, PyObject* ctx) noexcept {
    // Held: a field function may run code that reaches the table (the collector).
    Ref held = Ref::borrow(reinterpret_cast<PyObject*>(table));
    const bool dicts = PyDict_CheckExact(x) && PyDict_CheckExact(y);
    for (Py_ssize_t i = 0; i < Py_SIZE(table); ++i) {
        int t = field_equal(table->fields[i], x, y, dicts, ctx);
        if (t < 0) [[unlikely]]
            return child_failed(doing, Child::field(i, table->fields[i].name), -1);
        if (t == 0) return 0;
    }
    return 1;
}

namespace {

int equal_struct_impl(NativeFunction* self, PyObject* x, PyObject* y, PyObject* ctx, PyObject**) noexcept {
    Level<Equality> level;
    if (int r = level.enter(" in equal_struct"); r != kGoOn) return r;
    Ref holder;
    FieldTable* table = fields_of(self, holder);
    if (!table) return kFailed;
    if (int r = level.visit(&ctx, x, y, fields_ignore_context(table)); r != kGoOn) return r;
    return truth_result(all_fields_true(Doing::TestingEquality, table, x, y, ctx));
}

int equal_variant_impl(NativeFunction* self, PyObject* x, PyObject* y, PyObject* ctx, PyObject** object) noexcept {
    Level<Equality> level;
    if (int r = level.enter(" in equal_variant"); r != kGoOn) return r;
    PyObject* cases = case_table(self);
    if (!cases) return kFailed;
    Ref x_tag;
    int differ = tags_differ(x, y, &x_tag);
    if (differ != 0) return differ < 0 ? kFailed : 0;

    // The case function is looked up after the context step; with a context of our
    // own, looking it up first (to learn whether it needs one) changes nothing seen.
    Ref case_fn;
    if (ctx == Py_None) {
        case_fn = Ref::steal(subscript(cases, x_tag.get()));
        if (!case_fn) return kFailed;
    }
    if (int r = level.visit(&ctx, x, y, case_fn && ignores_context(case_fn.get())); r != kGoOn) return r;
    if (!case_fn && !(case_fn = Ref::steal(subscript(cases, x_tag.get())))) return kFailed;
    Ref xv = Ref::steal(subscript(x, str<"value">()));
    if (!xv) return kFailed;
    Ref yv = Ref::steal(subscript(y, str<"value">()));
    if (!yv) return kFailed;
    return child_result(Doing::TestingEquality, Equality::call(case_fn.get(), xv.get(), yv.get(), ctx, subscription_is_fresh(x, y), object),
                        Child::case_of(x_tag.get()));
}

}  // namespace

const NativeSpec equal_ref_spec = equality_spec<equal_ref_impl>(
    "equal_ref", "cy_equal_for.<locals>.equal_ref", kContextParams, kKeepsContextPrivate);
const NativeSpec equal_struct_spec = equality_spec<equal_struct_impl>(
    "equal_struct", "cy_equal_for.<locals>.equal_struct", kContextParams, kKeepsContextPrivate);
const NativeSpec equal_variant_spec = equality_spec<equal_variant_impl>(
    "equal_variant", "cy_equal_for.<locals>.equal_variant", kContextParams, kKeepsContextPrivate);

}  // namespace vorn::sortkit
