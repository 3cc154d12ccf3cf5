// The Vector, Matrix and Array comparers: lexicographic walks over indexed elements.
#include "common/compat.hpp"
#include "vorn/utils/compare_functions.hpp"
#include "vorn/utils/composite_call.hpp"
#include "vorn/utils/leaf_functions.hpp"
#include "vorn/utils/value_access.hpp"

namespace vorn::sortkit {
namespace {

constexpr const char* kWhere = " while comparing values";

int by_length(Py_ssize_t lx, Py_ssize_t ly) noexcept { return lx < ly ? -1 : lx > ly ? 1 : 0; }

// The storage of an exact tuple or of a list (indexes_storage).
PyObject** storage_of(PyObject* seq) noexcept {
    return compat::sequence_items(seq);
}

// The integer result of the element comparer on x[i] and y[i], read by index: 0 with
// `*out` set, or -1 with an exception set.
int compare_item(PyObject* elem, PyObject* x, PyObject* y, Py_ssize_t i, PyObject* ctx, bool fresh,
                 int32_t* out) noexcept {
    Ref xi = Ref::steal(item_at(x, i));
    if (!xi) return -1;
    Ref yi = Ref::steal(item_at(y, i));
    if (!yi) return -1;
    return integer_result_of_call(elem, xi.get(), yi.get(), ctx, fresh, out);
}

// Compares x[i] with y[i] for i below `n` by `elem` (with the context fit for it
// appended when `ctx` is not null). Returns the first nonzero integer result as a
// native result (native_int_result), 0 when all are equal, kFailed with an exception set.
int compare_items(PyObject* elem, PyObject* x, PyObject* y, Py_ssize_t n, PyObject* ctx, PyObject** object) noexcept {
    const bool stored = indexes_storage(x) && indexes_storage(y);
    const bool fresh = ctx && !stored;
    // Items of exact lists and tuples, and of list subclasses that keep the list's own
    // indexing, are read from their storage without user code; when the element
    // comparer is one of our scalar orders, pairs of exact ints, floats or strs are
    // then compared inline, as that comparer would compare them (no user code runs
    // there either). A run of inline steps runs no user code, so the sizes and the
    // storage read before it hold for the whole run; they are read again after each
    // call of the comparer, which may change the lists (an index past the end then
    // goes through item_at for its IndexError).
    const Leaf leaf = stored ? leaf_of(elem, ctx ? kWithContext : kWithoutContext) : Leaf::None;
    Py_ssize_t i = 0;
    while (i < n) {
        if (leaf != Leaf::None) {
            const Py_ssize_t sx = Py_SIZE(x), sy = Py_SIZE(y);
            const Py_ssize_t m = n < sx ? (n < sy ? n : sy) : (sx < sy ? sx : sy);
            PyObject* const* xs = storage_of(x);
            PyObject* const* ys = storage_of(y);
            int sign = 0;
            while (i < m && inline_order(leaf, xs[i], ys[i], &sign)) {
                if (sign) return sign;
                ++i;
            }
            if (i >= n) break;
        }
        int32_t c;
        if (compare_item(elem, x, y, i, ctx, fresh, &c) < 0) [[unlikely]]
            return child_failed(Doing::Comparing, Child::item(i));
        if (c) return native_int_result(c, object);
        ++i;
    }
    return 0;
}

// ---- Vector (component: the element comparer) ----------------------------------------

int compare_vector(NativeFunction* self, PyObject* x, PyObject* y, PyObject*, PyObject** object) noexcept {
    Level<Comparing> level;
    if (int r = level.enter(x, y, kWhere); r != kGoOn) return r;
    Ref xd = Ref::steal(PyObject_GetAttr(x, str<"_data">()));
    if (!xd) return kFailed;
    Py_ssize_t lx = PyObject_Size(xd.get());
    if (lx < 0) return kFailed;
    Ref yd = Ref::steal(PyObject_GetAttr(y, str<"_data">()));
    if (!yd) return kFailed;
    Py_ssize_t ly = PyObject_Size(yd.get());
    if (ly < 0) return kFailed;
    // Elements get two arguments: no comparison context.
    PyObject* elem = component(self);
    if (!elem) return kFailed;
    int r = compare_items(elem, xd.get(), yd.get(), lx < ly ? lx : ly, nullptr, object);
    return r ? r : by_length(lx, ly);
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

int compare_matrix(NativeFunction* self, PyObject* x, PyObject* y, PyObject*, PyObject** object) noexcept {
    Level<Comparing> level;
    if (int r = level.enter(x, y, kWhere); r != kGoOn) return r;
    int c;
    if (compare_dimension(x, y, str<"rows">(), &c) < 0) return kFailed;
    if (c) return c;
    if (compare_dimension(x, y, str<"cols">(), &c) < 0) return kFailed;
    if (c) return c;
    Ref xd = Ref::steal(PyObject_GetAttr(x, str<"_data">()));
    if (!xd) return kFailed;
    Ref xs = Ref::steal(PyObject_CallMethodNoArgs(xd.get(), str<"ravel">()));
    if (!xs) return kFailed;
    Ref yd = Ref::steal(PyObject_GetAttr(y, str<"_data">()));
    if (!yd) return kFailed;
    Ref ys = Ref::steal(PyObject_CallMethodNoArgs(yd.get(), str<"ravel">()));
    if (!ys) return kFailed;
    Py_ssize_t n = PyObject_Size(xs.get());
    if (n < 0) return kFailed;
    PyObject* elem = component(self);
    if (!elem) return kFailed;
    return compare_items(elem, xs.get(), ys.get(), n, nullptr, object);
}

// ---- Array (component: the element comparer) -----------------------------------------

// Inlined into its Python entry too (the comparer called from Python, as cmp_to_key
// and a key's fallback call it), which the compiler otherwise chooses not to do.
[[gnu::always_inline]] inline int compare_array(NativeFunction* self, PyObject* x, PyObject* y, PyObject* ctx,
                                                PyObject** object) noexcept {
    Level<Comparing> level;
    PyObject* elem;
    if (int r = level.open(self, x, y, &ctx, kWhere, &elem); r != kGoOn) return r;
    // len() of an exact list is its size; anything else is asked.
    Py_ssize_t lx = PyList_CheckExact(x) ? PyList_GET_SIZE(x) : PyObject_Size(x);
    if (lx < 0) return kFailed;
    Py_ssize_t ly = PyList_CheckExact(y) ? PyList_GET_SIZE(y) : PyObject_Size(y);
    if (ly < 0) return kFailed;
    int r = compare_items(elem, x, y, lx < ly ? lx : ly, ctx, object);
    return r ? r : by_length(lx, ly);
}

}  // namespace

const NativeSpec compare_vector_spec = comparer_spec<compare_vector>(
    "compare_vector", "cy_compare_for.<locals>.compare_vector", kValueParams, kIgnoresContext);
const NativeSpec compare_matrix_spec = comparer_spec<compare_matrix>(
    "compare_matrix", "cy_compare_for.<locals>.compare_matrix", kValueParams, kIgnoresContext);
const NativeSpec compare_array_spec = comparer_spec<compare_array>(
    "compare_array", "cy_compare_for.<locals>.compare_array", kContextParams, kKeepsContextPrivate);

}  // namespace vorn::sortkit
