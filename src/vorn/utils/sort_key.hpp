// The layout of CyVornKey instances and what its files share.
#pragma once

#include "vorn/utils/leaf_functions.hpp"
#include "vorn/utils/sortkit.hpp"

namespace vorn::sortkit {

// A native image of a key's value under its comparer's order, kept when the value is
// an exact int, float or str and the comparer one of our scalar orders. Comparing two
// images of the same kind decides most comparisons without calling the comparer or
// reading the values, which for large sorts is mostly memory traffic saved.
enum CodeKind : uint8_t {
    kNoCode, kInt64Code, kDoubleCode, kStr1Code, kStr2Code, kStr4Code,
    kImageCode,  // a Struct or Variant value's image (see update_image)
    kListCode,   // an Array value ordered in place by the element leaf held in `held`
    kFlatCode,   // a Struct or Variant value of scalars with codes (flat_key.hpp)
    kFlatTreeCode,  // such a value with some of them in nested values (flat_key.hpp)
    kSetCode,       // a Set value of ints, its values sorted (set_key.hpp)
};

struct KeyCode {
    uint8_t kind;    // CodeKind
    uint8_t held;    // strings: characters held in `bits`; 0 for numbers; flat keys
                     // (kFlatCode, kFlatTreeCode): their depth (flat_key.hpp)
    uint8_t length;  // strings: the length, capped at held + 1; 0 for numbers;
                     // flat keys: the fields; kSetCode: the elements
    // kImageCode with the image in the key's block (kImageInKey): the image's first
    // bytes, from image_head over `bits` on into the room after the key's fields;
    // flat keys: the mask of their String fields.
    uint8_t image_head[5];
    uint64_t bits;   // unsigned order of `bits` is the comparer's order of the values
                     // (strings: of their first `held` characters, zero padded);
                     // kImageCode in an allocation of its own: the address of the
                     // key's KeyImage (owned); flat keys: the stamp of the dicts read;
                     // kSetCode: the mask of the set's table
};

struct KeyImage;  // key_image.hpp

static_assert(offsetof(KeyCode, bits) == offsetof(KeyCode, image_head) + sizeof(KeyCode::image_head) &&
                  sizeof(KeyCode) == offsetof(KeyCode, bits) + sizeof(KeyCode::bits),
              "an image in the key's block runs on from image_head over `bits` into the room after it");

struct KeyObject {
    PyObject_HEAD
    PyObject* value;     // the wrapped value; None in a fresh instance
    PyObject* compare;   // the comparer; None in a fresh instance
    KeyCode code;        // private; recomputed whenever the two fields change
};

static_assert(offsetof(KeyObject, code) + sizeof(KeyCode) == sizeof(KeyObject),
              "the room after a key's fields begins where its code ends");

// `held` of a kImageCode whose image lies in the key's own block, from the code's
// image_head on (see new_key_with_image), rather than in an allocation of its own.
inline constexpr uint8_t kImageInKey = 1;

// The image of a key of kImageCode.
inline KeyImage* image_in(KeyObject* key) noexcept {
    return key->code.held == kImageInKey ? reinterpret_cast<KeyImage*>(key->code.image_head)
                                         : reinterpret_cast<KeyImage*>(key->code.bits);
}
inline const KeyImage* image_in(const KeyObject* key) noexcept { return image_in(const_cast<KeyObject*>(key)); }

// The image a key keeps in place of a code (see update_image), or null.
inline KeyImage* image_of(KeyObject* key) noexcept {
    return key->code.kind == kImageCode ? image_in(key) : nullptr;
}

// A key of `type` (a VornKey class) with `room` bytes after its fields, not yet
// tracked by the collector, its fields unset. New reference, or null.
PyObject* alloc_key_with_room(PyTypeObject* type, size_t room) noexcept;

// A key of `type` holding `value` and `compare`, with the image of the value
// (update_image), its flat words (flat_key.hpp) or its set's (set_key.hpp) in its own
// block, made when the comparer is one that these serve: a new reference, or null
// with an exception set. Null with `*served` false when the key is better made the
// usual way.
PyObject* new_key_with_image(PyTypeObject* type, PyObject* value, PyObject* compare, bool* served) noexcept;

// Recomputes the code (or the image) of a key from its two fields (sort_key_code.cpp).
void update_code(KeyObject* key) noexcept;

// The image of a Struct or Variant value: the comparer's walk over it, read when the
// key was made, kept when the value is an exact dict of exact str keys and the
// comparer ours (Struct, Variant, or the forwarder of a recursive type to one), down
// through nested values of the same kind. While the stamps of the dicts it read hold
// (dict_signal) their entries are unchanged too, so two images decide a comparison
// exactly as the comparer would, without its dict lookups and calls
// (sort_key_image.cpp). The code (kImageCode) leads to the image (image_in): its bits
// point at it in a block of its own, or, for keys that a VornKey class makes, it lies
// in the key's own block from the code's image_head on (new_key_with_image), so that
// making the key allocates once and comparing it reads one line fewer.
void update_image(KeyObject* key) noexcept;
void drop_image(KeyObject* key) noexcept;

// Orders two codes of the same kind: true with `*sign` set when they decide the
// comparison exactly as the comparer would, false when the comparer must be called.
inline bool compare_codes(const KeyCode& a, const KeyCode& b, int* sign) noexcept {
    if (a.bits != b.bits) {
        *sign = a.bits < b.bits ? -1 : 1;
        return true;
    }
    // Equal numbers are equal. Strings with equal leading characters: one held whole
    // is a prefix of the other, so the lengths decide; two longer ones need the comparer.
    if (a.length > a.held && b.length > b.held) return false;
    *sign = (a.length > b.length) - (a.length < b.length);
    return true;
}

inline constexpr const char* kKeyTypeName = "vorn.utils._sortkit.CyVornKey";

// Checksum of the pickled layout "_compare, value", written by __reduce__; loading
// also accepts the two other constants that stand for the same layout.
inline constexpr long kLayoutChecksum = 0xdbf9b16;
inline constexpr long kOtherChecksums[2] = {0x4d8273f, 0x7694639};

inline bool is_key(PyObject* o) noexcept { return PyObject_TypeCheck(o, key_type); }

// The __new__ and rich comparison that CyVornKey is made with. Giving a class __new__
// or a comparison method re-points that slot in it and in the subclasses that inherit
// it, so a fast path that skips them asks whether a class's slots are still these:
// CyVornKey's own slots change too when it is given such a method.
PyObject* key_new(PyTypeObject* type, PyObject* args, PyObject* kwds) noexcept;
PyObject* key_richcompare(PyObject* self, PyObject* other, int op) noexcept;

// The comparer that the keys of `cls` are made with, when `cls` is a key class made
// by cy_make_vorn_key whose construction, comparison and release are still ours (so
// making, ordering and dropping its keys runs no user code); borrowed, or null.
PyObject* key_class_comparer(PyTypeObject* cls) noexcept;

// Rebinds both fields of a key (what CyVornKey.__init__ does).
void set_key_fields(PyObject* key, PyObject* value, PyObject* compare) noexcept;

// Restores a key from a pickled state tuple (an exact tuple): `_compare` from item 0,
// `value` from item 1, and the instance __dict__ updated from a true item 2.
// Returns 0, or -1 with an exception set (an assignment already made stays made).
int restore_key_state(PyObject* key, PyObject* state) noexcept;

}  // namespace vorn::sortkit
