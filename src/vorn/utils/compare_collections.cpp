// The Set comparer (both sides sorted by the element key class, then walked in step)
// and the Dict comparer (entries paired by iteration order).
#include "common/compat.hpp"
#include "common/type_memo.hpp"
#include "vorn/utils/compare_functions.hpp"
#include "vorn/utils/composite_call.hpp"
#include "vorn/utils/dict_items.hpp"
#include "vorn/utils/sort_key.hpp"
#include "vorn/utils/value_access.hpp"

#include <algorithm>
#include <new>
#include <vector>

namespace vorn::sortkit {
namespace {

constexpr const char* kWhere = " while comparing values";

// Up to this many elements a native sort is by insertion; more by the library's merge sort.
constexpr Py_ssize_t kInsertionSortMost = 32;

// ---- Set (component: the element comparer; the element key class) ---------------------

// Sorts `items` by the scalar order `leaf`, natively, when every one is an exact
// built-in that the order reads without user code (ints within 64 bits, floats, strs):
// the order that sorting them by our key class gives, since both sorts are stable and
// the keys order exactly so. True when sorted; false (nothing moved) otherwise.
bool sort_scalars(Leaf leaf, PyObject** items, Py_ssize_t n) noexcept {
    for (Py_ssize_t i = 0; i < n; ++i) {
        int sign;
        if (!inline_order(leaf, items[i], items[i], &sign)) return false;
    }
    // Insertion sort: stable, and what the few elements of a Set value want. Larger
    // ones use the merge sort of the library, stable too.
    auto less = [leaf](PyObject* a, PyObject* b) noexcept {
        int sign = 0;
        inline_order(leaf, a, b, &sign);
        return sign < 0;
    };
    if (n > kInsertionSortMost) {
        try {
            std::stable_sort(items, items + n, less);
            return true;
        } catch (const std::bad_alloc&) {
            // stable_sort works without a buffer too; it only ever asks for one.
        }
    }
    for (Py_ssize_t i = 1; i < n; ++i) {
        PyObject* v = items[i];
        Py_ssize_t j = i;
        for (; j > 0 && less(v, items[j - 1]); --j) items[j] = items[j - 1];
        items[j] = v;
    }
    return true;
}

// Orders a pair in place without a branch (the compiler picks conditional moves), so
// that sorting random values does not keep mispredicting.
inline void order_pair(int64_t& a, int64_t& b) noexcept {
    const int64_t lo = a < b ? a : b, hi = a < b ? b : a;
    a = lo;
    b = hi;
}

}  // namespace

bool sorted_int_values(PyObject* const* items, Py_ssize_t n, int64_t* out) noexcept {
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* o = items[i];
        if (!PyLong_CheckExact(o)) return false;
        Py_ssize_t small;
        if (compat::compact_int(o, &small)) {
            out[i] = small;
        } else if (!compat::int64_value(o, &out[i])) {
            return false;
        }
    }
    switch (n) {
        case 0:
        case 1: break;
        case 2: order_pair(out[0], out[1]); break;
        case 3:
            order_pair(out[0], out[1]);
            order_pair(out[1], out[2]);
            order_pair(out[0], out[1]);
            break;
        case 4:
            order_pair(out[0], out[1]);
            order_pair(out[2], out[3]);
            order_pair(out[0], out[2]);
            order_pair(out[1], out[3]);
            order_pair(out[1], out[2]);
            break;
        default:
            for (Py_ssize_t i = 1; i < n; ++i) {
                const int64_t v = out[i];
                Py_ssize_t j = i;
                for (; j > 0 && v < out[j - 1]; --j) out[j] = out[j - 1];
                out[j] = v;
            }
    }
    return true;
}

namespace {

// list.sort(key=key_class) of our own list `values`: the second step of sorted().
int sort_by_key(PyObject* values, PyObject* keys) noexcept {
    static PyObject* kwnames = nullptr;
    if (!kwnames && !(kwnames = PyTuple_Pack(1, str<"key">()))) return -1;
    Ref sort = Ref::steal(PyObject_GetAttr(values, str<"sort">()));
    if (!sort) return -1;
    PyObject* args[1] = {keys};
    Ref r = Ref::steal(PyObject_Vectorcall(sort.get(), args, 0, kwnames));
    return r ? 0 : -1;
}

}  // namespace

