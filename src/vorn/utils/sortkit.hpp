// The ordering module's chief header: what every file of the module uses.
//
// ---- The map ---------------------------------------------------------------------------
//
// The rooms, by when their lines run:
//
// Once per build (cy_compare_for, cy_equal_for, cy_is_for; all files build_*):
//   build_entry.*        the one builder entry and the kind -> build step table shape
//   build_compare.cpp    cy_compare_for: its leaf specs and its table of build steps
//   build_equal.cpp      cy_equal_for: the same
//   build_identity.cpp   cy_is_for: the same
//   build_classify.cpp   the kind of a descriptor, through the predicates (kinds.hpp)
//   build_composites.*   making a composite function and filling its component,
//                        Struct fields and Variant cases
//   build_recursive.*    a recursive type's wrapper and references, through the type
//                        context
//
// Once per comparison (the functions the builders return, and the keys):
//   comparer_protocol.hpp  the native protocol between our functions, their flags and
//                          closure state
//   composite_call.*     the prologue of every composite body (Level), the component
//                        calls, the walk's guard and kept temporaries, and the one
//                        failure path of a level (child_failed)
//   component_results.hpp  reading a component's result
//   leaf_functions.*     every leaf body (scalar orders, equalities, identities,
//                        DateTime, Blob) and the leaves walks run inline
//   compare_sequences.cpp / compare_records.cpp / compare_collections.cpp
//                        the composite comparers (compare_functions.hpp)
//   equal_sequences.cpp / equal_records.cpp / equal_collections.cpp
//                        the composite equality functions (equal_functions.hpp)
//   identity_records.cpp the composite identity functions (identity_functions.hpp)
//   recursive_forwarders.cpp  the functions a recursive type's build returns, which
//                        forward to the function built for its inner type
//   field_access.*       a Struct function's field table and the reads of its fields
//   value_access.*, dict_items.hpp  reading values (subscription, indexing, items)
//   private_context.*, dict_context.*  the comparison context
//   sort_key*.cpp        the key class CyVornKey: life cycle, comparison, images,
//                        pickling, and the VornKey classes of cy_make_vorn_key
//
// The module itself: sortkit_module.cpp (start-up), module_state.hpp and
// module_names.cpp (the namespace), scalar_functions.cpp (cy_compare_int & co.),
// scalar_orders.hpp and conversions.cpp (native orders and conversions).
//
// The contexts:
//   type context        a build's dict from a recursive type's id to its forwarder
//                       (build_recursive.*)
//   comparison context  a comparison's record of the pairs visited, so that cyclic
//                       values end: as Python code sees it, a dict of id() sets
//                       (dict_context.*); kept natively until a function that could
//                       read it gets it, a private context (private_context.*)
//   the runtime's context  the C runtime's, of the platform-call module; none here
//
// The names a caller may rebind in the module namespace: the Rebindable enum
// (module_state.hpp) lists them all; they are looked up at every use.
//
// Adding a kind: its place in Kind (kinds.hpp), its predicate among the rebindable
// names (module_names.cpp) and in the start-up imports (sortkit_module.cpp); a row in
// each builder's table (build_compare.cpp, build_equal.cpp, build_identity.cpp; a
// missing row fails to compile); its leaf bodies in leaf_functions.*, or its composite
// bodies in the compare_/equal_/identity_ file of its family, each opened by a Level
// and sending a failed child through child_failed.
#pragma once

#include "common/function.hpp"
#include "common/recursion.hpp"
#include "common/ref.hpp"
#include "common/strings.hpp"
#include "vorn/utils/comparer_protocol.hpp"
#include "vorn/utils/kinds.hpp"
#include "vorn/utils/module_state.hpp"
#include "vorn/utils/scalar_orders.hpp"
