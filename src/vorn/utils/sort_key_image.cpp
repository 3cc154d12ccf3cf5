// The images of Struct and Variant values (nested, and through recursive types) that
// let keys order exact dicts without calling their comparers, and the in-place walk
// of Array keys.
#include "common/compat.hpp"
#include "vorn/utils/compare_builders.hpp"
#include "vorn/utils/composites.hpp"
#include "vorn/utils/sort_key.hpp"
#include "vorn/utils/value_access.hpp"

#include <cstddef>
#include <cstring>

namespace vorn::sortkit {

// An image is the walk the comparer would make over one value, written down when the
// key is made: a run of steps in the order the comparer takes them, each the native
// reading of one thing it reads, in one or two words. Two images are compared step
// by step, as the comparer compares the two values, until a step decides.
namespace {

enum StepKind : uint8_t {
    kNodeStep,     // a Struct or Variant value entered: its dict, and the dict's version
                   // tag when read (the entries are unchanged while it is)
    kCasesStep,    // a Variant's case table (a dict, read once the case names are
                   // equal), and its version tag
    kForwardStep,  // a recursive forwarder passed, and the target it held
    kTagStep,      // a Variant's case name, an exact str: ordered as strs are
    // A scalar under one of the scalar orders (Leaf), one kind per order so that a
    // step is told apart by one switch.
    kZeroStep, kIntStep, kDoubleStep, kStringStep,
};

// The step kind of a scalar under `leaf`, or kNodeStep (none) for a leaf that is no order.
StepKind value_kind(Leaf leaf) noexcept {
    switch (leaf) {
        case Leaf::OrderZero: return kZeroStep;
        case Leaf::OrderInt: return kIntStep;
        case Leaf::OrderDouble: return kDoubleStep;
        case Leaf::OrderString: return kStringStep;
        default: return kNodeStep;
    }
}

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

constexpr const char* kWhere = " while comparing values";
constexpr const char* kForwardWhere = " in a recursive type";

size_t words_offset(unsigned steps) noexcept {
    return (offsetof(KeyImage, kinds) + steps + alignof(Word) - 1) / alignof(Word) * alignof(Word);
}
const Word* words_of(const KeyImage* image) noexcept {
    return reinterpret_cast<const Word*>(reinterpret_cast<const char*>(image) + words_offset(image->steps));
}

bool has_spec(PyObject* fn, const NativeSpec& spec) noexcept {
    return is_native_function(fn) && reinterpret_cast<NativeFunction*>(fn)->spec == &spec.function;
}

PyObject* as_object(uint64_t n) noexcept { return reinterpret_cast<PyObject*>(static_cast<uintptr_t>(n)); }
uint64_t as_number(PyObject* o) noexcept { return reinterpret_cast<uintptr_t>(o); }

// The steps of a value under one of our comparers. Nothing here runs user code: only
// exact dicts of exact str keys are read, by exact str keys (the field names interned
// when the comparer was built, the case names read from the value). Where the
// comparer would read something an image cannot hold (another kind of value or
// comparer, a missing entry, a full image), the image ends there, incomplete.
class ImageWriter {
public:
    // Writes the steps of `v` under `fn`; false where the image ends.
    bool value(PyObject* fn, PyObject* v) noexcept {
        while (has_spec(fn, compare_recursive_spec)) {
            PyObject* target = peek_forward_target(fn);
            if (!target || !add(kForwardStep, fn, as_number(target))) return false;
            fn = target;
        }
        if (const StepKind kind = value_kind(leaf_of(fn, 3)); kind != kNodeStep) return add(kind, v);
        const bool is_struct = has_spec(fn, compare_struct_spec);
        if (!is_struct && !has_spec(fn, compare_variant_spec)) return false;
        if (!PyDict_CheckExact(v) || !compat::dict_has_only_str_keys(v)) return false;
        const uint64_t version = compat::dict_version(v);
        if (!version || !add(kNodeStep, v, version)) return false;
        return is_struct ? struct_fields(fn, v) : variant_case(fn, v);
    }

