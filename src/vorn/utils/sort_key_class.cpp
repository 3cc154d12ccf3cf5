// cy_make_vorn_key: makes the per-type key class VornKey(CyVornKey) as a class
// statement inside the function would, its __init__ closing over the type's comparer.
#include "common/compat.hpp"
#include "common/type_memo.hpp"
#include "vorn/utils/builder_docs.hpp"
#include "vorn/utils/sort_key.hpp"

namespace vorn::sortkit {
namespace {

// VornKey.__init__(self, value): CyVornKey.__init__(self, value, compare), with
// `compare` (state 0) fixed when the class was made.
PyObject* vorn_key_init(NativeFunction* fn, PyObject* const* args) noexcept {
    PyObject* self = args[0];
    if (!is_key(self)) {
        PyErr_Format(PyExc_TypeError, "descriptor '__init__' requires a '%s' object but received a '%.100s'",
                     kKeyTypeName, Py_TYPE(self)->tp_name);
        return nullptr;
    }
    PyObject* compare = bound_comparer(fn);
    if (!compare) return nullptr;
    set_key_fields(self, args[1], compare);
    Py_RETURN_NONE;
}

const FunctionSpec vorn_key_init_spec = function_spec(
    "__init__", "cy_make_vorn_key.<locals>.VornKey.__init__", kModuleName, Params{2, 2, {"self", "value"}},
    vorn_key_init);

// The __init__ that `cls` finds, when it is a VornKey.__init__ of ours; borrowed, or
// null. Remembered for the last class asked (every key made asks, and Set comparers at
// every comparison): the class's dict holds it while the class's tag is unchanged.
NativeFunction* our_init(PyTypeObject* cls) noexcept {
    static TypeMemo last_class;
    static NativeFunction* last_init = nullptr;
    if (last_class.holds(cls)) return last_init;
    PyObject* init = compat::type_lookup(cls, str<"__init__">());  // borrowed, cached
    if (!init || !is_native_function(init) || reinterpret_cast<NativeFunction*>(init)->spec != &vorn_key_init_spec)
        return nullptr;
    last_class.remember(cls);
    last_init = reinterpret_cast<NativeFunction*>(init);
    return last_init;
}

// type.__call__(cls, *args, **kwnames) from a vectorcall. New reference, or null.
PyObject* call_type(PyObject* cls, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    Ref positional = Ref::steal(PyTuple_New(nargs));
    if (!positional) return nullptr;
    for (Py_ssize_t i = 0; i < nargs; ++i) PyTuple_SET_ITEM(positional.get(), i, Py_NewRef(args[i]));
    Ref keywords;
    if (kwnames && PyTuple_GET_SIZE(kwnames)) {
        keywords = Ref::steal(PyDict_New());
        if (!keywords) return nullptr;
        for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(kwnames); ++k) {
            if (PyDict_SetItem(keywords.get(), PyTuple_GET_ITEM(kwnames, k), args[nargs + k]) < 0)
                return nullptr;
        }
    }
    return Py_TYPE(cls)->tp_call(cls, positional.get(), keywords.get());
}

// The key `self`, allocated for VornKey(value) while the class's __init__ was
// `init`, finished as type.__call__ would finish it: already, when the class still
// has that __init__; otherwise (a finaliser run by the allocation gave it another)
// as CyVornKey.__new__ leaves a key, then by the __init__ the class has now.
PyObject* finish_key(PyTypeObject* type, Ref self, NativeFunction* init, PyObject* value) noexcept {
    if (our_init(type) == init) return self.release();
    set_key_fields(self.get(), Py_None, Py_None);
    Ref args = Ref::steal(PyTuple_Pack(1, value));
    if (!args || Py_TYPE(self.get())->tp_init(self.get(), args.get(), nullptr) < 0) return nullptr;
    return self.release();
}

// VornKey(value): what type.__call__ does (CyVornKey's __new__, then the closure
// __init__), without the generic protocol, since sorting makes one key per element.
// Any other call, or a class whose __new__ or __init__ was since replaced (a
// __new__ given to CyVornKey included), takes the generic path.
PyObject* vorn_key_vectorcall(PyObject* cls, PyObject* const* args, size_t nargsf,
                              PyObject* kwnames) noexcept {
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    auto* type = reinterpret_cast<PyTypeObject*>(cls);
    if (nargs == 1 && !kwnames && Py_IS_TYPE(cls, &PyType_Type) && type->tp_new == key_new) {
        if (NativeFunction* init = our_init(type)) {
            // Allocating the key may run the collector, whose finalisers may replace
            // the class's __init__ and so free it and its comparer: both are held.
            Ref held_init = Ref::borrow(reinterpret_cast<PyObject*>(init));
            Ref compare = Ref::borrow(bound_comparer(init));
            if (!compare) return nullptr;
            bool served;
            Ref self = Ref::steal(new_key_with_image(type, args[0], compare.get(), &served));
            if (!served) {
                self = Ref::steal(type->tp_alloc(type, 0));
                if (self) set_key_fields(self.get(), args[0], compare.get());
            }
            if (!self) return nullptr;
            return finish_key(type, std::move(self), init, args[0]);
        }
    }
    return call_type(cls, args, nargs, kwnames);
}

int put(PyObject* ns, const char* name, PyObject* value) noexcept {
    Ref key = intern(name);
    if (!key || !value) return -1;
    return PyObject_SetItem(ns, key.get(), value);
}

PyObject* make_vorn_key_impl(NativeFunction*, PyObject* const* args) noexcept {
    Ref compare = Ref::steal(call_rebindable(Rebindable::CompareFor, args, 1));
    if (!compare) return nullptr;

    Ref name = intern("VornKey");
    Ref bases = Ref::steal(PyTuple_Pack(1, reinterpret_cast<PyObject*>(key_type)));
    if (!name || !bases) return nullptr;
    // The one base is a class, so the bases stand as written (no __mro_entries__), and
    // the metaclass is the base's own.
    PyTypeObject* winner = Py_TYPE(key_type);
    PyObject* meta = reinterpret_cast<PyObject*>(winner);

    Ref prepare = Ref::steal(PyObject_GetAttr(meta, str<"__prepare__">()));
    if (!prepare) return nullptr;
    PyObject* prepare_args[2] = {name.get(), bases.get()};
    Ref ns = Ref::steal(PyObject_Vectorcall(prepare.get(), prepare_args, 2, nullptr));
    if (!ns) return nullptr;
    if (!PyMapping_Check(ns.get())) {
        PyErr_Format(PyExc_TypeError, "%.200s.__prepare__() must return a mapping, not %.200s",
                     winner->tp_name, Py_TYPE(ns.get())->tp_name);
        return nullptr;
    }
    Ref module = intern(kModuleName);
    Ref qualname = intern("cy_make_vorn_key.<locals>.VornKey");
    Ref doc = Ref::steal(PyUnicode_FromString("Type-specific key wrapper."));
    Ref slots = Ref::steal(PyTuple_New(0));
    Ref init = make_function(vorn_key_init_spec, {compare.get()});
    if (put(ns.get(), "__module__", module.get()) < 0 ||
        put(ns.get(), "__qualname__", qualname.get()) < 0 ||
        put(ns.get(), "__doc__", doc.get()) < 0 || put(ns.get(), "__slots__", slots.get()) < 0 ||
        put(ns.get(), "__init__", init.get()) < 0)
        return nullptr;
    PyObject* class_args[3] = {name.get(), bases.get(), ns.get()};
    Ref cls = Ref::steal(PyObject_Vectorcall(meta, class_args, 3, nullptr));
    if (!cls) return nullptr;
    // Classes made by `type` are called through type.__call__ unless they carry a
    // vectorcall entry of their own; subclasses do not inherit it. Their instances
    // are freed by the interpreter's dealloc for subclasses, which for this class
    // (no __dict__, no weak references, no slots of its own) would only pass them on
    // to CyVornKey's; they go there directly, which also runs a __del__ given later.
    if (Py_IS_TYPE(cls.get(), &PyType_Type) && PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(cls.get()), key_type)) {
        auto* made = reinterpret_cast<PyTypeObject*>(cls.get());
        compat::set_type_vectorcall(made, vorn_key_vectorcall);
        if (made->tp_weaklistoffset == 0 && made->tp_dictoffset == 0 && made->tp_basicsize == key_type->tp_basicsize)
            compat::set_type_dealloc(made, key_type->tp_dealloc);
    }
    return cls.release();
}

}  // namespace

PyObject* key_class_comparer(PyTypeObject* cls) noexcept {
    // A __del__ given to the class or to CyVornKey runs as each key is dropped.
    if (compat::type_vectorcall(cls) != vorn_key_vectorcall || cls->tp_new != key_new ||
        cls->tp_richcompare != key_richcompare || cls->tp_finalize)
        return nullptr;
    NativeFunction* init = our_init(cls);
    return init ? init->state[slot::kBoundComparer] : nullptr;
}

const FunctionSpec cy_make_vorn_key_spec = function_spec(
    "cy_make_vorn_key", "cy_make_vorn_key", kModuleName, Params{1, 1, {"type_val"}}, make_vorn_key_impl, 0,
    kMakeVornKeyDoc);

}  // namespace vorn::sortkit
