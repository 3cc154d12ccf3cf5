// Notes that say where inside a composite value an operation failed. The exception
// itself (type, message, traceback) is left as it was; on its way out, each composite
// level names the part of its values that failed, and the note reads from the part
// that failed outwards: "while comparing field 'age' of element 3".
#pragma once

#include "common/ref.hpp"

namespace vorn {

// What the failing operation was doing: the verb the note starts with.
enum class Doing : unsigned char { Comparing, TestingEquality, TestingIdentity };

// Called with an exception set, on the failure path of a composite level one of whose
// parts failed (reading it, or the operation on it); `part_format` and the arguments
// name that part as PyUnicode_FromFormat would (for example "field %R"), and are
// formatted with the exception put aside, so %R may be used on objects whose repr runs
// no code of the caller's. The exception gains the note "while <doing> <part>", or,
// when its last note is the one that an inner level made, that note grows by
// " of <part>". Only exceptions derived from Exception gain notes; the exception set
// stays the same object, whatever happens here.
[[gnu::cold]] void note_failed_part(Doing doing, const char* part_format, ...) noexcept;

// Called with an exception set: it gains the note that `format` and the arguments make
// (as PyUnicode_FromFormat would, with the exception put aside), if it derives from
// Exception. The exception set stays the same object, whatever happens here.
[[gnu::cold]] void note_error(const char* format, ...) noexcept;

}  // namespace vorn
