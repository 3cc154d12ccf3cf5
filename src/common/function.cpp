// The native function-object type: vectorcall entry, attributes, method binding,
// garbage collection, repr, signature text and pickling by qualified name.
#include "common/function.hpp"

#include "common/args.hpp"
#include "common/static_type.hpp"

#include <structmember.h>

#include <cassert>
#include <string>

namespace vorn {
namespace {

PyObject* function_vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf,
                              PyObject* kwnames) noexcept {
    auto* self = reinterpret_cast<NativeFunction*>(callable);
    const FunctionSpec& spec = *self->spec;
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    PyObject* values[kMaxParams];
    if (!kwnames && nargs == spec.nparams) return spec.impl(self, args);
    if (parse_arguments(spec, args, nargs, kwnames, values) < 0) return nullptr;
    return spec.impl(self, values);
}

int function_traverse(PyObject* o, visitproc visit, void* arg) {
    auto* self = reinterpret_cast<NativeFunction*>(o);
    Py_VISIT(self->dict);
    for (PyObject* s : self->state) Py_VISIT(s);
    Py_VISIT(self->name);
    Py_VISIT(self->qualname);
    Py_VISIT(self->module);
    Py_VISIT(self->doc);
    return 0;
}

int function_clear(PyObject* o) {
    auto* self = reinterpret_cast<NativeFunction*>(o);
    Py_CLEAR(self->dict);
    for (PyObject*& s : self->state) Py_CLEAR(s);
    Py_CLEAR(self->module);
    Py_CLEAR(self->doc);
    return 0;
}

void function_dealloc(PyObject* o) {
    auto* self = reinterpret_cast<NativeFunction*>(o);
    PyObject_GC_UnTrack(o);
    Py_TRASHCAN_BEGIN(o, function_dealloc)
    function_clear(o);
    Py_CLEAR(self->name);
    Py_CLEAR(self->qualname);
    PyObject_GC_Del(o);
    Py_TRASHCAN_END
}

PyObject* function_repr(PyObject* o) {
    auto* self = reinterpret_cast<NativeFunction*>(o);
    return PyUnicode_FromFormat("<function %U at %p>", self->qualname, o);
}

// Bound as a method like any Python function.
PyObject* function_descr_get(PyObject* func, PyObject* obj, PyObject*) {
    if (obj == nullptr || obj == Py_None) return Py_NewRef(func);
    return PyMethod_New(func, obj);
}

PyObject* get_defaults(PyObject* o, void*) {
    auto* self = reinterpret_cast<NativeFunction*>(o);
    int optional = self->spec->nparams - self->spec->nrequired;
    if (optional <= 0) Py_RETURN_NONE;
    // One shared (None,) tuple for the common case, as all defaults are None.
    static PyObject* single = nullptr;
    if (optional == 1) {
        if (!single && !(single = PyTuple_Pack(1, Py_None))) return nullptr;
        return Py_NewRef(single);
    }
    PyObject* t = PyTuple_New(optional);
    if (!t) return nullptr;
    for (int i = 0; i < optional; ++i) PyTuple_SET_ITEM(t, i, Py_NewRef(Py_None));
    return t;
}

PyObject* get_text_signature(PyObject* o, void*) {
    auto* self = reinterpret_cast<NativeFunction*>(o);
    const FunctionSpec& spec = *self->spec;
    std::string text = "(";
    for (int i = 0; i < spec.nparams; ++i) {
        if (i) text += ", ";
        text += spec.params[i];
        if (i >= spec.nrequired) text += "=None";
    }
    text += ")";
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

int set_str_attr(PyObject** slot, PyObject* value, const char* what) {
    if (!value || !PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s must be set to a string object", what);
        return -1;
    }
    Py_XSETREF(*slot, Py_NewRef(value));
    return 0;
}

PyObject* get_name(PyObject* o, void*) { return Py_NewRef(reinterpret_cast<NativeFunction*>(o)->name); }
int set_name(PyObject* o, PyObject* v, void*) {
    return set_str_attr(&reinterpret_cast<NativeFunction*>(o)->name, v, "__name__");
}
PyObject* get_qualname(PyObject* o, void*) {
    return Py_NewRef(reinterpret_cast<NativeFunction*>(o)->qualname);
}
int set_qualname(PyObject* o, PyObject* v, void*) {
    return set_str_attr(&reinterpret_cast<NativeFunction*>(o)->qualname, v, "__qualname__");
}

PyObject* get_none(PyObject*, void*) { Py_RETURN_NONE; }

// Pickles by reference to the qualified name, as Python functions do: pickle finds
// module-level functions by name and refuses closures ("<locals>"); copy and
// deepcopy return the function itself.
PyObject* function_reduce(PyObject* o, PyObject*) {
    return Py_NewRef(reinterpret_cast<NativeFunction*>(o)->qualname);
}

PyMethodDef function_methods[] = {
    {"__reduce__", function_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyMemberDef function_members[] = {
    {"__module__", T_OBJECT, offsetof(NativeFunction, module), 0, nullptr},
    {"__doc__", T_OBJECT, offsetof(NativeFunction, doc), 0, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef function_getset[] = {
    {"__name__", get_name, set_name, nullptr, nullptr},
    {"__qualname__", get_qualname, set_qualname, nullptr, nullptr},
    {"__defaults__", get_defaults, nullptr, nullptr, nullptr},
    {"__kwdefaults__", get_none, nullptr, nullptr, nullptr},
    {"__text_signature__", get_text_signature, nullptr, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

PyTypeObject NativeFunctionType{};

int ready_function_type() noexcept {
    return ready_static_type(NativeFunctionType, [](PyTypeObject& t) {
        t.tp_name = "vorn_function";
        t.tp_basicsize = sizeof(NativeFunction);
        t.tp_dealloc = function_dealloc;
        t.tp_vectorcall_offset = offsetof(NativeFunction, vectorcall);
        t.tp_repr = function_repr;
        t.tp_call = PyVectorcall_Call;
        t.tp_getattro = PyObject_GenericGetAttr;
        t.tp_setattro = PyObject_GenericSetAttr;
        t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL |
                     Py_TPFLAGS_METHOD_DESCRIPTOR;
        t.tp_doc = "A function of the Vorn native modules.";
        t.tp_traverse = function_traverse;
        t.tp_clear = function_clear;
        t.tp_methods = function_methods;
        t.tp_members = function_members;
        t.tp_getset = function_getset;
        t.tp_descr_get = function_descr_get;
        t.tp_dictoffset = offsetof(NativeFunction, dict);
    });
}

Ref make_function(const FunctionSpec& spec, std::initializer_list<PyObject*> state) noexcept {
    Ref name = intern(spec.name);
    Ref qualname = intern(spec.qualname);
    Ref module = intern(spec.module);
    if (!name || !qualname || !module) return nullptr;
    Ref doc;
    if (spec.doc) {
        doc = Ref::steal(PyUnicode_FromString(spec.doc));
        if (!doc) return nullptr;
    } else {
        doc = Ref::borrow(Py_None);
    }
    auto* f = PyObject_GC_New(NativeFunction, &NativeFunctionType);
    if (!f) return nullptr;
    f->vectorcall = function_vectorcall;
    f->spec = &spec;
    f->name = name.release();
    f->qualname = qualname.release();
    f->module = module.release();
    f->doc = doc.release();
    f->dict = nullptr;
    static uint64_t made = 0;  // counted under the interpreter lock
    f->serial = ++made;
    int i = 0;
    assert(state.size() <= kMaxState);
    for (PyObject* s : state) f->state[i++] = Py_XNewRef(s);
    for (; i < kMaxState; ++i) f->state[i] = nullptr;
    PyObject_GC_Track(f);
    return Ref::steal(reinterpret_cast<PyObject*>(f));
}

}  // namespace vorn
