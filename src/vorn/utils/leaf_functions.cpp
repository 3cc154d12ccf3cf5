// The bodies of the leaf functions of the three builders and the module functions, and
// what tells the walks which leaf a function is.
#include "vorn/utils/leaf_functions.hpp"

#include "vorn/utils/component_results.hpp"
#include "vorn/utils/equal_functions.hpp"
#include "vorn/utils/value_access.hpp"

#include <utility>

namespace vorn::sortkit {

int never_native(NativeFunction*, PyObject*, PyObject*, PyObject*, PyObject**) noexcept {
    PyErr_SetString(PyExc_RuntimeError, "Attempted to compare values of type .Never");
    return kFailed;
}

int zero_native(NativeFunction*, PyObject*, PyObject*, PyObject*, PyObject**) noexcept { return 0; }

int true_native(NativeFunction*, PyObject*, PyObject*, PyObject*, PyObject**) noexcept { return 1; }

int python_equal_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject** object) noexcept {
    return equality_result(PyObject_RichCompare(x, y, Py_EQ), object);
}

int compare_bool_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept {
    int a, b;
    if (to_truth(x, &a) < 0 || to_truth(y, &b) < 0) return kFailed;
    return a - b;
}

int compare_int_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept {
    int64_t a, b;
    if (exact_int64(x, &a) && exact_int64(y, &b)) return compare_int64(a, b);
    if (to_int64(x, &a) < 0 || to_int64(y, &b) < 0) return kFailed;
    return compare_int64(a, b);
}

int compare_float_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept {
    double a, b;
    if (to_double(x, &a) < 0 || to_double(y, &b) < 0) return kFailed;
    return compare_double(a, b);
}

int compare_ordered_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept {
    int sign;
    if (inline_order(Leaf::OrderString, x, y, &sign)) return sign;
    int lt = PyObject_RichCompareBool(x, y, Py_LT);
    if (lt < 0) return kFailed;
    if (lt) return -1;
    int gt = PyObject_RichCompareBool(x, y, Py_GT);
    if (gt < 0) return kFailed;
    return gt ? 1 : 0;
}

int equal_float_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept {
    double a, b;
    if (to_double(x, &a) < 0 || to_double(y, &b) < 0) return kFailed;
    return equal_double(a, b);
}

Leaf leaf_of(PyObject* fn, int nargs) noexcept {
    if (!is_native_function(fn)) return Leaf::None;
    const FunctionSpec* s = reinterpret_cast<NativeFunction*>(fn)->spec;
    if (s->nparams != nargs && !(nargs == 2 && s->nrequired == 2)) return Leaf::None;  // a TypeError to raise
    if (const NativeEntry e = native_entry_of(fn)) {
        // Every leaf ignores contexts; a composite that reads one is told apart at once.
        if (!(s->flags & kIgnoresContext)) return Leaf::None;
        if (e == compare_int_native) return Leaf::OrderInt;
        if (e == compare_ordered_native) return Leaf::OrderString;
        if (e == compare_float_native) return Leaf::OrderDouble;
        if (e == zero_native) return Leaf::OrderZero;
        if (e == python_equal_native) return Leaf::PythonEqual;
        if (e == equal_float_native) return Leaf::FloatEqual;
        return Leaf::None;
    }
    if (s == &cy_compare_int_spec) return Leaf::OrderInt;
    if (s == &cy_compare_float_spec) return Leaf::OrderDouble;
    // cy_compare_string checks for exact strs, which is all that is run inline.
    if (s == &cy_compare_string_spec) return Leaf::OrderString;
    if (s == &cy_equal_float_spec) return Leaf::FloatEqual;
    return Leaf::None;
}

