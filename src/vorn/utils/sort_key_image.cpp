// Writing the images of Struct and Variant values (nested, and through recursive
// types) that let keys order exact dicts without calling their comparers
// (key_image.hpp compares them).
#include "common/compat.hpp"
#include "common/dict_signal.hpp"
#include "vorn/utils/compare_functions.hpp"
#include "vorn/utils/field_access.hpp"
#include "vorn/utils/flat_key.hpp"
#include "vorn/utils/key_code.hpp"
#include "vorn/utils/key_image.hpp"
#include "vorn/utils/set_key.hpp"
#include "vorn/utils/sort_key.hpp"
#include "vorn/utils/value_access.hpp"

#include <cstddef>
#include <cstring>

namespace vorn::sortkit {

using namespace image;

namespace {

const FunctionSpec* spec_of(PyObject* fn) noexcept {
    return is_native_function(fn) ? reinterpret_cast<NativeFunction*>(fn)->spec : nullptr;
}

// `d[f.key]` for an exact dict of exact str keys, read as the comparer reads fields
// (the entry where it was found last, then a lookup): borrowed, or null when it is
// missing. Nothing is allocated and no exception is set, so nothing can run here,
// not even the collector. Inline, as a flat key reads each field by it.
[[gnu::always_inline]] inline PyObject* str_item(PyObject* d, Field& f) noexcept {
    PyObject* v = hinted_field(d, f);
    return v ? v : find_field(d, f);
}

// The keys a Variant value is read by, and the last entries where a case was found
// (hints only).
Field tag_field{nullptr, nullptr, nullptr, 0, Leaf::None};
Field payload_field{nullptr, nullptr, nullptr, 0, Leaf::None};
Py_ssize_t case_slot = 0;

// The case table of the Variant comparer `fn` and the case name of its value `d`, as
// the comparer reads them: the tag, an exact str (borrowed), with `*cases` set; null
// where either is not of that kind or missing.
PyObject* variant_tag(PyObject* fn, PyObject* d, PyObject** cases) noexcept {
    *cases = reinterpret_cast<NativeFunction*>(fn)->state[slot::kCases];
    if (!*cases || !PyDict_CheckExact(*cases) || !compat::dict_has_only_str_keys(*cases)) return nullptr;
    tag_field.name = tag_field.key = str<"type">();  // interned, alive for the process
    PyObject* tag = str_item(d, tag_field);
    return tag && PyUnicode_CheckExact(tag) ? tag : nullptr;
}

// The comparer of the case `tag` in `cases`, and the payload of `d`, borrowed; the
// payload null where either is missing.
PyObject* variant_payload(PyObject* cases, PyObject* tag, PyObject* d, PyObject** case_fn) noexcept {
    Field case_field{tag, nullptr, tag, case_slot, Leaf::None};
    *case_fn = str_item(cases, case_field);
    case_slot = case_field.slot;
    payload_field.name = payload_field.key = str<"value">();
    return *case_fn ? str_item(d, payload_field) : nullptr;
}

// The steps of a value under one of our comparers. Nothing here runs user code: only
// exact dicts of exact str keys are read, by exact str keys (the field names interned
// when the comparer was built, the case names read from the value). Where the
// comparer would read something an image cannot hold (another kind of value or
// comparer, a missing entry, a full image), the image ends there, incomplete.
class ImageWriter {
public:
    // Writes the steps of `v` under `fn`, whose leaf (if it is one) is `leaf`; false
    // where the image ends.
    bool value(PyObject* fn, PyObject* v, Leaf leaf) noexcept {
        if (leaf != Leaf::None) return add_value(leaf, v);
        const FunctionSpec* spec = spec_of(fn);
        while (spec == &compare_recursive_spec.function) {
            PyObject* target = peek_forward_target(fn);
            if (!target || !is_native_function(target)) return false;
            const uint64_t serial = reinterpret_cast<NativeFunction*>(target)->serial;
            if (!add(kForwardStep, fn, target, serial)) return false;
            fn = target;
            spec = spec_of(fn);
        }
        const bool is_struct = spec == &compare_struct_spec.function;
        if (!is_struct && spec != &compare_variant_spec.function)
            return add_value(leaf_of(fn, kWithContext), v);
        if (!PyDict_CheckExact(v) || !compat::dict_has_only_str_keys(v)) return false;
        const uint64_t version = dict_signal::stamp(v);
        // The first value entered is the key's own (only forwarders come before it),
        // which the key holds: its dict is read through the key.
        const bool root = !entered_;
        entered_ = true;
        if (!version) return false;
        const bool added = root ? add(kRootStep, version)
                           : dict_signal::kEpochs ? add(kNodeStep)  // the root's stamp answers for it
                                                  : add(kNodeStep, v, version);
        if (!added) return false;
        return is_struct ? struct_fields(fn, v) : variant_case(fn, v);
    }

