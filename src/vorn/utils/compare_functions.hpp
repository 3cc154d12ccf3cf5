// The composite comparers that cy_compare_for returns, each defined in the file of its
// kind: over one component (Vector, Matrix, Array, Ref; Set and Dict over the element
// and value comparer), the field list (Struct), the case table (Variant).
#pragma once

#include "vorn/utils/sortkit.hpp"

namespace vorn::sortkit {

extern const NativeSpec compare_vector_spec, compare_matrix_spec, compare_array_spec;  // compare_sequences.cpp
extern const NativeSpec compare_set_spec, compare_dict_spec;                          // compare_collections.cpp
extern const NativeSpec compare_ref_spec, compare_struct_spec, compare_variant_spec;   // compare_records.cpp
extern const NativeSpec compare_recursive_spec;  // recursive_forwarders.cpp

}  // namespace vorn::sortkit
