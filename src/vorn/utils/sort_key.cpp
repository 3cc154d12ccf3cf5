// CyVornKey: the key class that orders, compares and hashes a wrapped value by a
// three-way comparer, with native rich comparison and pickling by layout checksum.
#include "vorn/utils/sort_key.hpp"

#include "common/args.hpp"
#include "common/compat.hpp"
#include "common/error_notes.hpp"
#include "common/static_type.hpp"
#include "vorn/utils/component_results.hpp"
#include "vorn/utils/flat_key.hpp"
#include "vorn/utils/key_image.hpp"
#include "vorn/utils/set_key.hpp"

#include <structmember.h>

#include <memory>

namespace vorn::sortkit {

PyTypeObject* key_type = nullptr;

namespace {

// The first two lines give the signature that inspect.signature() and help() show.
constexpr const char* kKeyDoc =
    "CyVornKey(value, compare_fn)\n--\n\n"
    "Key wrapper for Vorn values used in sorted() and SortedContainers.\n"
    "\n"
    "    A single native class with its own rich comparison, replacing the Python class\n"
    "    that make_vorn_key() creates at run time.\n"
    "    ";

KeyObject* as_key(PyObject* o) noexcept { return reinterpret_cast<KeyObject*>(o); }

}  // namespace

// ---- Life cycle -------------------------------------------------------------------------

PyObject* key_new(PyTypeObject* type, PyObject*, PyObject*) noexcept {
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    as_key(self)->value = Py_NewRef(Py_None);
    as_key(self)->compare = Py_NewRef(Py_None);
    return self;
}

namespace {

const FunctionSpec init_params = function_spec(
    "__init__", "CyVornKey.__init__", kModuleName, Params{2, 2, {"value", "compare_fn"}}, nullptr);

int key_init(PyObject* self, PyObject* args, PyObject* kwds) noexcept {
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    const Py_ssize_t nkw = kwds ? PyDict_GET_SIZE(kwds) : 0;
    PyObject* values[2];
    if (nkw == 0) {
        if (parse_arguments(init_params, &PyTuple_GET_ITEM(args, 0), nargs, nullptr, values) < 0)
            return -1;
    } else {
        // The parser takes the vectorcall layout: positional values, then keyword
        // values named by a tuple. The dict and the tuple hold what it borrows.
        std::unique_ptr<PyObject*[], decltype(&PyMem_Free)> stack(
            PyMem_New(PyObject*, nargs + nkw), &PyMem_Free);
        Ref kwnames = Ref::steal(PyTuple_New(nkw));
        if (!stack || !kwnames) {
            if (!stack) PyErr_NoMemory();
            return -1;
        }
        for (Py_ssize_t i = 0; i < nargs; ++i) stack[i] = PyTuple_GET_ITEM(args, i);
        Py_ssize_t pos = 0, k = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwds, &pos, &key, &value)) {
            PyTuple_SET_ITEM(kwnames.get(), k, Py_NewRef(key));
            stack[nargs + k++] = value;
        }
        if (parse_arguments(init_params, stack.get(), nargs, kwnames.get(), values) < 0) return -1;
    }
    set_key_fields(self, values[0], values[1]);
    return 0;
}

int key_traverse(PyObject* self, visitproc visit, void* arg) noexcept {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(as_key(self)->value);
    Py_VISIT(as_key(self)->compare);
    return 0;
}

int key_clear(PyObject* self) noexcept {
    drop_image(as_key(self));
    Py_XSETREF(as_key(self)->value, Py_NewRef(Py_None));
    Py_XSETREF(as_key(self)->compare, Py_NewRef(Py_None));
    return 0;
}

// Runs a __del__ given to the key's class (CyVornKey or a VornKey class, whose
// instances come here directly), once, as for the instances of any class: tracked
// while it runs. True when it resurrected the key, which then lives on.
bool resurrected_by_finalizer(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    // Other subclasses came through the interpreter's subtype dealloc, which ran it.
    if (!type->tp_finalize || type->tp_dealloc != key_type->tp_dealloc) return false;
    PyObject_GC_Track(self);
    if (PyObject_CallFinalizerFromDealloc(self) < 0) return true;
    PyObject_GC_UnTrack(self);
    return false;
}

// Through the interpreter's trashcan, as a key may hold a key as its value: a chain
// of them a million long is freed without a C call per link.
void key_dealloc(PyObject* self) noexcept {
    PyObject_GC_UnTrack(self);
    Py_TRASHCAN_BEGIN(self, key_dealloc)
    if (!resurrected_by_finalizer(self)) {
        PyTypeObject* type = Py_TYPE(self);  // read after __del__, which may assign __class__
        drop_image(as_key(self));
        Py_CLEAR(as_key(self)->value);
        Py_CLEAR(as_key(self)->compare);
        type->tp_free(self);
        Py_DECREF(type);  // instances of heap types own a reference to their type
    }
    Py_TRASHCAN_END
}

