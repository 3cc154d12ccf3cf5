// Docstrings of the three builders, word for word.
#pragma once

namespace vorn::sortkit {

inline constexpr const char* kCompareForDoc =
    "Create a three-way comparer for a given type.\n"
    "\n"
    "    Returns a function (x, y, ctx=None) -> int where:\n"
    "    - -1 means x < y\n"
    "    -  0 means x == y\n"
    "    -  1 means x > y\n"
    "\n"
    "    type_ctx maps recursive scope ids to their comparers.\n"
    "    ";

inline constexpr const char* kEqualForDoc =
    "Create a type-specific equality function.\n"
    "\n"
    "    type_ctx maps recursive scope ids to their comparers.\n"
    "    ";

inline constexpr const char* kIsForDoc =
    "Create an identity comparer for a given type.\n"
    "\n"
    "    type_ctx maps recursive scope ids to their comparers.\n"
    "    ";

inline constexpr const char* kMakeVornKeyDoc =
    "Create an VornKey class for a specific type.\n"
    "\n"
    "    Returns a callable that wraps values in CyVornKey instances with\n"
    "    the appropriate compare function for the given type.\n"
    "    ";

}  // namespace vorn::sortkit
