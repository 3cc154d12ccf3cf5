// The kinds of type, the dispatch on them through the module's predicates, and the
// build error of a kind that no predicate recognises.
#pragma once

#include "common/ref.hpp"
#include "vorn/utils/module_state.hpp"

namespace vorn::sortkit {

// The kinds of type, in the order the builders test their predicates.
enum class Kind : int {
    Never, Null, Boolean, Integer, Float, String, DateTime, Blob, Vector, Matrix, Array, Set,
    Dict, Ref, Struct, Variant, Recursive, Function, AsyncFunction, Unknown
};
inline constexpr int kKindCount = static_cast<int>(Kind::Unknown) + 1;
// Every kind but Unknown has a predicate.
inline constexpr int kPredicateCount = static_cast<int>(Kind::Unknown);

// The predicate of `kind` among the rebindable names.
inline Rebindable predicate_of(Kind kind) noexcept {
    return static_cast<Rebindable>(static_cast<int>(Rebindable::FirstPredicate) + static_cast<int>(kind));
}

// Calls the predicates (looked up in the module namespace at every call) in order, up
// to and including `last`, and gives the first kind whose predicate is true, or
// Kind::Unknown when none is. Returns 0, or -1 with an exception set.
int classify(PyObject* type_val, Kind last, Kind* out) noexcept;

// How a value is written into a build error: as format() writes it (cy_compare_for,
// cy_equal_for) or as str() does (cy_is_for); a str is unchanged either way.
enum class IdText { Format, Str };
inline PyObject* as_text(PyObject* o, IdText how) noexcept {
    return how == IdText::Str ? PyObject_Str(o) : PyObject_Format(o, nullptr);
}

// Raises RuntimeError "Unknown type encountered during type printing: <type_val.type>"
// and returns null.
PyObject* raise_unknown_type(PyObject* type_val, IdText how = IdText::Format) noexcept;

}  // namespace vorn::sortkit