// Remembered for the last pair asked (Set comparisons ask at every call): the same
// element comparer (the function at that address with that serial, whose kind never
// changes) and the same key class (its version tag unchanged, so what it makes keys
// with is too) give the same answer.
Leaf native_set_order(PyObject* elem, PyObject* keys) noexcept {
    static PyObject* last_elem = nullptr;
    static uint64_t last_serial = 0;
    static TypeMemo last_keys;
    static Leaf last_leaf = Leaf::None;
    if (!is_native_function(elem) || !PyType_Check(keys)) return Leaf::None;
    auto* cls = reinterpret_cast<PyTypeObject*>(keys);
    const uint64_t serial = reinterpret_cast<NativeFunction*>(elem)->serial;
    if (elem == last_elem && serial == last_serial && last_keys.holds(cls)) return last_leaf;
    Leaf leaf = leaf_of(elem, kWithContext);
    if (leaf != Leaf::None) {
        PyObject* compare = key_class_comparer(cls);
        if (!compare || leaf_of(compare, kWithoutContext) != leaf) leaf = Leaf::None;
    }
    last_elem = elem, last_serial = serial, last_leaf = leaf;
    last_keys.remember(cls);
    return leaf;
}

namespace {

int compare_set(NativeFunction* self, PyObject* x, PyObject* y, PyObject* ctx, PyObject** object) noexcept {
    Level<Comparing> level;
    if (int r = level.enter(x, y, kWhere); r != kGoOn) return r;
    PyObject* elem = component(self);
    PyObject* keys = elem ? key_class(self) : nullptr;
    if (!keys) return kFailed;
    const Leaf leaf = native_set_order(elem, keys);
    if (leaf != Leaf::None && PyAnySet_CheckExact(x) && PyAnySet_CheckExact(y)) {
        // Exact sets are listed without user code: their elements are read in place,
        // and, when all are scalars the leaf orders, sorted and compared here.
        PyObject* xe[kSetElementsInPlace];
        PyObject* ye[kSetElementsInPlace];
        const Py_ssize_t nx = compat::set_elements(x, xe, kSetElementsInPlace),
                         ny = compat::set_elements(y, ye, kSetElementsInPlace);
        if (leaf == Leaf::OrderInt && nx >= 0 && ny >= 0) {
            // Ints within 64 bits: their values sorted stand for them (equal ints are
            // equal values, so stability does not show).
            int64_t xv[kSetElementsInPlace], yv[kSetElementsInPlace];
            if (sorted_int_values(xe, nx, xv) && sorted_int_values(ye, ny, yv)) {
                for (Py_ssize_t i = 0; i < nx && i < ny; ++i) {
                    if (xv[i] != yv[i]) return xv[i] < yv[i] ? -1 : 1;
                }
                return nx < ny ? -1 : nx > ny ? 1 : 0;
            }
        } else if (nx >= 0 && ny >= 0 && sort_scalars(leaf, xe, nx) && sort_scalars(leaf, ye, ny)) {
            for (Py_ssize_t i = 0; i < nx && i < ny; ++i) {
                int sign = 0;
                inline_order(leaf, xe[i], ye[i], &sign);
                if (sign) return sign;
            }
            return nx < ny ? -1 : nx > ny ? 1 : 0;
        }
    }
    // sorted(x, key=keys), then the same for y: each collects its elements as list(x)
    // would (so a user __iter__ or __len__ sees the very same calls), then sorts them.
    // Listing runs the sets' own iteration, which may change the key class: the
    // native order is asked again after each.
    Ref xs = Ref::steal(PySequence_List(x));
    if (!xs) return kFailed;
    PyObject** xi = compat::sequence_items(xs.get());
    const Leaf x_leaf = native_set_order(elem, keys);
    bool native = x_leaf != Leaf::None && sort_scalars(x_leaf, xi, PyList_GET_SIZE(xs.get()));
    // Sorting x natively has only reordered our own list, as keys would have.
    if (!native && sort_by_key(xs.get(), keys) < 0) return kFailed;
    Ref ys = Ref::steal(PySequence_List(y));
    if (!ys) return kFailed;
    PyObject** yi = compat::sequence_items(ys.get());
    if (!(native && native_set_order(elem, keys) == x_leaf && sort_scalars(x_leaf, yi, PyList_GET_SIZE(ys.get())))) {
        native = false;
        if (sort_by_key(ys.get(), keys) < 0) return kFailed;
    }
    if (native) {
        // Both sorted natively: the element comparer is the same leaf, run inline.
        const Py_ssize_t nx = PyList_GET_SIZE(xs.get()), ny = PyList_GET_SIZE(ys.get());
        for (Py_ssize_t i = 0; i < nx && i < ny; ++i) {
            int sign = 0;
            inline_order(x_leaf, xi[i], yi[i], &sign);
            if (sign) return sign;
        }
        return nx < ny ? -1 : nx > ny ? 1 : 0;
    }
    // Both lists are ours alone; an element is held while it is compared all the same,
    // and is fresh to a context, which outlives the lists.
    for (Py_ssize_t i = 0;; ++i) {
        if (i >= PyList_GET_SIZE(xs.get())) return i < PyList_GET_SIZE(ys.get()) ? -1 : 0;
        if (i >= PyList_GET_SIZE(ys.get())) return 1;
        Ref xe = Ref::borrow(PyList_GET_ITEM(xs.get(), i));
        Ref ye = Ref::borrow(PyList_GET_ITEM(ys.get(), i));
        int r = object_result_of_call(elem, xe.get(), ye.get(), ctx, true, object);
        if (r == kFailed) [[unlikely]]
            return child_failed(Doing::Comparing, Child::element(i));
        if (r) return r;
    }
}

// ---- Dict (component: the value comparer; the key comparer) ----------------------------

// Unpacks a two-item entry into `first` and `second`, with the messages of a
// compiled `k, v = item`. Returns 0, or -1 with an exception set.
int unpack_pair(PyObject* entry, Ref& first, Ref& second) noexcept {
    if (PyTuple_CheckExact(entry)) {
        Py_ssize_t n = PyTuple_GET_SIZE(entry);
        if (n == 2) {
            first = Ref::borrow(PyTuple_GET_ITEM(entry, 0));
            second = Ref::borrow(PyTuple_GET_ITEM(entry, 1));
            return 0;
        }
        if (n > 2) {
            PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zd)", Py_ssize_t{2});
        } else {
            PyErr_Format(PyExc_ValueError, "need more than %zd value%.1s to unpack", n,
                         n == 1 ? "" : "s");
        }
        return -1;
    }
    Ref it = Ref::steal(PyObject_GetIter(entry));
    if (!it) return -1;
    Ref* slots[2] = {&first, &second};
    for (Py_ssize_t i = 0; i < 2; ++i) {
        *slots[i] = Ref::steal(PyIter_Next(it.get()));
        if (!*slots[i]) {
            if (!PyErr_Occurred())
                PyErr_Format(PyExc_ValueError, "need more than %zd value%.1s to unpack", i,
                             i == 1 ? "" : "s");
            return -1;
        }
    }
    Ref extra = Ref::steal(PyIter_Next(it.get()));
    if (extra) {
        PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zd)", Py_ssize_t{2});
        return -1;
    }
    return PyErr_Occurred() ? -1 : 0;
}

