// Notes that say where inside a composite value an operation failed. The exception
// itself (type, message, traceback) is left as it was; on its way out, each composite
// level names the part of its values that failed, and the note reads from the part
// that failed outwards: "while comparing field 'age' of element 3".
#pragma once

#include "common/ref.hpp"

namespace vorn {

// What the failing operation was doing: the verb the note starts with.
enum class Doing : unsigned char { Comparing, TestingEquality, TestingIdentity, Printing };

// One part of a composite value, as a note names it.
struct Part {
    enum class Kind : unsigned char { Field, Element, Case, EntryKey, EntryValue, Referent };
    Kind kind;
    PyObject* name = nullptr;  // Field, Case: borrowed; the name as the type gives it
    Py_ssize_t index = 0;      // Element, EntryKey, EntryValue: zero-based position

    static Part field(PyObject* n) noexcept { return {Kind::Field, n, 0}; }
    static Part element(Py_ssize_t i) noexcept { return {Kind::Element, nullptr, i}; }
    static Part case_named(PyObject* n) noexcept { return {Kind::Case, n, 0}; }
    static Part entry_key(Py_ssize_t i) noexcept { return {Kind::EntryKey, nullptr, i}; }
    static Part entry_value(Py_ssize_t i) noexcept { return {Kind::EntryValue, nullptr, i}; }
    static Part referent() noexcept { return {Kind::Referent, nullptr, 0}; }
};

// Called with an exception set, on the failure path of a composite level whose part
// `part` failed (reading it, or the operation on it). The exception gains the note
// "while <doing> <part>", or, when its last note is the one that an inner level on this
// thread made, that note grows by " of <part>". Only exceptions derived from Exception
// gain notes; the exception set stays the same object, whatever happens here.
[[gnu::cold]] void note_failed_part(Doing doing, const Part& part) noexcept;

}  // namespace vorn
