#include "common/error_notes.hpp"

#include "common/strings.hpp"

#include <cstdarg>

namespace vorn {
namespace {

// The note that the levels of the failing call are growing, how many parts it names,
// and, past kPartsNamed, the length of its head and the levels left out. Guarded by the
// interpreter lock. The note is held (never released at exit, when the interpreter may
// be gone), so that its address cannot be taken by another object: an exception whose
// last note is this object got it from an inner level of ours. Should another thread
// note a failure between two levels, the outer level starts a note of its own.
PyObject* growing_note = nullptr;
int parts_named = 0;
Py_ssize_t head_length = 0;
Py_ssize_t parts_left_out = 0;

void hold_growing(PyObject* note) noexcept {
    Py_INCREF(note);
    Py_XSETREF(growing_note, note);
}

// A failure deep in a recursive value passes many levels: the note names the innermost
// parts and the outermost one, and counts those in between.
constexpr int kPartsNamed = 12;

const char* verb(Doing doing) noexcept {
    switch (doing) {
        case Doing::Comparing: return "comparing";
        case Doing::TestingEquality: return "testing equality of";
        case Doing::TestingIdentity: return "testing identity of";
    }
    return "reading";
}

// The grown note: `note` of `part`, or, past kPartsNamed, the head, the count of the
// parts left out and `part`.
Ref grown(PyObject* note, PyObject* part) noexcept {
    if (parts_named < kPartsNamed) {
        if (++parts_named == kPartsNamed) head_length = PyUnicode_GET_LENGTH(note) + 4 + PyUnicode_GET_LENGTH(part);
        return Ref::steal(PyUnicode_FromFormat("%U of %U", note, part));
    }
    Ref head = Ref::steal(PyUnicode_Substring(note, 0, head_length));
    if (!head) return head;
    ++parts_left_out;
    if (parts_left_out == 1) return Ref::steal(PyUnicode_FromFormat("%U of %U", head.get(), part));
    return Ref::steal(PyUnicode_FromFormat("%U of %s (%zd more) of %U", head.get(), "\u2026", parts_left_out - 1, part));
}

// Adds the note or grows the last one. 0, or -1 with an exception set.
int note_on(PyObject* exc, Doing doing, const char* part_format, va_list args) {
    Ref text = Ref::steal(PyUnicode_FromFormatV(part_format, args));
    if (!text) return -1;
    Ref notes = Ref::steal(PyObject_GetAttr(exc, str<"__notes__">()));
    if (!notes) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
    }
    Py_ssize_t n = notes && PyList_CheckExact(notes.get()) ? PyList_GET_SIZE(notes.get()) : 0;
    if (n && growing_note && PyList_GET_ITEM(notes.get(), n - 1) == growing_note) {
        Ref note = grown(growing_note, text.get());
        if (!note) return -1;
        hold_growing(note.get());
        PyList_SetItem(notes.get(), n - 1, note.release());
        return 0;
    }
    Ref note = Ref::steal(PyUnicode_FromFormat("while %s %U", verb(doing), text.get()));
    if (!note) return -1;
    Ref added = Ref::steal(PyObject_CallMethodOneArg(exc, str<"add_note">(), note.get()));
    if (!added) return -1;
    hold_growing(note.get());
    parts_named = 1;
    parts_left_out = 0;
    return 0;
}

}  // namespace

namespace {

// Runs add(exc) on the exception set, put aside meanwhile, when it derives from
// Exception; a failure of add() is dropped and the exception set again as it was.
template <class Add>
void on_raised(Add add) noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    PyObject* exc = PyErr_GetRaisedException();
    if (exc && PyErr_GivenExceptionMatches(exc, PyExc_Exception) && add(exc) < 0) PyErr_Clear();
    if (exc) PyErr_SetRaisedException(exc);
#else
    PyObject *type, *exc, *tb;
    PyErr_Fetch(&type, &exc, &tb);
    if (!type) return;
    PyErr_NormalizeException(&type, &exc, &tb);
    if (tb && exc) PyException_SetTraceback(exc, tb);
    if (exc && PyErr_GivenExceptionMatches(type, PyExc_Exception) && add(exc) < 0) PyErr_Clear();
    PyErr_Restore(type, exc, tb);
#endif
}

}  // namespace

void note_failed_part(Doing doing, const char* part_format, ...) noexcept {
    va_list args;
    va_start(args, part_format);
    on_raised([&](PyObject* exc) { return note_on(exc, doing, part_format, args); });
    va_end(args);
}

void note_error(const char* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    on_raised([&](PyObject* exc) {
        Ref note = Ref::steal(PyUnicode_FromFormatV(format, args));
        Ref added = note ? Ref::steal(PyObject_CallMethodOneArg(exc, str<"add_note">(), note.get())) : Ref();
        return added ? 0 : -1;
    });
    va_end(args);
}

}  // namespace vorn
