// The images of Struct and Variant values (nested, and through recursive types) that
// let keys order exact dicts without calling their comparers, and the in-place walk
// of Array keys.
#include "common/compat.hpp"
#include "common/dict_signal.hpp"
#include "vorn/utils/compare_functions.hpp"
#include "vorn/utils/field_access.hpp"
#include "vorn/utils/sort_key.hpp"
#include "vorn/utils/value_access.hpp"

#include <cstddef>
#include <cstring>

namespace vorn::sortkit {

// An image is the walk the comparer would make over one value, written down when the
// key is made: a run of steps in the order the comparer takes them, each the native
// reading of one thing it reads, in one to three words. Two images are compared step
// by step, as the comparer compares the two values, until a step decides.
namespace {

enum StepKind : uint8_t {
    kRootStep,     // the key's own value entered as a Struct or Variant: the stamp of
                   // its dict when read (dict_signal: the entries hold while it does)
    kNodeStep,     // a Struct or Variant value entered below it: its dict, and that
                   // dict's stamp, as for the root
    kForwardStep,  // a recursive forwarder passed, the target it held, and the target's
                   // serial (an address alone may be a later function's)
    kTagStep,      // a Variant's case name, an exact str (ordered as strs are); then its
                   // case table, read once the names are equal, with its stamp
    // A scalar under one of the scalar orders (Leaf), held as the key's own code for it
    // would be (code_of), so that comparing two reads neither object: no word for
    // the order that makes all values equal; the code for an Integer or a Float; for a
    // String, the code of its first characters, one kind per character width, then
    // the str itself for when those are equal.
    kZeroStep, kNumberStep, kStr1Step, kStr2Step, kStr4Step,
};

constexpr bool is_string_step(uint8_t kind) noexcept { return kind >= kStr1Step; }

// The words each kind of step holds, in order: the stride of a walk over them.
constexpr int kRootWords = 1;     // the stamp
constexpr int kNodeWords = 2;     // the dict, its stamp
constexpr int kForwardWords = 3;  // the forwarder, its target, the target's serial
constexpr int kTagWords = 3;      // the case name, the case table, the table's stamp
constexpr int kNumberWords = 1;   // the code
constexpr int kStrWords = 2;      // the code of the leading characters, the str

union Word {
    PyObject* object;  // borrowed: from the dict of the node it lies in, or from our functions
    uint64_t number;
};

}  // namespace

// The kinds come first, in the line the walk reads first; the words after them,
// aligned.
struct KeyImage {
    uint8_t steps;     // kinds
    bool complete;     // the steps are the comparer's whole walk; else it reads on past them
    uint8_t kinds[1];  // `steps` of them, then the words
};

namespace {

// Steps kept per image: enough for a few levels of nesting, bounded so that a deep
// value costs its key no more than a few hundred bytes.
constexpr unsigned kMaxSteps = 40;

// A generous bound on the C stack that one call of a comparer stood in for by a step
// takes (a sanitizer build's frames included).
constexpr std::uintptr_t kStackPerStep = 4096;

constexpr const char* kWhere = " while comparing values";
constexpr const char* kForwardWhere = " in a recursive type";

size_t words_offset(unsigned steps) noexcept {
    return (offsetof(KeyImage, kinds) + steps + alignof(Word) - 1) / alignof(Word) * alignof(Word);
}
const Word* words_of(const KeyImage* image) noexcept {
    return reinterpret_cast<const Word*>(reinterpret_cast<const char*>(image) + words_offset(image->steps));
}

const FunctionSpec* spec_of(PyObject* fn) noexcept {
    return is_native_function(fn) ? reinterpret_cast<NativeFunction*>(fn)->spec : nullptr;
}

// `d[f.key]` for an exact dict of exact str keys, read as the comparer reads fields
// (the entry where it was found last, then a lookup): borrowed, or null when it is
// missing. Nothing is allocated and no exception is set, so nothing can run here,
// not even the collector.
PyObject* str_item(PyObject* d, Field& f) noexcept {
    PyObject* v = hinted_field(d, f);
    return v ? v : find_field(d, f);
}

// The keys a Variant value is read by, and the last entries where a case was found
// (hints only).
Field tag_field{nullptr, nullptr, nullptr, 0, Leaf::None};
Field payload_field{nullptr, nullptr, nullptr, 0, Leaf::None};
Py_ssize_t case_slot = 0;

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
        if (!version || !(root ? add(kRootStep, version) : add(kNodeStep, v, version))) return false;
        return is_struct ? struct_fields(fn, v) : variant_case(fn, v);
    }