    // The bytes of the image written, when it starts `offset` bytes past a word
    // boundary; 0 when it is not worth keeping (nothing in it decides: the comparer
    // serves).
    size_t bytes(bool complete, size_t offset) const noexcept {
        if (!complete && !decides_) return 0;
        const size_t kinds = offset + offsetof(KeyImage, kinds);
        const size_t words = word_ceil(kinds + steps_);
        const size_t end = words + sizeof(Word) * words_;
        // At least the kinds in whole words, which put() copies.
        const size_t kinds_end = kinds + (steps_ + 7) / 8 * 8;
        return (end > kinds_end ? end : kinds_end) - offset;
    }

    // The image written, put in place at `image`, of bytes(complete, its offset past a
    // word boundary) bytes: copied a word at a time, which for the few kinds and words
    // of an image costs less than calls of memcpy (the compiler is told not to make
    // them such calls). The kinds go in whole words; the words after them then
    // overwrite what lies past the kinds.
    [[gnu::optimize("no-tree-loop-distribute-patterns")]] void put(KeyImage* image, bool complete) const noexcept {
        image->steps = static_cast<uint8_t>(steps_);
        image->complete = complete;
        for (unsigned i = 0; i < steps_; i += 8) std::memcpy(image->kinds + i, kinds_ + i, 8);
        Word* words = reinterpret_cast<Word*>(word_aligned(image->kinds + steps_));
        for (unsigned i = 0; i < words_; ++i) words[i] = word_[i];
    }

private:
    // A step of `kind` with its words; false when the image is full.
    bool add(StepKind kind) noexcept {
        if (steps_ == kMaxSteps) return false;
        decides_ |= kind >= kTagStep;
        kinds_[steps_++] = kind;
        return true;
    }
    bool add(StepKind kind, uint64_t number) noexcept {
        if (!add(kind)) return false;
        word_[words_++].number = number;
        return true;
    }
    bool add(StepKind kind, PyObject* object) noexcept {
        if (!add(kind)) return false;
        word_[words_++].object = object;
        return true;
    }
    bool add(StepKind kind, PyObject* object, uint64_t number) noexcept {
        if (!add(kind, object)) return false;
        word_[words_++].number = number;
        return true;
    }
    bool add(StepKind kind, uint64_t number, PyObject* object) noexcept {
        if (!add(kind, number)) return false;
        word_[words_++].object = object;
        return true;
    }
    bool add(StepKind kind, PyObject* first, PyObject* second) noexcept {
        if (!add(kind, first)) return false;
        word_[words_++].object = second;
        return true;
    }
    bool add(StepKind kind, PyObject* first, PyObject* second, uint64_t number) noexcept {
        if (!add(kind, first)) return false;
        word_[words_++].object = second;
        word_[words_++].number = number;
        return true;
    }
    // A scalar under `leaf`; false for a leaf that is no order, or a value that has no
    // code (not an exact int within 64 bits, float or str: the comparer reads it).
    bool add_value(Leaf leaf, PyObject* v) noexcept {
        if (leaf == Leaf::OrderZero) return add(kZeroStep);
        const KeyCode code = code_of(leaf, v);
        switch (code.kind) {
            case kInt64Code:
            case kDoubleCode: return add(kNumberStep, code.bits);
            case kStr1Code: {
                const uint64_t str1 = str1_code(code.bits, code.length);
                return str1_held_whole(str1) ? add(kStr1Step, str1) : add(kStr1Step, str1, v);
            }
            case kStr2Code: return add(kStr2Step, code.bits, v);
            case kStr4Code: return add(kStr4Step, code.bits, v);
            default: return false;
        }
    }

    // The fields in the comparer's order.
    bool struct_fields(PyObject* fn, PyObject* d) noexcept {
        FieldTable* table = frozen_fields(fn);
        if (!table) return false;
        for (Py_ssize_t i = 0, n = Py_SIZE(table); i < n; ++i) {
            Field& f = table->fields[i];
            PyObject* v = f.key ? str_item(d, f) : nullptr;
            if (!v || !value(f.fn, v, f.leaf)) return false;
        }
        return true;
    }