// iter(mapping.items()). New reference, or null.
PyObject* iterate_items(PyObject* mapping) noexcept {
    Ref items = Ref::steal(PyObject_CallMethodNoArgs(mapping, str<"items">()));
    return items ? PyObject_GetIter(items.get()) : nullptr;
}

// One entry pair of a Dict comparison: the object result of the key comparer (with a
// fresh context), then that of the value comparer. kFailed, 0 to go on, or the
// comparer's native result to return.
int compare_entries(PyObject* key_cmp, PyObject* value_cmp, Leaf key_leaf, Leaf value_leaf, PyObject* xk,
                    PyObject* xv, PyObject* yk, PyObject* yv, PyObject* ctx, bool fresh, PyObject** object) noexcept {
    int sign;
    if (inline_order(key_leaf, xk, yk, &sign)) {
        if (sign) return sign;
    } else if (int r = object_result_of_call(key_cmp, xk, yk, Py_None, false, object)) {
        return r;
    }
    if (inline_order(value_leaf, xv, yv, &sign)) return sign;
    return object_result_of_call(value_cmp, xv, yv, ctx, fresh, object);
}

// The Dict comparison of two exact dicts whose every key and value the leaves compare
// inline, read in place: true with the result in `*out`; false, having had no effect,
// when some item needs its comparer called (or the items cannot be read so). Nothing
// runs user code here, so neither dict can change while it reads them.
bool compare_dicts_inline(PyObject* x, PyObject* y, Leaf key_leaf, Leaf value_leaf, int* out) noexcept {
    compat::DictCursor xc(x), yc(y);
    if (!xc.ok() || !yc.ok()) return false;
    for (;;) {
        PyObject *xk = nullptr, *xv = nullptr, *yk = nullptr, *yv = nullptr;
        const bool more_x = xc.next(&xk, &xv), more_y = yc.next(&yk, &yv);
        if (!more_x || !more_y) {
            *out = more_x ? 1 : more_y ? -1 : 0;
            return true;
        }
        int sign;
        if (!inline_order(key_leaf, xk, yk, &sign)) return false;
        if (!sign && !inline_order(value_leaf, xv, yv, &sign)) return false;
        if (sign) {
            *out = sign;
            return true;
        }
    }
}