    // The bytes of the image written, or 0 when it is not worth keeping (nothing in it
    // decides: the comparer serves).
    size_t bytes(bool complete) const noexcept {
        return complete || decides_ ? words_offset(steps_) + sizeof(Word) * words_ : 0;
    }

    // The image written, put in place at `image`, of bytes(complete) bytes.
    void put(KeyImage* image, bool complete) const noexcept {
        image->steps = static_cast<uint8_t>(steps_);
        image->complete = complete;
        char* base = reinterpret_cast<char*>(image);
        std::memcpy(base + offsetof(KeyImage, kinds), kinds_, steps_);
        std::memcpy(base + words_offset(steps_), word_, sizeof(Word) * words_);
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
            case kStr1Code: return add(kStr1Step, code.bits, v);
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
        PyObject* cases = reinterpret_cast<NativeFunction*>(fn)->state[slot::kCases];
        if (!cases || !PyDict_CheckExact(cases) || !compat::dict_has_only_str_keys(cases)) return false;
        tag_field.name = tag_field.key = str<"type">();  // interned, alive for the process
        PyObject* tag = str_item(d, tag_field);
        const uint64_t version = dict_signal::stamp(cases);
        if (!tag || !PyUnicode_CheckExact(tag) || !version || !add(kTagStep, tag, cases, version)) return false;
        Field case_field{tag, nullptr, tag, case_slot, Leaf::None};
        PyObject* case_fn = str_item(cases, case_field);
        case_slot = case_field.slot;
        payload_field.name = payload_field.key = str<"value">();
        PyObject* payload = case_fn ? str_item(d, payload_field) : nullptr;
        return payload && value(case_fn, payload, Leaf::None);
    }

    Word word_[3 * kMaxSteps];
    uint8_t kinds_[kMaxSteps];
    unsigned steps_ = 0, words_ = 0;
    bool decides_ = false;
    bool entered_ = false;  // a value entered (a root step written)
};

}  // namespace

void drop_image(KeyObject* key) noexcept {
    if (KeyImage* image = image_of(key)) {
        const bool own_allocation = key->code.held != kImageInKey;
        key->code = KeyCode{};
        if (own_allocation) PyMem_Free(image);
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
        if (leaf != Leaf::None && PyList_Check(key->value)) key->code = KeyCode{0, kListCode, static_cast<uint8_t>(leaf), 0};
        return;
    }
    // The writer runs no code (it allocates nothing, and the image is no object), so
    // the key's fields stay the ones it read.
    ImageWriter writer;
    const bool complete = writer.value(key->compare, key->value, Leaf::None);
    const size_t bytes = writer.bytes(complete);
    if (!bytes) return;
    auto* image = static_cast<KeyImage*>(PyMem_Malloc(bytes));
    if (!image) return;  // the comparer serves
    writer.put(image, complete);
    key->code = KeyCode{reinterpret_cast<uint64_t>(image), kImageCode, 0, 0};
}

PyObject* new_key_with_image(PyTypeObject* type, PyObject* value, PyObject* compare, bool* served) noexcept {
    // The image is written first, to size the key. Allocating the key may run the
    // collector, and so any code, which may change the value: the image holds the
    // versions of what it read, and what changed is found out as for any image. The
    // value is held by the caller meanwhile, and by the key after.
    *served = false;
    const FunctionSpec* spec = spec_of(compare);
    if (spec != &compare_struct_spec.function && spec != &compare_variant_spec.function &&
        spec != &compare_recursive_spec.function)
        return nullptr;
    ImageWriter writer;
    const bool complete = writer.value(compare, value, Leaf::None);
    const size_t bytes = writer.bytes(complete);
    if (!bytes) return nullptr;
    *served = true;
    PyObject* self = alloc_key_with_room(type, bytes);
    if (!self) return nullptr;
    auto* key = reinterpret_cast<KeyObject*>(self);
    key->value = Py_NewRef(value);
    key->compare = Py_NewRef(compare);
    auto* image = reinterpret_cast<KeyImage*>(key + 1);
    writer.put(image, complete);
    key->code = KeyCode{reinterpret_cast<uint64_t>(image), kImageCode, kImageInKey, 0};
    PyObject_GC_Track(self);
    return self;
}