    // The image written, or null (nothing that decides, or no memory: the comparer serves).
    KeyImage* finish(bool complete) const noexcept {
        bool decides = complete;
        for (unsigned i = 0; i < steps_; ++i) decides |= kinds_[i] >= kTagStep;
        if (!decides) return nullptr;
        const size_t offset = words_offset(steps_);
        auto* image = static_cast<KeyImage*>(PyMem_Malloc(offset + sizeof(Word) * words_));
        if (!image) return nullptr;
        image->steps = static_cast<uint8_t>(steps_);
        image->complete = complete;
        std::memcpy(image->kinds, kinds_, steps_);
        std::memcpy(reinterpret_cast<char*>(image) + offset, word_, sizeof(Word) * words_);
        return image;
    }

private:
    bool add(uint8_t kind, PyObject* object) noexcept {
        if (steps_ == kMaxSteps) return false;
        kinds_[steps_++] = kind;
        word_[words_++].object = object;
        return true;
    }
    bool add(uint8_t kind, PyObject* object, uint64_t number) noexcept {
        if (!add(kind, object)) return false;
        word_[words_++].number = number;
        return true;
    }

    // The fields in the comparer's order.
    bool struct_fields(PyObject* fn, PyObject* d) noexcept {
        FieldTable* table = frozen_fields(fn);
        if (!table) return false;
        for (Py_ssize_t i = 0, n = Py_SIZE(table); i < n; ++i) {
            const Field& f = table->fields[i];
            PyObject* v = f.key ? PyDict_GetItemWithError(d, f.key) : nullptr;
            if (!v || !value(f.fn, v)) return false;
        }
        return true;
    }

    // The case name, the case table (read once the names are equal), then the payload
    // under that case's comparer.
    bool variant_case(PyObject* fn, PyObject* d) noexcept {
        PyObject* cases = reinterpret_cast<NativeFunction*>(fn)->state[slot::kCases];
        if (!cases || !PyDict_CheckExact(cases) || !compat::dict_has_only_str_keys(cases)) return false;
        PyObject* tag = PyDict_GetItemWithError(d, str<"type">());
        if (!tag || !PyUnicode_CheckExact(tag) || !add(kTagStep, tag)) return false;
        const uint64_t version = compat::dict_version(cases);
        if (!version || !add(kCasesStep, cases, version)) return false;
        PyObject* case_fn = PyDict_GetItemWithError(cases, tag);
        PyObject* payload = PyDict_GetItemWithError(d, str<"value">());
        return case_fn && payload && value(case_fn, payload);
    }

