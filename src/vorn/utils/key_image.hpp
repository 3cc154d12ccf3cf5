// The layout of the image a key keeps of its value (written in sort_key_image.cpp),
// and the comparison of two keys by their images or by walking their lists in place,
// inline in the keys' rich comparison.
#pragma once

#include "common/compat.hpp"
#include "common/dict_signal.hpp"
#include "common/recursion.hpp"
#include "vorn/utils/comparer_protocol.hpp"
#include "vorn/utils/leaf_functions.hpp"
#include "vorn/utils/sort_key.hpp"
#include "vorn/utils/value_access.hpp"

#include <cstddef>
#include <cstdint>

namespace vorn::sortkit {

// The kinds come first, in the line the walk reads first; the words after them,
// from the first word boundary on. An image may start anywhere: in a key's block it
// starts in the key's code (KeyCode::image_head), so that its first bytes take no
// room of their own.
struct KeyImage {
    uint8_t steps;     // kinds
    bool complete;     // the steps are the comparer's whole walk; else it reads on past them
    uint8_t kinds[1];  // `steps` of them, then the words
};

namespace image {

// An image is the walk the comparer would make over one value, written down when the
// key is made: a run of steps in the order the comparer takes them, each the native
// reading of one thing it reads, in one to three words. Two images are compared step
// by step, as the comparer compares the two values, until a step decides.
enum StepKind : uint8_t {
    kRootStep,     // the key's own value entered as a Struct or Variant: the stamp of
                   // its dict when read (dict_signal: the entries hold while it does)
    kNodeStep,     // a Struct or Variant value entered below it: on 3.11 its dict and
                   // that dict's stamp, as for the root; from 3.12 nothing, as all the
                   // stamps of an image are its root's (dict_signal: epochs)
    kForwardStep,  // a recursive forwarder passed, the target it held, and the target's
                   // serial (an address alone may be a later function's)
    kTagStep,      // a Variant's case name, an exact str (ordered as strs are); then its
                   // case table, read once the names are equal (on 3.11 with its stamp)
    // A scalar under one of the scalar orders (Leaf), held as the key's own code for it
    // would be (code_of), so that comparing two reads neither object: no word for
    // the order that makes all values equal; the code for an Integer or a Float; for a
    // String, the code of its first characters, one kind per character width, then
    // the str itself for when those are equal (of one byte a character: str1_code,
    // and the str only where the code does not hold it whole).
    kZeroStep, kNumberStep, kStr1Step, kStr2Step, kStr4Step,
};

inline constexpr bool is_string_step(uint8_t kind) noexcept { return kind >= kStr1Step; }

// The code of a str of one byte a character (kStr1Step) from its key code (code_of):
// its first 7 characters, zero padded, then its length capped at 8. Unsigned order of
// the codes is the order of the strs, up to strs whose codes are equal: where the
// characters differ they decide; where the shorter is padded with zeros it is a
// prefix of the other or that has zeros there, and the lengths decide. A code with a
// length below 8 holds its str whole: equal codes are equal strs, and no word for the
// str follows it. Only strs of 8 characters and more, with equal codes, are compared
// as strs. One form for all, so that the steps of two keys at one field are of one
// kind however long their strs are, and a walk over them takes the same branches.
inline constexpr uint64_t str1_code(uint64_t bits, uint8_t length) noexcept {
    return (bits & ~uint64_t{0xff}) | (length < 8 ? length : 8);
}
inline constexpr bool str1_held_whole(uint64_t code) noexcept { return (code & 0xff) < 8; }

// The words each kind of step holds, in order: the stride of a walk over them.
inline constexpr int kRootWords = 1;     // the stamp
inline constexpr int kNodeWords = dict_signal::kEpochs ? 0 : 2;  // (the dict, its stamp)
inline constexpr int kForwardWords = 3;  // the forwarder, its target, the target's serial
inline constexpr int kTagWords = dict_signal::kEpochs ? 2 : 3;  // the case name, the case table(, its stamp)
inline constexpr int kNumberWords = 1;   // the code
inline constexpr int kStrWords = 2;      // the code of the leading characters, the str
inline constexpr int kHeldStrWords = 1;  // a kStr1Step whose code holds its str whole: the code

union Word {
    PyObject* object;  // borrowed: from the dict of the node it lies in, or from our functions
    uint64_t number;
};

// Steps kept per image: enough for a few levels of nesting, bounded so that a deep
// value costs its key no more than a few hundred bytes.
inline constexpr unsigned kMaxSteps = 40;

// A generous bound on the C stack that one call of a comparer stood in for by a step
// takes (a sanitizer build's frames included).
inline constexpr std::uintptr_t kStackPerStep = 4096;

inline constexpr const char* kWhere = " while comparing values";
inline constexpr const char* kForwardWhere = " in a recursive type";

// The first word boundary at or after the address (or offset from one) `n`.
inline constexpr std::uintptr_t word_ceil(std::uintptr_t n) noexcept {
    return (n + alignof(Word) - 1) & ~std::uintptr_t{alignof(Word) - 1};
}
template <class T>
inline T* word_aligned(T* p) noexcept {
    return reinterpret_cast<T*>(word_ceil(reinterpret_cast<std::uintptr_t>(p)));
}
inline const Word* words_of(const KeyImage* image) noexcept {
    return reinterpret_cast<const Word*>(word_aligned(image->kinds + image->steps));
}

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
[[gnu::always_inline]] inline bool same_target(PyObject* forwarder, PyObject* target, uint64_t serial) noexcept {
    PyObject* now = peek_forward_target(forwarder);
    return now == target && is_native_function(now) && reinterpret_cast<NativeFunction*>(now)->serial == serial;
}

// The checks of a walk whose every recursion check is known to pass: none is made.
struct NoChecks {
    static bool enter(const char*) noexcept { return true; }
};

// The steps of two images from step `i` on, at the words `x` and `y`, up to the
// shorter one's end (`n` steps), with the recursion checks of `checks`.
template <class Checks>
inline int walk_images(const KeyObject* a, const KeyObject* b, const KeyImage* ia, const KeyImage* ib, unsigned i,
                       unsigned n, const Word* x, const Word* y, Checks& checks, int* sign) noexcept {
    PyObject *held_forwarder = nullptr, *held_target = nullptr;  // the last forward step found to hold
    uint64_t held_serial = 0;
    // The other image's kinds lie at a fixed distance from this one's: one pointer
    // walks both.
    const std::ptrdiff_t to_other = ib->kinds - ia->kinds;
    for (const uint8_t *k = ia->kinds + i, *end = ia->kinds + n; k != end; ++k) {
        const uint8_t kind = *k;
        const uint8_t* other = k + to_other;
        int order;
        if (kind != *other) {
            // Strs of different character widths: their codes do not compare, the strs
            // do (where a code holds its str whole, the comparer).
            if (!is_string_step(kind) || !is_string_step(*other)) return 0;
            if ((kind == kStr1Step && str1_held_whole(x[0].number)) ||
                (*other == kStr1Step && str1_held_whole(y[0].number)))
                return 0;
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
                // function and not a later one at its address. Asked once a walk for
                // each forwarder met (a recursive type's steps meet one again and
                // again), as nothing can change it during the walk.
                if (x[0].object != y[0].object || x[1].object != y[1].object || x[2].number != y[2].number)
                    return 0;
                if (x[0].object != held_forwarder || x[1].object != held_target || x[2].number != held_serial) {
                    if (!same_target(x[0].object, x[1].object, x[2].number)) return 0;
                    held_forwarder = x[0].object, held_target = x[1].object, held_serial = x[2].number;
                }
                if (!checks.enter(kForwardWhere)) return -1;
                x += kForwardWords, y += kForwardWords;
                continue;
            case kTagStep:
                // Case names are mostly the same interned str: asked here, before a call.
                if (x[0].object != y[0].object && (order = compare_strs(x[0].object, y[0].object))) break;
                // Equal names: the comparer reads the case table, reachable from Python
                // (the collector's referents); it must be the one the images read.
                if (x[1].object != y[1].object) return 0;
                if constexpr (!dict_signal::kEpochs) {
                    if (x[2].number != y[2].number || !dict_signal::unchanged(x[1].object, x[2].number)) return 0;
                }
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
                if (x[0].number != y[0].number) {
                    order = x[0].number < y[0].number ? -1 : 1;
                } else if (kind == kStr1Step && str1_held_whole(x[0].number)) {
                    x += kHeldStrWords, y += kHeldStrWords;  // equal strs held whole
                    continue;
                } else {
                    order = x[1].object == y[1].object ? 0 : compare_strs(x[1].object, y[1].object);
                }
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

// The steps after the root that two images decide by their words alone, `n` steps in
// all: 1 with `*sign` set; 2 where two strs at `*sx` and `*sy` (case names, or strs
// whose leading characters are equal) decide unless they are equal; 0 where a step
// needs more (kinds that differ, a forwarder that no longer holds what it held, or an
// end that the comparer reads past when `whole` is false). What is not decided here
// the whole walk decides from the start, as nothing here is observable. Every
// recursion check passes (the caller knows).
[[gnu::always_inline]] inline int walk_plain_steps(const KeyImage* ia, const KeyImage* ib, unsigned n, bool whole,
                                                   const Word* x, const Word* y, int* sign, PyObject** sx,
                                                   PyObject** sy) noexcept {
    const std::ptrdiff_t to_other = ib->kinds - ia->kinds;
    for (const uint8_t *k = ia->kinds + 1, *end = ia->kinds + n; k != end; ++k) {
        const uint8_t kind = *k;
        if (kind != k[to_other]) return 0;
        switch (kind) {
            case kNodeStep:
                if (!node_unchanged(x, y)) return 0;
                x += kNodeWords, y += kNodeWords;
                continue;
            case kTagStep:
                if (x[0].object != y[0].object) {
                    *sx = x[0].object, *sy = y[0].object;
                    return 2;
                }
                if (x[1].object != y[1].object) return 0;
                if constexpr (!dict_signal::kEpochs) {
                    if (x[2].number != y[2].number || !dict_signal::unchanged(x[1].object, x[2].number)) return 0;
                }
                x += kTagWords, y += kTagWords;
                continue;
            case kForwardStep:  // as in walk_images, asked at each one met
                if (x[0].object != y[0].object || x[1].object != y[1].object || x[2].number != y[2].number ||
                    !same_target(x[0].object, x[1].object, x[2].number))
                    return 0;
                x += kForwardWords, y += kForwardWords;
                continue;
            case kZeroStep: continue;
            case kNumberStep:
            case kStr1Step:
            case kStr2Step:
            case kStr4Step:
                if (x[0].number != y[0].number) {
                    *sign = x[0].number < y[0].number ? -1 : 1;
                    return 1;
                }
                if (kind == kNumberStep || (kind == kStr1Step && str1_held_whole(x[0].number))) {
                    x += kNumberWords, y += kNumberWords;  // as many as kHeldStrWords
                    continue;
                }
                if (x[1].object != y[1].object) {
                    *sx = x[1].object, *sy = y[1].object;
                    return 2;
                }
                x += kStrWords, y += kStrWords;
                continue;
            default: return 0;  // a root below the first step
        }
    }
    if (!whole) return 0;
    *sign = 0;
    return 1;
}

// Orders two keys of kImageCode by the steps of their images that decide without a
// call (walk_plain_steps), where both start at their root and every recursion check
// passes: 1 with `*sign` set, 0 when the whole walk must decide (compare_images). Its
// calls come before the walk (the recursion check) and after it (two strs), so that
// the walk keeps its pointers in registers that a call would clobber.
[[gnu::always_inline]] inline int compare_plain_images(const KeyObject* a, const KeyObject* b, int* sign) noexcept {
    if (a->compare != b->compare) return 0;
    const int headroom = checks_known_to_pass();
    const KeyImage* ia = image_in(a);
    const KeyImage* ib = image_in(b);
    const unsigned n = ia->steps < ib->steps ? ia->steps : ib->steps;
    if (headroom <= static_cast<int>(n) || !stack_known_to_have_room(kStackPerStep * n)) return 0;
    if (!n || ia->kinds[0] != kRootStep || ib->kinds[0] != kRootStep) return 0;
    const Word* x = words_of(ia);
    const Word* y = words_of(ib);
    if (!root_unchanged(a, b, x, y)) return 0;
    const bool whole = ia->complete && ib->complete && ia->steps == ib->steps;
    PyObject *sx, *sy;
    const int r = walk_plain_steps(ia, ib, n, whole, x + kRootWords, y + kRootWords, sign, &sx, &sy);
    if (r != 2) return r;
    // Equal strs leave the rest to the whole walk.
    return (*sign = compare_strs(sx, sy)) != 0;
}

// The whole walk, with its recursion checks made one by one (RecursionChecks), or with
// none where `checks_pass` says they all pass: for the images that do not both start
// at their root, and near the recursion limit (sort_key_image.cpp).
[[gnu::noinline]] int compare_images_walked(const KeyObject* a, const KeyObject* b, const KeyImage* ia,
                                            const KeyImage* ib, unsigned n, bool checks_pass, int* sign) noexcept;

// Orders two keys of kImageCode by their images: 1 with `*sign` set, 0 when the
// comparer must be called, -1 with an exception set (RecursionError, as the comparer
// would raise it).
[[gnu::always_inline]] inline int compare_images(KeyObject* a, KeyObject* b, int* sign) noexcept {
    if (a->compare != b->compare) return 0;
    const int headroom = checks_known_to_pass();
    // The two walks read alike while every step before has come out equal: the same
    // comparers met in the same order, so equal kinds lie at the same word. A step
    // that differs in kind ends the shortcut, and the comparer then makes the whole
    // walk itself: nothing observable has happened before, as no step runs user code.
    const KeyImage* ia = image_in(a);  // both kImageCode
    const KeyImage* ib = image_in(b);
    const unsigned n = ia->steps < ib->steps ? ia->steps : ib->steps;
    // The comparer's calls would probe the C stack at each level, deeper each time:
    // near its end the comparer answers, with its own RecursionError where it comes.
    if (!stack_has_room(kStackPerStep * n)) return 0;
    // When the walk's checks all pass, none is made; nearly every image starts with its
    // root step, taken here.
    const bool checks_pass = headroom > static_cast<int>(n);
    if (checks_pass && n && ia->kinds[0] == kRootStep && ib->kinds[0] == kRootStep) {
        const Word* x = words_of(ia);
        const Word* y = words_of(ib);
        if (!root_unchanged(a, b, x, y)) return 0;
        NoChecks none;
        return walk_images(a, b, ia, ib, 1, n, x + kRootWords, y + kRootWords, none, sign);
    }
    return compare_images_walked(a, b, ia, ib, n, checks_pass, sign);
}

// The common items of two lists by the element order `Order` inline, then their
// lengths, as compare_lists returns.
template <Leaf Order>
inline int compare_list_items_by(PyObject* const* xs, Py_ssize_t lx, PyObject* const* ys, Py_ssize_t ly,
                                 int* sign) noexcept {
    int order;  // kept out of memory while the items are equal
    for (Py_ssize_t i = 0, n = lx < ly ? lx : ly; i < n; ++i) {
        if (!inline_order(Order, xs[i], ys[i], &order)) return 0;
        if (order) {
            *sign = order;
            return 1;
        }
    }
    *sign = (lx > ly) - (lx < ly);
    return 1;
}

// compare_list_items_by with the order chosen once, before the items.
inline int compare_list_items(Leaf leaf, PyObject* x, PyObject* y, int* sign) noexcept {
    const Py_ssize_t lx = PyList_GET_SIZE(x), ly = PyList_GET_SIZE(y);
    PyObject* const* xs = compat::sequence_items(x);
    PyObject* const* ys = compat::sequence_items(y);
    switch (leaf) {
        case Leaf::OrderInt: return compare_list_items_by<Leaf::OrderInt>(xs, lx, ys, ly, sign);
        case Leaf::OrderDouble: return compare_list_items_by<Leaf::OrderDouble>(xs, lx, ys, ly, sign);
        case Leaf::OrderString: return compare_list_items_by<Leaf::OrderString>(xs, lx, ys, ly, sign);
        case Leaf::OrderZero: return compare_list_items_by<Leaf::OrderZero>(xs, lx, ys, ly, sign);
        default: return 0;  // no order of ours: the comparer
    }
}

// Orders two keys of kListCode by walking their lists in place, as compare_images
// (its return values) does for images.
[[gnu::always_inline]] inline int compare_lists(KeyObject* a, KeyObject* b, int* sign) noexcept {
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
    // The C stack first, as the guard below asks it, before any check is made.
    if (!stack_nearly_exhausted() && checks_known_to_pass() > 1) return compare_list_items(leaf, x, y, sign);
    RecursionGuard guard(kWhere);
    if (guard.failed()) return -1;
    return compare_list_items(leaf, x, y, sign);
}

}  // namespace image
}  // namespace vorn::sortkit