namespace {

// Whether the dicts of two node steps are unchanged since their images were made. Each
// is a key's value, or was read from a node checked before (which still holds it), so
// it is alive. Where stamps are epochs, those of an image are all its root's, checked
// before.
inline bool node_unchanged(const Word* x, const Word* y) noexcept {
    if constexpr (dict_signal::kEpochs) return true;
    return dict_signal::unchanged(x[0].object, x[1].number) && dict_signal::unchanged(y[0].object, y[1].number);
}

// Whether the dicts of the two keys' values are unchanged since their images were
// made, their root steps at `x` and `y`.
inline bool root_unchanged(const KeyObject* a, const KeyObject* b, const Word* x, const Word* y) noexcept {
    return dict_signal::unchanged(a->value, x[0].number) && dict_signal::unchanged(b->value, y[0].number);
}

// Whether `forwarder` holds `target` now, the function of that serial. The cell holds
// what it holds alive, so its serial can be read.
inline bool same_target(PyObject* forwarder, PyObject* target, uint64_t serial) noexcept {
    PyObject* now = peek_forward_target(forwarder);
    return now == target && is_native_function(now) && reinterpret_cast<NativeFunction*>(now)->serial == serial;
}

}  // namespace

namespace {

// The checks of a walk whose every recursion check is known to pass: none is made.
struct NoChecks {
    static bool enter(const char*) noexcept { return true; }
};

// The steps of two images from step `i` on, at the words `x` and `y`, up to the
// shorter one's end (`n` steps), with the recursion checks of `checks`.
template <class Checks>
int walk_images(const KeyObject* a, const KeyObject* b, const KeyImage* ia, const KeyImage* ib, unsigned i, unsigned n,
                const Word* x, const Word* y, Checks& checks, int* sign) noexcept {
    for (const uint8_t *k = ia->kinds + i, *end = ia->kinds + n, *other = ib->kinds + i; k != end; ++k, ++other) {
        const uint8_t kind = *k;
        int order;
        if (kind != *other) {
            // Strs of different character widths: their codes do not compare, the strs do.
            if (!is_string_step(kind) || !is_string_step(*other)) return 0;
            if ((order = compare_strs(x[1].object, y[1].object))) {
                *sign = order;
                return 1;
            }
            x += kStrWords, y += kStrWords;
            continue;
        }
        switch (kind) {
            case kRootStep:  // after forwarders
                if (!root_unchanged(a, b, x, y)) return 0;
                if (!checks.enter(kWhere)) return -1;
                x += kRootWords, y += kRootWords;
                continue;
            case kNodeStep:
                if (!node_unchanged(x, y)) return 0;
                if (!checks.enter(kWhere)) return -1;  // the Struct or Variant comparer's own
                x += kNodeWords, y += kNodeWords;
                continue;
            case kForwardStep:
                // The forwarder's cell is reachable from Python (the collector's
                // referents): the target it holds now must be the one read, the same
                // function and not a later one at its address.
                if (x[0].object != y[0].object || x[1].object != y[1].object || x[2].number != y[2].number ||
                    !same_target(x[0].object, x[1].object, x[2].number))
                    return 0;
                if (!checks.enter(kForwardWhere)) return -1;
                x += kForwardWords, y += kForwardWords;
                continue;
            case kTagStep:
                if ((order = compare_strs(x[0].object, y[0].object))) break;
                // Equal names: the comparer reads the case table, reachable from Python
                // (the collector's referents); it must be the one the images read.
                if (x[1].object != y[1].object || x[2].number != y[2].number ||
                    (!dict_signal::kEpochs && !dict_signal::unchanged(x[1].object, x[2].number)))
                    return 0;
                x += kTagWords, y += kTagWords;
                continue;
            case kZeroStep: continue;
            case kNumberStep:
                if (x[0].number != y[0].number) {
                    *sign = x[0].number < y[0].number ? -1 : 1;
                    return 1;
                }
                x += kNumberWords, y += kNumberWords;
                continue;
            default:  // a str: its leading characters, then the whole str when they are equal
                order = x[0].number != y[0].number ? (x[0].number < y[0].number ? -1 : 1)
                                                   : compare_strs(x[1].object, y[1].object);
        }
        if (order) {
            *sign = order;
            return 1;
        }
        x += kStrWords, y += kStrWords;  // a str whose leading characters and str were equal
    }
    if (!ia->complete || !ib->complete || ia->steps != ib->steps) return 0;
    *sign = 0;
    return 1;
}

// The walk with its recursion checks made one by one, where they may not all pass
// (near the recursion limit), or where the images do not both start at their root.
[[gnu::noinline]] int compare_images_checked(const KeyObject* a, const KeyObject* b, const KeyImage* ia,
                                             const KeyImage* ib, unsigned n, int* sign) noexcept {
    RecursionChecks checks(static_cast<int>(n));
    return walk_images(a, b, ia, ib, 0, n, words_of(ia), words_of(ib), checks, sign);
}

}  // namespace

