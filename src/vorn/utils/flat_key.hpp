// Flat keys: a key of a Struct value whose fields the comparer reads by scalar orders
// only, each field a value with a code (an exact int within 64 bits, a float, a str of
// one byte a character); or, where stamps are epochs, of a Variant value whose case
// name is such a str and whose payload such a scalar, its case name and payload then
// its two fields. Such a key keeps no image with step kinds: its fields' codes lie in
// a row after the key's fields, a word a field, and a str that its code does not hold
// whole follows its code. Every key of one comparer lays out its fields alike (a
// Variant's, of one case), so two keys are compared word by word, without a kind to
// read at each step. Other values keep images (key_image.hpp).
#pragma once

#include "vorn/utils/key_image.hpp"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vorn::sortkit {

// The code of a flat key (kFlatCode): `length` fields, `image_head` the mask of its
// String fields (bit i for field i), `bits` the stamp of the value's dict when read
// (dict_signal: the fields and the strs borrowed from it hold while it does).
inline constexpr unsigned kMaxFlatFields = 8 * sizeof(KeyCode::image_head);

inline uint64_t flat_str_fields(const KeyCode& code) noexcept {
    static_assert(offsetof(KeyCode, image_head) == 3 && sizeof(KeyCode::image_head) == 5);
    if constexpr (std::endian::native == std::endian::little) {
        // The code's first word, whose last five bytes are image_head: one load.
        uint64_t head;
        std::memcpy(&head, &code, sizeof head);
        return head >> 24;
    }
    uint64_t mask = 0;
    for (unsigned j = 0; j < sizeof code.image_head; ++j) mask |= uint64_t{code.image_head[j]} << (8 * j);
    return mask;
}
inline void set_flat_str_fields(KeyCode& code, uint64_t mask) noexcept {
    if constexpr (std::endian::native == std::endian::little) {
        // The mask's five bytes, little-endian, are image_head as it lies: one store.
        std::memcpy(code.image_head, &mask, sizeof code.image_head);
        return;
    }
    for (unsigned j = 0; j < sizeof code.image_head; ++j) code.image_head[j] = static_cast<uint8_t>(mask >> (8 * j));
}

// The words of a flat key, after its fields.
inline const uint64_t* flat_words(const KeyObject* key) noexcept {
    return reinterpret_cast<const uint64_t*>(key + 1);
}

namespace image {

// Orders two keys of kFlatCode: 1 with `*sign` set, 0 when the comparer must be called
// (another comparer, a dict changed since, or a recursion check or the C stack that
// the comparer's own call might not pass: it then raises where it would). Two strs
// whose codes are equal (of 8 characters and more, two objects) are compared where
// `kStrs`; else 2 says that they were met, so that the common walk makes no call and
// keeps its pointers in registers.
template <bool kStrs>
[[gnu::always_inline]] inline int compare_flat(const KeyObject* a, const KeyObject* b, int* sign) noexcept {
    if (a->compare != b->compare) return 0;
    // The Struct or Variant comparer's one check (the orders of its scalars make none),
    // and the C stack bounded as for an image of as many steps.
    if (checks_known_to_pass() <= 1) return 0;
    const unsigned n = a->code.length;  // read after the call, so that no register holds it across
    if (!stack_known_to_have_room(kStackPerStep * (1 + n))) return 0;
    if (!dict_signal::unchanged(a->value, a->code.bits) || !dict_signal::unchanged(b->value, b->code.bits)) return 0;
    const uint64_t str_fields = flat_str_fields(a->code);
    const uint64_t* x = flat_words(a);
    const uint64_t* y = flat_words(b);
    for (unsigned i = 0; i < n; ++i) {
        if (*x != *y) {
            *sign = *x < *y ? -1 : 1;
            return 1;
        }
        // Equal codes of a str: equal strs where the code holds them whole, else the strs
        // follow (both, as the codes' lengths are equal).
        if ((str_fields >> i & 1) && !str1_held_whole(*x)) {
            if (x[1] != y[1]) {
                if constexpr (!kStrs) return 2;
                if ((*sign = compare_strs(reinterpret_cast<PyObject*>(x[1]), reinterpret_cast<PyObject*>(y[1]))))
                    return 1;
            }
            x += 2, y += 2;
        } else {
            ++x, ++y;
        }
    }
    *sign = 0;
    return 1;
}

}  // namespace image
}  // namespace vorn::sortkit