// ---- Comparison and hashing -----------------------------------------------------------

// self._compare(self.value, other.value) in the native protocol (comparer_protocol.hpp): our
// own comparers run through their native entry. Python code run by the comparer may
// rebind either key, so the call holds what it uses.
int call_comparer(PyObject* self, PyObject* other, PyObject** object) noexcept {
    Ref compare = Ref::borrow(as_key(self)->compare);
    Ref x = Ref::borrow(as_key(self)->value);
    Ref y = Ref::borrow(as_key(other)->value);
    if (NativeEntry e = native_entry_of(compare.get(), false)) {
        // Our comparers take (x, y, ctx=None); a two-parameter module function is no
        // closure of ours and has no native entry.
        return e(reinterpret_cast<NativeFunction*>(compare.get()), x.get(), y.get(), Py_None, object);
    }
    const int r = comparer_result(call2(compare.get(), x.get(), y.get()), object);
    if (r == kFailed && !PyCallable_Check(compare.get())) [[unlikely]]
        note_error("the key's comparer, an object of type '%.200s', is not callable: "
                   "CyVornKey(value, compare_fn) takes a function of two values",
                   Py_TYPE(compare.get())->tp_name);
    return r;
}

// Says, on the exception set, that the comparer's result `result` failed to compare
// with 0.
[[gnu::cold]] void note_result_of_comparer(PyObject* result) noexcept {
    note_error("the key's comparer returned %s%.200s%s; a comparer returns an int: negative, zero or positive",
               result == Py_None ? "None" : "an object of type '", result == Py_None ? "" : Py_TYPE(result)->tp_name,
               result == Py_None ? "" : "'");
}

// True or False for `holds`, as a new reference (no call, unlike PyBool_FromLong).
PyObject* truth(bool holds) noexcept { return Py_NewRef(holds ? Py_True : Py_False); }

// Whether `op` (Py_LT to Py_GE) holds of a comparison that came out `sign` (its sign
// counts): a bit of the operator's mask, without a branch.
bool order_holds(int op, int sign) noexcept {
    static_assert(Py_LT == 0 && Py_LE == 1 && Py_EQ == 2 && Py_NE == 3 && Py_GT == 4 && Py_GE == 5);
    // Three bits an operator (less, equal, greater), from Py_LT up.
    constexpr uint32_t kHolds = 0b001 | 0b011 << 3 | 0b010 << 6 | 0b101 << 9 | 0b100 << 12 | 0b110 << 15;
    return (kHolds >> (3 * op + (sign > 0) - (sign < 0) + 1)) & 1;
}

// `result == 0` as the equality operators see it: 1 or 0, -1 with an exception set.
// Exact ints and floats are tested natively; anything else by Python's `==`, whose
// result object is handed back through `*eq_object` for `==` to return as it is.
int equals_zero(PyObject* result, Ref* eq_object) noexcept {
    if (PyLong_CheckExact(result)) return compat::int_is_zero(result);
    if (PyFloat_CheckExact(result)) return PyFloat_AS_DOUBLE(result) == 0.0;
    static PyObject* zero = PyLong_FromLong(0);  // the interpreter's cached 0, kept
    if (!zero) return -1;
    *eq_object = Ref::steal(PyObject_RichCompare(result, zero, Py_EQ));
    return *eq_object ? PyObject_IsTrue(eq_object->get()) : -1;
}

// Two keys compared by calling the comparer (what their codes did not decide).
PyObject* richcompare_by_comparer(PyObject* self, PyObject* other, int op) noexcept {
    const bool equality = op == Py_EQ || op == Py_NE;
    PyObject* object = nullptr;
    const int r = call_comparer(self, other, &object);
    if (r == kFailed) return nullptr;
    if (r != kObjectResult) return truth(order_holds(op, r));
    Ref result = Ref::steal(object);
    int32_t sign;
    if (exact_int32(result.get(), &sign)) return truth(order_holds(op, sign));
    if (equality) {
        Ref eq_object;
        int eq = equals_zero(result.get(), &eq_object);
        if (eq < 0) [[unlikely]] {
            note_result_of_comparer(result.get());
            return nullptr;
        }
        if (op == Py_EQ && eq_object) return eq_object.release();
        return truth(op == Py_EQ ? eq : !eq);
    }
    if (PyLong_CheckExact(result.get())) return truth(order_holds(op, compat::int_sign(result.get())));
    static PyObject* zero = PyLong_FromLong(0);
    if (!zero) return nullptr;
    PyObject* holds = PyObject_RichCompare(result.get(), zero, op);
    if (!holds) [[unlikely]] note_result_of_comparer(result.get());
    return holds;
}