int compare_images(KeyObject* a, KeyObject* b, int* sign) noexcept {
    if (a->compare != b->compare) return 0;
    const int headroom = checks_known_to_pass();
    // The two walks read alike while every step before has come out equal: the same
    // comparers met in the same order, so equal kinds lie at the same word. A step
    // that differs in kind ends the shortcut, and the comparer then makes the whole
    // walk itself: nothing observable has happened before, as no step runs user code.
    const auto* ia = reinterpret_cast<const KeyImage*>(a->code.bits);  // both kImageCode
    const auto* ib = reinterpret_cast<const KeyImage*>(b->code.bits);
    const unsigned n = ia->steps < ib->steps ? ia->steps : ib->steps;
    // The comparer's calls would probe the C stack at each level, deeper each time:
    // near its end the comparer answers, with its own RecursionError where it comes.
    if (!stack_has_room(kStackPerStep * n)) return 0;
    // Nearly every image starts with its root step: when the walk's checks all pass,
    // none is made.
    if (headroom > static_cast<int>(n) && n && ia->kinds[0] == kRootStep && ib->kinds[0] == kRootStep) {
        const Word* x = words_of(ia);
        const Word* y = words_of(ib);
        if (!root_unchanged(a, b, x, y)) return 0;
        NoChecks none;
        return walk_images(a, b, ia, ib, 1, n, x + kRootWords, y + kRootWords, none, sign);
    }
    return compare_images_checked(a, b, ia, ib, n, sign);
}

namespace {

// The common items of two lists by the element order `leaf` inline, then their
// lengths, as compare_lists returns.
inline int compare_list_items(Leaf leaf, PyObject* x, PyObject* y, int* sign) noexcept {
    const Py_ssize_t lx = PyList_GET_SIZE(x), ly = PyList_GET_SIZE(y);
    PyObject* const* xs = compat::sequence_items(x);
    PyObject* const* ys = compat::sequence_items(y);
    for (Py_ssize_t i = 0, n = lx < ly ? lx : ly; i < n; ++i) {
        if (!inline_order(leaf, xs[i], ys[i], sign)) return 0;
        if (*sign) return 1;
    }
    *sign = (lx > ly) - (lx < ly);
    return 1;
}

}  // namespace

int compare_lists(KeyObject* a, KeyObject* b, int* sign) noexcept {
    PyObject* x = a->value;
    PyObject* y = b->value;
    // What the Array comparer does, for lists whose items and sizes are read without
    // user code (exact lists, or subclasses that keep the list's indexing and len):
    // the same list is equal to itself before any check; then the recursion check,
    // and the common items by the element's order inline. An item that order cannot
    // read inline hands the whole comparison to the comparer: nothing observable has
    // happened before it.
    if (a->compare != b->compare || !is_plain_list(x) || !has_list_len(x) ||
        (Py_TYPE(y) != Py_TYPE(x) && (!is_plain_list(y) || !has_list_len(y))))  // one class: asked once
        return 0;
    if (x == y) {
        *sign = 0;
        return 1;
    }
    const auto leaf = static_cast<Leaf>(a->code.held);
    if (checks_known_to_pass() > 1 && !stack_nearly_exhausted()) return compare_list_items(leaf, x, y, sign);
    RecursionGuard guard(kWhere);
    if (guard.failed()) return -1;
    return compare_list_items(leaf, x, y, sign);
}

}  // namespace vorn::sortkit