namespace {

// The bytes of two Blob values: `v.data` for an instance of VornBlob (looked up in
// the module namespace at each call, as the name may be rebound), else `v` itself;
// `x` first. 0, or -1 with an exception set.
int blob_pair(PyObject* xv, PyObject* yv, Ref* x, Ref* y) noexcept {
    Ref blob_class = Ref::steal(look_up(Rebindable::VornBlob));
    if (!blob_class) return -1;
    for (auto [v, out] : {std::pair{xv, x}, std::pair{yv, y}}) {
        int is_blob = PyObject_IsInstance(v, blob_class.get());
        if (is_blob < 0) return -1;
        *out = Ref::steal(is_blob ? PyObject_GetAttr(v, str<"data">()) : Py_NewRef(v));
        if (!*out) return -1;
    }
    return 0;
}

// Whether the bytes `x` and `y`, of length `n` each, are the same: exact bytes compared
// at once, anything else by `elementwise(x, y)` (1, 0, or -1). A native truth.
int same_bytes(PyObject* x, PyObject* y, Py_ssize_t n, int (*elementwise)(PyObject*, PyObject*)) noexcept {
    if (PyBytes_CheckExact(x) && PyBytes_CheckExact(y))
        return std::memcmp(PyBytes_AS_STRING(x), PyBytes_AS_STRING(y), static_cast<size_t>(n)) == 0;
    return truth_result(elementwise(x, y));
}

// Items of two iterables compared pairwise with `==`, stopping when either ends.
int all_iterated_equal(PyObject* xs, PyObject* ys) noexcept {
    Ref ix = Ref::steal(PyObject_GetIter(xs));
    if (!ix) return -1;
    Ref iy = Ref::steal(PyObject_GetIter(ys));
    if (!iy) return -1;
    for (;;) {
        Ref p = Ref::steal(PyIter_Next(ix.get()));
        if (!p) return PyErr_Occurred() ? -1 : 1;
        Ref q = Ref::steal(PyIter_Next(iy.get()));
        if (!q) return PyErr_Occurred() ? -1 : 1;
        int t = compare_truth(p.get(), q.get(), Py_EQ);
        if (t <= 0) return t;
    }
}

// Pairs of `zip(x, y, strict=True)` all equal by `==`: 1, 0, or -1 with an exception
// set (the zip's ValueError when the iterations differ in length).
int all_zipped_equal(PyObject* x, PyObject* y) noexcept {
    Ref kwnames = Ref::steal(PyTuple_Pack(1, str<"strict">()));
    if (!kwnames) return -1;
    PyObject* args[3] = {x, y, Py_True};
    Ref pairs = Ref::steal(PyObject_Vectorcall(builtins.zip, args, 2, kwnames.get()));
    if (!pairs) return -1;
    while (Ref pair = Ref::steal(PyIter_Next(pairs.get()))) {
        int t = compare_truth(PyTuple_GET_ITEM(pair.get(), 0), PyTuple_GET_ITEM(pair.get(), 1), Py_EQ);
        if (t <= 0) return t;
    }
    return PyErr_Occurred() ? -1 : 1;
}

int timestamp(PyObject* v, double* out) noexcept {
    Ref t = Ref::steal(PyObject_CallMethodNoArgs(v, str<"timestamp">()));
    return t ? to_double(t.get(), out) : -1;
}

}  // namespace

int compare_datetime_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept {
    double a, b;
    if (timestamp(x, &a) < 0 || timestamp(y, &b) < 0) return kFailed;
    return b > a ? -1 : a > b ? 1 : 0;
}

int compare_blob_native(NativeFunction*, PyObject* xv, PyObject* yv, PyObject*, PyObject**) noexcept {
    Ref x, y;
    if (blob_pair(xv, yv, &x, &y) < 0) return kFailed;
    Py_ssize_t lx, ly;
    if (PyBytes_CheckExact(x.get()) && PyBytes_CheckExact(y.get())) {
        // Byte by byte as unsigned values, exactly as the generic walk below orders them.
        lx = PyBytes_GET_SIZE(x.get());
        ly = PyBytes_GET_SIZE(y.get());
        int c = std::memcmp(PyBytes_AS_STRING(x.get()), PyBytes_AS_STRING(y.get()),
                            static_cast<size_t>(lx < ly ? lx : ly));
        if (c) return c < 0 ? -1 : 1;
    } else {
        lx = PyObject_Size(x.get());
        if (lx < 0) return kFailed;
        ly = PyObject_Size(y.get());
        if (ly < 0) return kFailed;
        for (Py_ssize_t i = 0, n = lx < ly ? lx : ly; i < n; ++i) {
            Ref xi = Ref::steal(item_at(x.get(), i));
            if (!xi) return kFailed;
            Ref yi = Ref::steal(item_at(y.get(), i));
            if (!yi) return kFailed;
            int lt = PyObject_RichCompareBool(xi.get(), yi.get(), Py_LT);
            if (lt < 0) return kFailed;
            if (lt) return -1;
            int gt = PyObject_RichCompareBool(xi.get(), yi.get(), Py_GT);
            if (gt < 0) return kFailed;
            if (gt) return 1;
        }
    }
    return lx < ly ? -1 : lx > ly ? 1 : 0;
}

int equal_blob_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept {
    Ref xd, yd;
    Py_ssize_t n;
    int differ = member_lengths_differ(x, y, str<"data">(), &xd, &yd, &n);
    if (differ != 0) return differ < 0 ? kFailed : 0;
    return same_bytes(xd.get(), yd.get(), n, all_iterated_equal);
}

int same_object_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept {
    return x == y;
}

int is_float_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject**) noexcept {
    double a, b;
    if (to_double(x, &a) < 0 || to_double(y, &b) < 0) return kFailed;
    return identical_double(a, b);
}

int same_instant_native(NativeFunction*, PyObject* x, PyObject* y, PyObject*, PyObject** object) noexcept {
    Ref tx = Ref::steal(PyObject_CallMethodNoArgs(x, str<"timestamp">()));
    if (!tx) return kFailed;
    Ref ty = Ref::steal(PyObject_CallMethodNoArgs(y, str<"timestamp">()));
    if (!ty) return kFailed;
    return equality_result(PyObject_RichCompare(tx.get(), ty.get(), Py_EQ), object);
}

int is_blob_native(NativeFunction*, PyObject* xv, PyObject* yv, PyObject*, PyObject**) noexcept {
    Ref x, y;
    if (blob_pair(xv, yv, &x, &y) < 0) return kFailed;
    Py_ssize_t n;
    int differ = lengths_differ(x.get(), y.get(), &n);
    if (differ != 0) return differ < 0 ? kFailed : 0;
    return same_bytes(x.get(), y.get(), n, all_zipped_equal);
}

}  // namespace vorn::sortkit