// Two keys of kImageCode, or two of kListCode, compared by walking their images or
// their lists, else by the comparer. Out of line, with the walk inlined in it, so that
// the rich comparison itself saves no registers for it.
[[gnu::noinline]] PyObject* richcompare_by_walk(PyObject* self, PyObject* other, int op) noexcept {
    int sign;
    const int decided = as_key(self)->code.kind == kImageCode
                            ? image::compare_images(as_key(self), as_key(other), &sign)
                            : image::compare_lists(as_key(self), as_key(other), &sign);
    if (decided < 0) return nullptr;
    if (decided) return truth(order_holds(op, sign));
    return richcompare_by_comparer(self, other, op);
}

// Two keys of kImageCode compared by the plain steps of their images (the common
// case, in a function small enough to keep its pointers in registers), else by the
// whole walk.
[[gnu::noinline]] PyObject* richcompare_by_plain_steps(PyObject* self, PyObject* other, int op) noexcept {
    int sign;
    if (image::compare_plain_images(as_key(self), as_key(other), &sign)) return truth(order_holds(op, sign));
    return richcompare_by_walk(self, other, op);
}

// Two keys of kFlatTreeCode, or two of kFlatCode whose strs the common walk left,
// compared by the whole walk, else by the comparer.
[[gnu::noinline]] PyObject* richcompare_by_flat_walk(PyObject* self, PyObject* other, int op) noexcept {
    int sign;
    if (image::compare_flat<true>(as_key(self), as_key(other), &sign)) return truth(order_holds(op, sign));
    return richcompare_by_comparer(self, other, op);
}

// Two keys of kFlatCode compared by their fields' codes; by the whole walk where two
// codes are equal and their strs two objects.
[[gnu::noinline]] PyObject* richcompare_by_flat(PyObject* self, PyObject* other, int op) noexcept {
    int sign;
    const int decided = image::compare_flat<false>(as_key(self), as_key(other), &sign);
    if (decided == 1) return truth(order_holds(op, sign));
    if (decided == 2) return richcompare_by_flat_walk(self, other, op);
    return richcompare_by_comparer(self, other, op);
}

// Two keys of kSetCode compared by their sorted values, else by the comparer.
[[gnu::noinline]] PyObject* richcompare_by_sets(PyObject* self, PyObject* other, int op) noexcept {
    int sign;
    if (image::compare_sets(as_key(self), as_key(other), &sign)) return truth(order_holds(op, sign));
    return richcompare_by_comparer(self, other, op);
}

// Two keys of one kind other than kFlatCode, kImageCode, kListCode and kNoCode compared
// by their codes where those decide, else by the comparer.
[[gnu::noinline]] PyObject* richcompare_by_other_codes(PyObject* self, PyObject* other, int op) noexcept {
    const KeyCode& a = as_key(self)->code;
    const KeyCode& b = as_key(other)->code;
    if (a.kind == kFlatTreeCode) return richcompare_by_flat_walk(self, other, op);
    if (a.kind == kSetCode) return richcompare_by_sets(self, other, op);
    int sign;
    if (compare_codes(a, b, &sign)) return truth(order_holds(op, sign));
    return richcompare_by_comparer(self, other, op);
}

// Two keys compared by their codes where those decide, else by the comparer. Every
// call in it is a tail call, so that the common path saves no registers; the commonest
// kinds are tested here, the rest apart (in one chain, the compiler would make them a
// table of jumps, costlier for the commonest).
[[gnu::always_inline]] inline PyObject* richcompare_keys(PyObject* self, PyObject* other, int op) noexcept {
    const KeyCode& a = as_key(self)->code;
    const KeyCode& b = as_key(other)->code;
    if (a.kind != b.kind) return richcompare_by_comparer(self, other, op);
    if (a.kind == kFlatCode) return richcompare_by_flat(self, other, op);
    if (a.kind == kImageCode) return richcompare_by_plain_steps(self, other, op);
    if (a.kind == kListCode) return richcompare_by_walk(self, other, op);
    if (a.kind == kNoCode) return richcompare_by_comparer(self, other, op);
    return richcompare_by_other_codes(self, other, op);
}