    // The case name with the case table, then the payload under that case's comparer.
    bool variant_case(PyObject* fn, PyObject* d) noexcept {
        PyObject* cases;
        PyObject* tag = variant_tag(fn, d, &cases);
        if (!tag) return false;
        const uint64_t version = dict_signal::stamp(cases);
        if (!version) return false;
        if (!(dict_signal::kEpochs ? add(kTagStep, tag, cases) : add(kTagStep, tag, cases, version))) return false;
        PyObject* case_fn;
        PyObject* payload = variant_payload(cases, tag, d, &case_fn);
        return payload && value(case_fn, payload, Leaf::None);
    }

    Word word_[3 * kMaxSteps];
    uint8_t kinds_[kMaxSteps];
    unsigned steps_ = 0, words_ = 0;
    bool decides_ = false;
    bool entered_ = false;  // a value entered (a root step written)
};

// The fields of a flat key (flat_key.hpp) of the value `v` under the comparer `fn`:
// the scalars the comparer reads, in the order it reads them, each a value with a code
// (a word, and the str after it where its code does not hold it whole). Written when
// `v` is an exact dict of exact str keys and `fn` a Struct comparer whose fields are
// all read by scalar orders; or, where stamps are epochs (one then answers for every
// dict read, case tables included), a Struct, Variant or recursive type's comparer
// down through nested values to scalars: a Variant's case name is then a field,
// followed by its payload's. Every key of one comparer whose fields agree up to a
// point has the same kinds of fields up to the next, so two keys are compared field
// by field. One recursive type's forwarder at most, held at the front of the words.
// As the image writer, it reads without running any code.
class FlatWriter {
public:
    bool write(PyObject* fn, PyObject* v) noexcept {
        if (!value(fn, v, 0)) return false;
        return stamp_ != 0;
    }

    // The room the words take after the key's fields.
    size_t bytes() const noexcept { return sizeof(uint64_t) * (words_ + (forwarder_ ? kFlatForwardWords : 0)); }

    // The code and the words, put in the key: the words copied one by one, which for
    // the few of a key costs less than a call of memcpy (the compiler is told not to
    // make it one).
    [[gnu::optimize("no-tree-loop-distribute-patterns")]] void put(KeyObject* key) const noexcept {
        const uint8_t held = static_cast<uint8_t>(depth_ | (forwarder_ ? kFlatForwarded : 0));
        const uint8_t kind = depth_ == 1 && !forwarder_ ? kFlatCode : kFlatTreeCode;
        key->code = KeyCode{kind, held, static_cast<uint8_t>(fields_), {}, stamp_};
        set_flat_str_fields(key->code, str_fields_);
        auto* words = reinterpret_cast<uint64_t*>(key + 1);
        if (forwarder_) {
            *words++ = reinterpret_cast<uint64_t>(forwarder_);
            *words++ = reinterpret_cast<uint64_t>(target_);
            *words++ = serial_;
        }
        for (unsigned i = 0; i < words_; ++i) words[i] = word_[i];
    }

private:
    // `v` under `fn`, `checks` recursion checks down from the key's comparer (the
    // checks of the comparers that lead here, as the comparer makes them).
    bool value(PyObject* fn, PyObject* v, unsigned checks) noexcept {
        const FunctionSpec* spec = spec_of(fn);
        while (spec == &compare_recursive_spec.function) {
            if (!dict_signal::kEpochs) return false;
            PyObject* target = peek_forward_target(fn);
            if (!target || !is_native_function(target)) return false;
            if (!forwarder_) {
                forwarder_ = fn, target_ = target, serial_ = reinterpret_cast<NativeFunction*>(target)->serial;
            } else if (fn != forwarder_ || target != target_) {
                return false;
            }
            // Its check counts even with a scalar behind it; bounded, as a forwarder met
            // again with no value read between is a type that is only itself.
            if (!deeper(checks)) return false;
            fn = target;
            spec = spec_of(fn);
        }
        const bool is_struct = spec == &compare_struct_spec.function;
        if (!is_struct && spec != &compare_variant_spec.function) {
            const Leaf leaf = leaf_of(fn, kWithContext);
            return leaf != Leaf::None && add(leaf, v);
        }
        if (!PyDict_CheckExact(v) || !compat::dict_has_only_str_keys(v)) return false;
        if (!stamped(v)) return false;
        if (!deeper(checks)) return false;  // bounds the writer's own recursion too
        return is_struct ? struct_fields(fn, v, checks) : variant(fn, v, checks);
    }

