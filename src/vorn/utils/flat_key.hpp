// Flat keys: a key of a Struct value whose fields the comparer reads by scalar orders
// only, each field a value with a code (an exact int within 64 bits, a float, a str of
// one byte a character); or, where stamps are epochs, of a Struct, Variant or
// recursive type's value down through nested values to such scalars, a Variant's case
// name (such a str) one field and its payload's fields after it. Such a key keeps no
// image with step kinds: its fields' codes lie in a row after the key's fields, a word
// a field, and a str that its code does not hold whole follows its code. Keys of one
// comparer whose fields agree up to a point have fields of the same kinds up to the
// next (a case name decides what follows it), so two keys are compared word by word,
// without a kind to read at each step. Other values keep images (key_image.hpp).
#pragma once

#include "vorn/utils/key_image.hpp"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vorn::sortkit {

// The code of a flat key: `length` fields, `image_head` the mask of its String fields
// (bit i for field i), `bits` the stamp of the dicts read (dict_signal: the fields and
// the strs borrowed from them hold while it does). Of kFlatCode where the value's
// fields are all scalars read by its comparer itself, so that every key of that
// comparer has as many. Of kFlatTreeCode where some lie in nested values: `held` is
// then the most recursion checks the comparer makes on the way to a field, with
// kFlatForwarded where the words start with a recursive type's forwarder, its target
// and the target's serial (the comparers below it hold while it holds that target).
inline constexpr unsigned kMaxFlatFields = 8 * sizeof(KeyCode::image_head);
inline constexpr uint8_t kFlatForwarded = 0x80;
inline constexpr unsigned kMaxFlatDepth = kFlatForwarded - 1;
inline constexpr unsigned kFlatForwardWords = 3;

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

// Orders two keys of kFlatCode, or where `kWhole` two flat keys of one kind: 1 with
// `*sign` set, 0 when the comparer must be called (another comparer or forwarder
// target, a dict changed since, or recursion checks or a C stack that the comparer's
// own calls might not pass: it then raises where it would). Where not `kWhole`, 2 says
// that two strs have equal codes (of 8 characters and more, two objects) and the whole
// walk must compare them, so that the common walk makes no call and keeps its
// pointers in registers.
template <bool kWhole>
[[gnu::always_inline]] inline int compare_flat(const KeyObject* a, const KeyObject* b, int* sign) noexcept {
    if (a->compare != b->compare) return 0;
    // The comparer's checks on the way to the deepest field of either (the orders of its
    // scalars make none), and the fields to walk.
    unsigned depth, n;
    if constexpr (!kWhole) {
        // Of kFlatCode: the comparer's one check, and as many fields as any of its keys.
        if (checks_known_to_pass() <= 1) return 0;
        depth = 1, n = a->code.length;  // read after the call, so that no register holds it across
    } else {
        const unsigned held_a = a->code.held, held_b = b->code.held;
        if ((held_a ^ held_b) & kFlatForwarded) return 0;
        depth = (held_a > held_b ? held_a : held_b) & kMaxFlatDepth;
        if (checks_known_to_pass() <= static_cast<int>(depth)) return 0;
        n = a->code.length < b->code.length ? a->code.length : b->code.length;
    }
    // The C stack bounded as for an image of as many steps.
    if (!stack_known_to_have_room(kStackPerStep * (depth + n))) return 0;
    if (!dict_signal::unchanged(a->value, a->code.bits) || !dict_signal::unchanged(b->value, b->code.bits)) return 0;
    const uint64_t str_fields = flat_str_fields(a->code);  // alike in both up to the first field that differs
    const uint64_t* x = flat_words(a);
    const uint64_t* y = flat_words(b);
    if constexpr (kWhole) {
        if (a->code.held & kFlatForwarded) {
            if (x[0] != y[0] || x[1] != y[1] || x[2] != y[2] ||
                !same_target(reinterpret_cast<PyObject*>(x[0]), reinterpret_cast<PyObject*>(x[1]), x[2]))
                return 0;
            x += kFlatForwardWords, y += kFlatForwardWords;
        }
    }
    for (unsigned i = 0; i < n; ++i) {
        if (*x != *y) {
            *sign = *x < *y ? -1 : 1;
            return 1;
        }
        // Equal codes of a str: equal strs where the code holds them whole, else the strs
        // follow (both, as the codes' lengths are equal).
        if ((str_fields >> i & 1) && !str1_held_whole(*x)) {
            if (x[1] != y[1]) {
                if constexpr (!kWhole) return 2;
                if ((*sign = compare_strs(reinterpret_cast<PyObject*>(x[1]), reinterpret_cast<PyObject*>(y[1]))))
                    return 1;
            }
            x += 2, y += 2;
        } else {
            ++x, ++y;
        }
    }
    // Equal throughout: of one shape, unless what they were read under changed unseen.
    if (kWhole && a->code.length != b->code.length) [[unlikely]] return 0;
    *sign = 0;
    return 1;
}

}  // namespace image
}  // namespace vorn::sortkit