    Word word_[2 * kMaxSteps];
    uint8_t kinds_[kMaxSteps];
    unsigned steps_ = 0, words_ = 0;
};

}  // namespace

void drop_image(KeyObject* key) noexcept {
    if (KeyImage* image = image_of(key)) {
        key->code = KeyCode{};
        PyMem_Free(image);
    }
}

void update_image(KeyObject* key) noexcept {
    drop_image(key);
    if (has_spec(key->compare, compare_array_spec)) {
        // An Array of a scalar order: its lists are walked in place (compare_lists).
        PyObject* elem = component(reinterpret_cast<NativeFunction*>(key->compare));
        const Leaf leaf = elem ? leaf_of(elem, 3) : Leaf::None;
        if (leaf != Leaf::None && PyList_Check(key->value)) key->code = KeyCode{0, kListCode, static_cast<uint8_t>(leaf), 0};
        return;
    }
    ImageWriter writer;
    const bool complete = writer.value(key->compare, key->value);
    if (KeyImage* image = writer.finish(complete)) key->code = KeyCode{reinterpret_cast<uint64_t>(image), kImageCode, 0, 0};
}

int compare_images(KeyObject* a, KeyObject* b, int* sign) noexcept {
    const KeyImage* ia = image_of(a);
    const KeyImage* ib = image_of(b);
    if (a->compare != b->compare) return 0;
    // The two walks read alike while every step before has come out equal: the same
    // comparers met in the same order, so equal kinds lie at the same word. A step
    // that differs in kind ends the shortcut, and the comparer then makes the whole
    // walk itself: nothing observable has happened before, as no step runs user code.
    const uint8_t* ka = ia->kinds;
    const uint8_t* kb = ib->kinds;
    const Word* x = words_of(ia);
    const Word* y = words_of(ib);
    const unsigned n = ia->steps < ib->steps ? ia->steps : ib->steps;
    RecursionChecks checks(static_cast<int>(n));
    for (unsigned i = 0; i < n; ++i) {
        const uint8_t kind = ka[i];
        if (kind != kb[i]) return 0;
        switch (kind) {
            case kNodeStep:
                // The dict is the key's value or was read from a node checked before
                // (which still holds it): alive, and unchanged while its version is.
                if (compat::dict_version(x[0].object) != x[1].number || compat::dict_version(y[0].object) != y[1].number)
                    return 0;
                if (!checks.enter(kWhere)) return -1;  // the Struct or Variant comparer's own
                x += 2, y += 2;
                continue;
            case kCasesStep:
                // The table is reachable from Python (the collector's referents).
                if (x[0].object != y[0].object || x[1].number != y[1].number ||
                    compat::dict_version(x[0].object) != x[1].number)
                    return 0;
                x += 2, y += 2;
                continue;
            case kForwardStep:
                // So is the forwarder's cell: the target it holds now is the one read.
                if (x[0].object != y[0].object || x[1].number != y[1].number ||
                    peek_forward_target(x[0].object) != as_object(x[1].number))
                    return 0;
                if (!checks.enter(kForwardWhere)) return -1;
                x += 2, y += 2;
                continue;
            case kTagStep: *sign = compare_strs(x[0].object, y[0].object); break;
            case kZeroStep: *sign = 0; break;
            case kIntStep:
                if (!inline_order(Leaf::OrderInt, x[0].object, y[0].object, sign)) return 0;
                break;
            case kDoubleStep:
                if (!inline_order(Leaf::OrderDouble, x[0].object, y[0].object, sign)) return 0;
                break;
            default:
                if (!inline_order(Leaf::OrderString, x[0].object, y[0].object, sign)) return 0;
        }
        if (*sign) return 1;
        x += 1, y += 1;
    }
    if (!ia->complete || !ib->complete || ia->steps != ib->steps) return 0;
    *sign = 0;
    return 1;
}

int compare_lists(KeyObject* a, KeyObject* b, int* sign) noexcept {
    PyObject* x = a->value;
    PyObject* y = b->value;
    // What the Array comparer does, for lists whose items and sizes are read without
    // user code (exact lists, or subclasses that keep the list's indexing and len):
    // the same list is equal to itself before any check; then the recursion check,
    // and the common items by the element's order inline. An item that order cannot
    // read inline hands the whole comparison to the comparer: nothing observable has
    // happened before it.
    if (a->compare != b->compare || !is_plain_list(x) || !is_plain_list(y) || !has_list_len(x) || !has_list_len(y))
        return 0;
    if (x == y) {
        *sign = 0;
        return 1;
    }
    RecursionGuard guard(" while comparing values");
    if (guard.failed()) return -1;
    const auto leaf = static_cast<Leaf>(a->code.held);
    const Py_ssize_t lx = PyList_GET_SIZE(x), ly = PyList_GET_SIZE(y);
    PyObject* const* xs = reinterpret_cast<PyListObject*>(x)->ob_item;
    PyObject* const* ys = reinterpret_cast<PyListObject*>(y)->ob_item;
    for (Py_ssize_t i = 0, n = lx < ly ? lx : ly; i < n; ++i) {
        if (!inline_order(leaf, xs[i], ys[i], sign)) return 0;
        if (*sign) return 1;
    }
    *sign = (lx > ly) - (lx < ly);
    return 1;
}

}  // namespace vorn::sortkit
