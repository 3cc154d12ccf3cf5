// Argument parsing shared by every native function, with the interpreter's messages.
#pragma once

#include "common/ref.hpp"

namespace vorn {

struct FunctionSpec;

// Fills `out[0 .. spec.nparams)` with borrowed references from a vectorcall
// (positional `args`, then keywords named by `kwnames`); missing optional
// parameters get None. Returns 0, or -1 with TypeError set.
int parse_arguments(const FunctionSpec& spec, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** out) noexcept;

// TypeError "<name>() takes exactly|at least|at most N positional argument(s) (M given)".
void raise_argument_count(const char* name, bool exact, Py_ssize_t min, Py_ssize_t max,
                          Py_ssize_t given) noexcept;

// TypeError "Argument '<arg>' has incorrect type (expected <expected>, got <type of obj>)".
void raise_argument_type(const char* arg, const char* expected, PyObject* obj) noexcept;

}  // namespace vorn
