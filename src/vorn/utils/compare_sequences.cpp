// The Vector, Matrix and Array comparers: lexicographic walks over indexed elements.
#include "vorn/utils/compare_builders.hpp"
#include "vorn/utils/value_access.hpp"
#include "vorn/utils/walk.hpp"

namespace vorn::sortkit {
namespace {

constexpr const char* kWhere = " while comparing values";

PyObject* by_length(Py_ssize_t lx, Py_ssize_t ly) noexcept {
    return three_way(lx < ly ? -1 : lx > ly ? 1 : 0);
}

// Compares x[i] with y[i] for i below `n` by `elem` (with the context fit for it
// appended when `ctx` is not null). Returns the first nonzero integer result as a
// new int, null when all are equal (no exception) or on error (exception set).
PyObject* walk(PyObject* elem, PyObject* x, PyObject* y, Py_ssize_t n, PyObject* ctx) noexcept {
    const bool fresh = ctx && !(indexes_storage(x) && indexes_storage(y));
    for (Py_ssize_t i = 0; i < n; ++i) {
        Ref xi = Ref::steal(item_at(x, i));
        if (!xi) return nullptr;
        Ref yi = Ref::steal(item_at(y, i));
        if (!yi) return nullptr;
        Ref r = Ref::steal(call_component(elem, xi.get(), yi.get(), ctx, fresh));
        if (!r) return nullptr;
        int32_t c;
        if (integer_result(r.get(), &c) < 0) return nullptr;
        if (c) return PyLong_FromLong(c);
    }
    return nullptr;
}

// ---- Vector (component: the element comparer) ----------------------------------------

PyObject* compare_vector(NativeFunction* self, PyObject* const* a) noexcept {
    PyObject *x = a[0], *y = a[1];
    if (x == y) return three_way(0);
    CompositeCall guard(kWhere);
    if (guard.failed()) return nullptr;
    Ref xd = Ref::steal(PyObject_GetAttr(x, str<"_data">()));
    if (!xd) return nullptr;
    Py_ssize_t lx = PyObject_Size(xd.get());
    if (lx < 0) return nullptr;
    Ref yd = Ref::steal(PyObject_GetAttr(y, str<"_data">()));
    if (!yd) return nullptr;
    Py_ssize_t ly = PyObject_Size(yd.get());
    if (ly < 0) return nullptr;
    // Elements get two arguments: no comparison context.
    PyObject* elem = component(self);
    if (!elem) return nullptr;
    PyObject* r = walk(elem, xd.get(), yd.get(), lx < ly ? lx : ly, nullptr);
    if (r || PyErr_Occurred()) return r;
    return by_length(lx, ly);
}

// ---- Matrix (component: the element comparer) ----------------------------------------

// Orders x.<name> against y.<name> when they differ: -1 or 1 in `*out`, else 0.
// Returns 0, or -1 with an exception set.
int compare_dimension(PyObject* x, PyObject* y, PyObject* name, int* out) noexcept {
    Ref dx = Ref::steal(PyObject_GetAttr(x, name));
    if (!dx) return -1;
    Ref dy = Ref::steal(PyObject_GetAttr(y, name));
    if (!dy) return -1;
    Ref ne = Ref::steal(PyObject_RichCompare(dx.get(), dy.get(), Py_NE));
    if (!ne) return -1;
    int differ = PyObject_IsTrue(ne.get());
    if (differ <= 0) {
        *out = 0;
        return differ;
    }
    int lt = PyObject_RichCompareBool(dx.get(), dy.get(), Py_LT);
    if (lt < 0) return -1;
    *out = lt ? -1 : 1;
    return 0;
}

PyObject* compare_matrix(NativeFunction* self, PyObject* const* a) noexcept {
    PyObject *x = a[0], *y = a[1];
    if (x == y) return three_way(0);
    CompositeCall guard(kWhere);
    if (guard.failed()) return nullptr;
    int c;
    if (compare_dimension(x, y, str<"rows">(), &c) < 0) return nullptr;
    if (c) return three_way(c);
    if (compare_dimension(x, y, str<"cols">(), &c) < 0) return nullptr;
    if (c) return three_way(c);
    Ref xd = Ref::steal(PyObject_GetAttr(x, str<"_data">()));
    if (!xd) return nullptr;
    Ref xs = Ref::steal(PyObject_CallMethodNoArgs(xd.get(), str<"ravel">()));
    if (!xs) return nullptr;
    Ref yd = Ref::steal(PyObject_GetAttr(y, str<"_data">()));
    if (!yd) return nullptr;
    Ref ys = Ref::steal(PyObject_CallMethodNoArgs(yd.get(), str<"ravel">()));
    if (!ys) return nullptr;
    Py_ssize_t n = PyObject_Size(xs.get());
    if (n < 0) return nullptr;
    PyObject* elem = component(self);
    if (!elem) return nullptr;
    PyObject* r = walk(elem, xs.get(), ys.get(), n, nullptr);
    if (r || PyErr_Occurred()) return r;
    return three_way(0);
}

// ---- Array (component: the element comparer) -----------------------------------------

PyObject* compare_array(NativeFunction* self, PyObject* const* a) noexcept {
    PyObject *x = a[0], *y = a[1], *ctx = a[2];
    if (x == y) return three_way(0);
    CompositeCall guard(kWhere);
    if (guard.failed()) return nullptr;
    PyObject* elem = component(self);
    if (!elem) return nullptr;
    Ref own_ctx;
    int seen = enter_pair(&ctx, own_ctx, x, y, ignores_context(elem));
    if (seen) return seen < 0 ? nullptr : three_way(0);
    Py_ssize_t lx = PyObject_Size(x);
    if (lx < 0) return nullptr;
    Py_ssize_t ly = PyObject_Size(y);
    if (ly < 0) return nullptr;
    PyObject* r = walk(elem, x, y, lx < ly ? lx : ly, ctx);
    if (r || PyErr_Occurred()) return r;
    return by_length(lx, ly);
}

}  // namespace

const FunctionSpec compare_vector_spec = function_spec(
    "compare_vector", "cy_compare_for.<locals>.compare_vector", kModuleName, kValueParams, compare_vector,
    kIgnoresContext);
const FunctionSpec compare_matrix_spec = function_spec(
    "compare_matrix", "cy_compare_for.<locals>.compare_matrix", kModuleName, kValueParams, compare_matrix,
    kIgnoresContext);
const FunctionSpec compare_array_spec = function_spec(
    "compare_array", "cy_compare_for.<locals>.compare_array", kModuleName, kContextParams, compare_array,
    kKeepsContextPrivate);

}  // namespace vorn::sortkit