    // One more of the comparer's checks on the way down, counted in the key's depth;
    // false past the deepest a key holds.
    bool deeper(unsigned& checks) noexcept {
        if (++checks > kMaxFlatDepth) return false;
        if (checks > depth_) depth_ = checks;
        return true;
    }

    bool struct_fields(PyObject* fn, PyObject* v, unsigned checks) noexcept {
        FieldTable* table = frozen_fields(fn);
        if (!table) return false;
        for (Py_ssize_t i = 0, n = Py_SIZE(table); i < n; ++i) {
            Field& f = table->fields[i];
            PyObject* x = f.key ? str_item(v, f) : nullptr;
            if (!x) return false;
            if (f.leaf != Leaf::None ? !add(f.leaf, x) : !(dict_signal::kEpochs && value(f.fn, x, checks)))
                return false;
        }
        return true;
    }

    bool variant(PyObject* fn, PyObject* v, unsigned checks) noexcept {
        if (!dict_signal::kEpochs) return false;  // the case table has a version of its own
        PyObject* cases;
        PyObject* tag = variant_tag(fn, v, &cases);
        if (!tag || !stamped(cases) || !add(Leaf::OrderString, tag)) return false;
        PyObject* case_fn;
        PyObject* payload = variant_payload(cases, tag, v, &case_fn);
        return payload && value(case_fn, payload, checks);
    }

    // Whether the dict `d` has a stamp, the same as every other dict read (where
    // stamps are epochs; only the value's own dict is read where they are not).
    bool stamped(PyObject* d) noexcept {
        const uint64_t s = dict_signal::stamp(d);
        if (!s || (stamp_ && s != stamp_)) return false;
        stamp_ = s;
        return true;
    }

    // The field `x` under the scalar order `leaf`; false when it has no code or the
    // key has no room for another field.
    bool add(Leaf leaf, PyObject* x) noexcept {
        if (fields_ == kMaxFlatFields) return false;
        const unsigned i = fields_++;
        if (leaf == Leaf::OrderZero) {  // every value equal
            word_[words_++] = 0;
            return true;
        }
        const KeyCode code = code_of(leaf, x);
        switch (code.kind) {
            case kInt64Code:
            case kDoubleCode: word_[words_++] = code.bits; return true;
            case kStr1Code: {
                const uint64_t str1 = str1_code(code.bits, code.length);
                str_fields_ |= uint64_t{1} << i;
                word_[words_++] = str1;
                if (!str1_held_whole(str1)) word_[words_++] = reinterpret_cast<uint64_t>(x);  // borrowed, as in images
                return true;
            }
            default: return false;
        }
    }

    uint64_t word_[2 * kMaxFlatFields];
    unsigned fields_ = 0, words_ = 0, depth_ = 0;
    uint64_t str_fields_ = 0;
    uint64_t stamp_ = 0;
    PyObject* forwarder_ = nullptr;
    PyObject* target_ = nullptr;
    uint64_t serial_ = 0;
};

}  // namespace

void drop_image(KeyObject* key) noexcept {
    if (KeyImage* image = image_of(key)) {
        const bool own_allocation = key->code.held != kImageInKey;
        key->code = KeyCode{};
        if (own_allocation) PyMem_Free(image);
    } else if (key->code.kind == kFlatCode || key->code.kind == kFlatTreeCode) {
        key->code = KeyCode{};
    } else if (key->code.kind == kSetCode) {
        const uint64_t* slots = set_slots(key);
        const unsigned n = key->code.length;
        key->code = KeyCode{};
        for (unsigned i = 0; i < n; ++i) Py_DECREF(reinterpret_cast<PyObject*>(slots[2 * i + 1]));
    }
}

void update_image(KeyObject* key) noexcept {
    drop_image(key);
    if (spec_of(key->compare) == &compare_array_spec.function) {
        // An Array of a scalar order: its lists are walked in place (compare_lists). The
        // slot is read as it is: empty while the comparer is being built, when the
        // comparer raises on its own.
        PyObject* elem = reinterpret_cast<NativeFunction*>(key->compare)->state[slot::kComponent];
        const Leaf leaf = elem ? leaf_of(elem, kWithContext) : Leaf::None;
        if (leaf != Leaf::None && PyList_Check(key->value))
            key->code = KeyCode{kListCode, static_cast<uint8_t>(leaf), 0, {}, 0};
        return;
    }
    // The writer runs no code (it allocates nothing, and the image is no object), so
    // the key's fields stay the ones it read.
    ImageWriter writer;
    const bool complete = writer.value(key->compare, key->value, Leaf::None);
    const size_t bytes = writer.bytes(complete, 0);  // PyMem_Malloc's blocks start at word boundaries
    if (!bytes) return;
    auto* image = static_cast<KeyImage*>(PyMem_Malloc(bytes));
    if (!image) return;  // the comparer serves
    writer.put(image, complete);
    key->code = KeyCode{kImageCode, 0, 0, {}, reinterpret_cast<uint64_t>(image)};
}

namespace {

// The writer of an image in the key's own block, from its code's image_head on, for
// key_with_words: `room` bytes after the key's fields.
struct ImageInKey {
    ImageWriter& writer;
    bool complete;
    size_t room;