int compare_dict(NativeFunction* self, PyObject* x, PyObject* y, PyObject* ctx, PyObject** object) noexcept {
    Level<Comparing> level;
    if (int r = level.enter(x, y, kWhere); r != kGoOn) return r;
    PyObject* key_cmp = key_comparer(self);
    PyObject* value_cmp = key_cmp ? component(self) : nullptr;
    if (!value_cmp) return kFailed;
    // Keys always get a fresh context; values that ignore it make one pointless.
    if (int r = level.visit(&ctx, x, y, ignores_context(value_cmp)); r != kGoOn) return r;
    const Leaf key_leaf = leaf_of(key_cmp, kWithContext), value_leaf = leaf_of(value_cmp, kWithContext);
    if (PyDict_CheckExact(x) && PyDict_CheckExact(y)) {
        int inline_result;
        if (key_leaf != Leaf::None && value_leaf != Leaf::None &&
            compare_dicts_inline(x, y, key_leaf, value_leaf, &inline_result))
            return inline_result;
        // x.items() and y.items() of exact dicts run no user code: walked in C. Keys and
        // values are held while a comparer that may run code is called.
        DictItems xi(x), yi(y);
        for (;;) {
            PyObject *xk, *xv, *yk, *yv;
            int more = xi.next(&xk, &xv);
            if (more < 0) return kFailed;
            if (!more) {
                more = yi.next(&yk, &yv);
                return more < 0 ? kFailed : more ? -1 : 0;
            }
            Ref held[2] = {Ref::borrow(xk), Ref::borrow(xv)};
            more = yi.next(&yk, &yv);
            if (more <= 0) return more < 0 ? kFailed : 1;
            Ref yheld[2] = {Ref::borrow(yk), Ref::borrow(yv)};
            if (int r = compare_entries(key_cmp, value_cmp, key_leaf, value_leaf, xk, xv, yk, yv, ctx, false, object)) {
                if (r == kFailed) [[unlikely]]
                    return child_failed(Doing::Comparing, Child::entry(xk));
                return r;
            }
        }
    }
    Ref xi = Ref::steal(iterate_items(x));
    if (!xi) return kFailed;
    Ref yi = Ref::steal(iterate_items(y));
    if (!yi) return kFailed;
    for (;;) {
        Ref xe = Ref::steal(PyIter_Next(xi.get()));
        if (!xe) {
            if (PyErr_Occurred()) return kFailed;
            Ref ye = Ref::steal(PyIter_Next(yi.get()));
            if (!ye && PyErr_Occurred()) return kFailed;
            return ye ? -1 : 0;
        }
        Ref ye = Ref::steal(PyIter_Next(yi.get()));
        if (!ye) return PyErr_Occurred() ? kFailed : 1;
        Ref xk, xv, yk, yv;
        if (unpack_pair(xe.get(), xk, xv) < 0 || unpack_pair(ye.get(), yk, yv) < 0) return kFailed;
        // items() of anything but a dict may make the values it yields.
        if (int r = compare_entries(key_cmp, value_cmp, key_leaf, value_leaf, xk.get(), xv.get(), yk.get(),
                                    yv.get(), ctx, true, object)) {
            if (r == kFailed) [[unlikely]]
                return child_failed(Doing::Comparing, Child::entry(xk.get()));
            return r;
        }
    }
}

}  // namespace

const NativeSpec compare_set_spec = comparer_spec<compare_set>(
    "compare_set", "cy_compare_for.<locals>.compare_set", kContextParams, kKeepsContextPrivate);
const NativeSpec compare_dict_spec = comparer_spec<compare_dict>(
    "compare_dict", "cy_compare_for.<locals>.compare_dict", kContextParams, kKeepsContextPrivate);

}  // namespace vorn::sortkit