// A key against an object of another type: a key of another class, or a non-key,
// which equals no key and is not ordered against one.
[[gnu::noinline]] PyObject* richcompare_other_type(PyObject* self, PyObject* other, int op) noexcept {
    if (is_key(other)) return richcompare_keys(self, other, op);
    if (op == Py_EQ || op == Py_NE) Py_RETURN_NOTIMPLEMENTED;
    raise_argument_type("other", kKeyTypeName, other);
    return nullptr;
}

}  // namespace

PyObject* key_richcompare(PyObject* self, PyObject* other, int op) noexcept {
    if (!Py_IS_TYPE(other, Py_TYPE(self))) [[unlikely]]
        return richcompare_other_type(self, other, op);
    return richcompare_keys(self, other, op);
}

namespace {

// "<qualified class name>(<repr of the value>)". A key met again while its own repr is
// being made (a value that holds the key) shows as "<name>(...)" instead of looping.
PyObject* key_repr(PyObject* self) noexcept {
    Ref name = Ref::steal(PyType_GetQualName(Py_TYPE(self)));
    if (!name) return nullptr;
    const int busy = Py_ReprEnter(self);
    if (busy != 0) return busy > 0 ? PyUnicode_FromFormat("%U(...)", name.get()) : nullptr;
    Ref value = Ref::borrow(as_key(self)->value);  // the repr may rebind the key's fields
    PyObject* text = PyUnicode_FromFormat("%U(%R)", name.get(), value.get());
    Py_ReprLeave(self);
    return text;
}

Py_hash_t key_hash(PyObject* self) noexcept {
    Ref value = Ref::borrow(as_key(self)->value);
    return PyObject_Hash(value.get());
}

// ---- Pickling ---------------------------------------------------------------------------

PyObject* key_reduce(PyObject* self, PyObject*) noexcept {
    KeyObject* k = as_key(self);
    Ref state = Ref::steal(PyTuple_Pack(2, k->compare, k->value));
    if (!state) return nullptr;
    Ref dict = Ref::steal(PyObject_GetAttr(self, str<"__dict__">()));
    if (!dict) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return nullptr;
        PyErr_Clear();
    }
    bool separate_state;
    int has_dict = dict ? PyObject_IsTrue(dict.get()) : 0;
    if (has_dict < 0) return nullptr;
    if (has_dict) {
        Ref extra = Ref::steal(PyTuple_Pack(1, dict.get()));
        if (!extra) return nullptr;
        state = Ref::steal(PySequence_Concat(state.get(), extra.get()));
        if (!state) return nullptr;
        separate_state = true;
    } else {
        separate_state = k->compare != Py_None || k->value != Py_None;
    }
    Ref unpickle = Ref::steal(look_up(Rebindable::UnpickleKey));
    if (!unpickle) return nullptr;
    Ref checksum = Ref::steal(PyLong_FromLong(kLayoutChecksum));
    if (!checksum) return nullptr;
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(self));
    if (separate_state) {
        Ref args = Ref::steal(PyTuple_Pack(3, type, checksum.get(), Py_None));
        if (!args) return nullptr;
        return PyTuple_Pack(3, unpickle.get(), args.get(), state.get());
    }
    Ref args = Ref::steal(PyTuple_Pack(3, type, checksum.get(), state.get()));
    if (!args) return nullptr;
    return PyTuple_Pack(2, unpickle.get(), args.get());
}

const FunctionSpec setstate_arguments = function_spec(
    "__setstate__", "CyVornKey.__setstate__", kModuleName, Params{1, 1, {"__pyx_state"}}, nullptr);

PyObject* key_setstate(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    PyObject* state;
    if (parse_arguments(setstate_arguments, args, nargs, kwnames, &state) < 0) return nullptr;
    if (state == Py_None) {
        PyErr_SetString(PyExc_TypeError,
                        "cannot pass None into a C function argument that is declared 'not None'");
        return nullptr;
    }
    if (!PyTuple_CheckExact(state)) {
        PyErr_Format(PyExc_TypeError, "Expected %s, got %.200s", "tuple", Py_TYPE(state)->tp_name);
        return nullptr;
    }
    if (restore_key_state(self, state) < 0) return nullptr;
    Py_RETURN_NONE;
}

// Makes sure pickle and copy reach __reduce__ and __setstate__ of the class itself:
// the class defines both and inherits object's __reduce_ex__, which defers to them.
int prepare_pickling(PyTypeObject* type) noexcept {
    PyObject* dict = type->tp_dict;
    int ok = PyDict_GetItemWithError(dict, str<"__reduce__">()) &&
             PyDict_GetItemWithError(dict, str<"__setstate__">());
    if (ok) {
        Ref ours = Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(type), str<"__reduce_ex__">()));
        Ref base = Ref::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(&PyBaseObject_Type),
                                               str<"__reduce_ex__">()));
        ok = ours && base && ours.get() == base.get();
    }
    if (ok) return 0;
    if (!PyErr_Occurred())
        PyErr_Format(PyExc_RuntimeError, "Unable to initialize pickling for %.200s", type->tp_name);
    return -1;
}