    size_t bytes() const noexcept { return room; }
    void put(KeyObject* key) noexcept {
        // The code first: writing it writes image_head and bits too.
        key->code = KeyCode{kImageCode, kImageInKey, 0, {}, 0};
        writer.put(reinterpret_cast<KeyImage*>(key->code.image_head), complete);
    }
};

// A key of `type` holding `value` and `compare`, with the code and words `writer` read
// (a FlatWriter, a SetKeyWriter or an ImageInKey) in its own block: a new reference,
// or null.
template <class Writer>
PyObject* key_with_words(PyTypeObject* type, PyObject* value, PyObject* compare, Writer& writer) noexcept {
    PyObject* self = alloc_key_with_room(type, writer.bytes());
    if (!self) return nullptr;
    auto* key = reinterpret_cast<KeyObject*>(self);
    key->value = Py_NewRef(value);
    key->compare = Py_NewRef(compare);
    writer.put(key);
    PyObject_GC_Track(self);
    return self;
}

}  // namespace

PyObject* new_key_with_image(PyTypeObject* type, PyObject* value, PyObject* compare, bool* served) noexcept {
    // The image is written first, to size the key. Allocating the key may run the
    // collector, and so any code, which may change the value: the image holds the
    // versions of what it read, and what changed is found out as for any image. The
    // value is held by the caller meanwhile, and by the key after.
    *served = false;
    if (FlatWriter flat; flat.write(compare, value)) {
        *served = true;
        return key_with_words(type, value, compare, flat);
    }
    const FunctionSpec* spec = spec_of(compare);
    if (spec == &compare_set_spec.function) {
        SetKeyWriter set;
        if (!set.write(compare, value)) return nullptr;
        *served = true;
        return key_with_words(type, value, compare, set);
    }
    if (spec != &compare_struct_spec.function && spec != &compare_variant_spec.function &&
        spec != &compare_recursive_spec.function)
        return nullptr;
    ImageWriter writer;
    const bool complete = writer.value(compare, value, Leaf::None);
    // The image starts in the key's code, at image_head, and goes on over the code's
    // bits into the room after the key's fields (the block starts at a word boundary).
    constexpr size_t head = offsetof(KeyObject, code) + offsetof(KeyCode, image_head);
    constexpr size_t head_bytes = sizeof(KeyCode) - offsetof(KeyCode, image_head);
    const size_t bytes = writer.bytes(complete, head % alignof(Word));
    if (!bytes) return nullptr;
    *served = true;
    ImageInKey in_key{writer, complete, bytes > head_bytes ? bytes - head_bytes : 0};
    return key_with_words(type, value, compare, in_key);
}

// The whole walk (key_image.hpp).
int image::compare_images_walked(const KeyObject* a, const KeyObject* b, const KeyImage* ia, const KeyImage* ib,
                                 unsigned n, bool checks_pass, int* sign) noexcept {
    if (checks_pass) {
        NoChecks none;
        return walk_images(a, b, ia, ib, 0, n, words_of(ia), words_of(ib), none, sign);
    }
    RecursionChecks checks(static_cast<int>(n));
    return walk_images(a, b, ia, ib, 0, n, words_of(ia), words_of(ib), checks, sign);
}

}  // namespace vorn::sortkit
