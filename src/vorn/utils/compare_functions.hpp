// The composite comparers that cy_compare_for returns, each defined in the file of its
// kind: over one component (Vector, Matrix, Array, Ref; Set and Dict over the element
// and value comparer), the field list (Struct), the case table (Variant).
#pragma once

#include "vorn/utils/leaf_functions.hpp"
#include "vorn/utils/sortkit.hpp"

namespace vorn::sortkit {

extern const NativeSpec compare_vector_spec, compare_matrix_spec, compare_array_spec;  // compare_sequences.cpp
extern const NativeSpec compare_set_spec, compare_dict_spec;                          // compare_collections.cpp
extern const NativeSpec compare_ref_spec, compare_struct_spec, compare_variant_spec;   // compare_records.cpp
extern const NativeSpec compare_recursive_spec;  // recursive_forwarders.cpp

// The most elements of an exact set read in place (and of ints sorted by value) when
// two Sets are compared natively; larger sets are listed and sorted.
inline constexpr Py_ssize_t kSetElementsInPlace = 16;

// The leaf order by which a Set's elements may be sorted natively: the element
// comparer's and the key class's comparer's, when both are the same scalar order of
// ours and the key class still makes its keys with our own constructor; Leaf::None
// when the Set comparer sorts by its key class (compare_collections.cpp).
Leaf native_set_order(PyObject* elem, PyObject* keys) noexcept;

// The values of `n` exact ints within 64 bits, sorted into `out` (at most
// kSetElementsInPlace: up to four by a sorting network, more by insertion); false when
// one is not such.
bool sorted_int_values(PyObject* const* items, Py_ssize_t n, int64_t* out) noexcept;

}  // namespace vorn::sortkit