PyMemberDef key_members[] = {
    {"value", T_OBJECT, offsetof(KeyObject, value), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyMethodDef key_methods[] = {
    {"__reduce__", key_reduce, METH_NOARGS, nullptr},
    {"__setstate__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(key_setstate)),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot key_slots[] = {
    {Py_tp_doc, const_cast<char*>(kKeyDoc)},
    {Py_tp_new, reinterpret_cast<void*>(key_new)},
    {Py_tp_init, reinterpret_cast<void*>(key_init)},
    {Py_tp_traverse, reinterpret_cast<void*>(key_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(key_clear)},
    {Py_tp_dealloc, reinterpret_cast<void*>(key_dealloc)},
    {Py_tp_richcompare, reinterpret_cast<void*>(key_richcompare)},
    {Py_tp_hash, reinterpret_cast<void*>(key_hash)},
    {Py_tp_repr, reinterpret_cast<void*>(key_repr)},
    {Py_tp_members, key_members},
    {Py_tp_methods, key_methods},
    {0, nullptr},
};

PyType_Spec key_type_spec{kKeyTypeName, sizeof(KeyObject), 0,
                          Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC, key_slots};

}  // namespace

void set_key_fields(PyObject* key, PyObject* value, PyObject* compare) noexcept {
    KeyObject* k = as_key(key);
    // The old references are released (which can run arbitrary code) only once the
    // key is consistent again.
    Ref old_value = Ref::steal(k->value);
    Ref old_compare = Ref::steal(k->compare);
    k->value = Py_NewRef(value);
    k->compare = Py_NewRef(compare);
    update_code(k);
}

int restore_key_state(PyObject* key, PyObject* state) noexcept {
    const Py_ssize_t n = PyTuple_GET_SIZE(state);
    for (Py_ssize_t i = 0; i < 2; ++i) {
        if (i >= n) {
            PyErr_SetString(PyExc_IndexError, "tuple index out of range");
            return -1;
        }
        PyObject*& field = i == 0 ? as_key(key)->compare : as_key(key)->value;
        Ref old = Ref::steal(field);
        field = Py_NewRef(PyTuple_GET_ITEM(state, i));
        update_code(as_key(key));
    }
    if (n <= 2) return 0;
    PyObject* extra = PyTuple_GET_ITEM(state, 2);
    int truth = PyObject_IsTrue(extra);
    if (truth <= 0) return truth;
    Ref dict = Ref::steal(PyObject_GetAttr(key, str<"__dict__">()));
    if (!dict) return -1;
    Ref r = Ref::steal(PyObject_CallMethodOneArg(dict.get(), str<"update">(), extra));
    return r ? 0 : -1;
}

// The type keys with room are allocated as: a key's fields followed by bytes, so
// that the interpreter's allocator for collected objects sizes the block. The key
// gets its class before anything can see it, and is freed as any key (tp_free
// frees a block of any size).
namespace {

PyTypeObject KeyRoomType{};

int key_room_traverse(PyObject*, visitproc, void*) { return 0; }

}  // namespace

PyObject* alloc_key_with_room(PyTypeObject* type, size_t room) noexcept {
    if (ready_static_type(KeyRoomType, [](PyTypeObject& t) {
            t.tp_name = "vorn.utils._sortkit.KeyRoom";
            t.tp_basicsize = sizeof(KeyObject);
            t.tp_itemsize = 1;
            t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC;
            t.tp_traverse = key_room_traverse;
        }) < 0)
        return nullptr;
    PyVarObject* block = PyObject_GC_NewVar(PyVarObject, &KeyRoomType, static_cast<Py_ssize_t>(room));
    if (!block) return nullptr;
    PyObject* key = reinterpret_cast<PyObject*>(block);
    compat::set_type(key, type);
    Py_INCREF(type);  // as for any instance of a heap type
    return key;
}

int make_key_type(PyObject* module) noexcept {
    Ref type = Ref::steal(PyType_FromSpec(&key_type_spec));
    if (!type) return -1;
    key_type = reinterpret_cast<PyTypeObject*>(type.new_ref());  // kept for the process
    if (PyObject_SetAttrString(module, "CyVornKey", type.get()) < 0) return -1;
    return prepare_pickling(key_type);
}

}  // namespace vorn::sortkit
