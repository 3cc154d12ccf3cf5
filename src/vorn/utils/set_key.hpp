// Set keys: a key of an exact set or frozenset of at most kSetElementsInPlace exact ints
// within 64 bits, under a Set comparer that sorts such elements natively (by the
// Integer order). The comparer sorts both sets' values at every comparison; the key
// sorts its set's once, when it is made. Its words, after its fields: the values
// sorted, then for each element the slot of the set's table it lay in and the element.
// The key holds those elements, so that no other object takes an element's address
// while it lives; the set then holds the same elements, and no others, while each
// still lies in its slot of a table of the same size, as many as there were (a
// removed element leaves a dummy in its slot, and a table made anew another size or
// other slots). Its code: kSetCode, `length` the elements, `bits` the table's mask.
#pragma once

#include "vorn/utils/compare_functions.hpp"
#include "vorn/utils/key_image.hpp"

#include <cstdint>

namespace vorn::sortkit {

inline const int64_t* set_values(const KeyObject* key) noexcept {
    return reinterpret_cast<const int64_t*>(key + 1);
}
inline const uint64_t* set_slots(const KeyObject* key) noexcept {
    return reinterpret_cast<const uint64_t*>(key + 1) + key->code.length;
}

// Whether the Set comparer `compare` sorts the elements of exact sets by the Integer
// order natively now (its element comparer and key class are ours and unchanged).
inline bool sorts_ints_natively(PyObject* compare) noexcept {
    PyObject* elem = reinterpret_cast<NativeFunction*>(compare)->state[slot::kComponent];
    PyObject* keys = reinterpret_cast<NativeFunction*>(compare)->state[slot::kKeyClass];
    return elem && keys && native_set_order(elem, keys) == Leaf::OrderInt;
}

// Reads an exact set for a key of kSetCode, holding what it read until put() hands it
// to the key: read before the key is allocated (which may run any code), so that a
// change the allocation makes shows as any later change does.
class SetKeyWriter {
public:
    SetKeyWriter() noexcept = default;
    SetKeyWriter(const SetKeyWriter&) = delete;
    SetKeyWriter& operator=(const SetKeyWriter&) = delete;
    ~SetKeyWriter() {
        for (Py_ssize_t i = 0; i < n_; ++i) Py_DECREF(elements_[i]);
    }

    // Whether `v` under the comparer `compare` (a Set comparer) makes a key of kSetCode.
    bool write(PyObject* compare, PyObject* v) noexcept {
        if (!PyAnySet_CheckExact(v) || !sorts_ints_natively(compare)) return false;
        Py_ssize_t slots[kSetElementsInPlace];
        const Py_ssize_t n = compat::set_elements_in_slots(v, &mask_, elements_, slots, kSetElementsInPlace);
        if (n < 0 || !sorted_int_values(elements_, n, values_)) return false;
        for (Py_ssize_t i = 0; i < n; ++i) {
            Py_INCREF(elements_[i]);
            slots_[i] = static_cast<uint64_t>(slots[i]);
        }
        n_ = n;
        return true;
    }

    // The room the words take after the key's fields.
    size_t bytes() const noexcept { return sizeof(uint64_t) * 3 * static_cast<size_t>(n_); }

    void put(KeyObject* key) noexcept {
        key->code = KeyCode{kSetCode, 0, static_cast<uint8_t>(n_), {}, static_cast<uint64_t>(mask_)};
        auto* values = reinterpret_cast<int64_t*>(key + 1);
        auto* slots = reinterpret_cast<uint64_t*>(values + n_);
        for (Py_ssize_t i = 0; i < n_; ++i) {
            values[i] = values_[i];
            slots[2 * i] = slots_[i];
            slots[2 * i + 1] = reinterpret_cast<uint64_t>(elements_[i]);  // the key's reference now
        }
        n_ = 0;
    }

private:
    Py_ssize_t n_ = 0, mask_ = 0;
    PyObject* elements_[kSetElementsInPlace];  // held from write() to put()
    uint64_t slots_[kSetElementsInPlace];
    int64_t values_[kSetElementsInPlace];
};

namespace image {

// Orders two keys of kSetCode as the Set comparer orders their sets: 1 with `*sign`
// set, 0 when the comparer must be called (another comparer, one that no longer sorts
// natively, a set changed since, or a recursion check or C stack that its own call
// might not pass: it then raises where it would).
[[gnu::always_inline]] inline int compare_sets(const KeyObject* a, const KeyObject* b, int* sign) noexcept {
    if (a->compare != b->compare) return 0;
    if (a->value == b->value) {  // the comparer's answer before its check
        *sign = 0;
        return 1;
    }
    if (checks_known_to_pass() <= 1 || !stack_known_to_have_room(kStackPerStep)) return 0;
    if (!sorts_ints_natively(a->compare)) return 0;
    const unsigned nx = a->code.length, ny = b->code.length;
    if (!compat::set_holds_in_slots(a->value, static_cast<Py_ssize_t>(a->code.bits), set_slots(a), nx) ||
        !compat::set_holds_in_slots(b->value, static_cast<Py_ssize_t>(b->code.bits), set_slots(b), ny))
        return 0;
    const int64_t* x = set_values(a);
    const int64_t* y = set_values(b);
    for (unsigned i = 0, n = nx < ny ? nx : ny; i < n; ++i) {
        if (x[i] != y[i]) {
            *sign = x[i] < y[i] ? -1 : 1;
            return 1;
        }
    }
    *sign = (nx > ny) - (nx < ny);
    return 1;
}

}  // namespace image
}  // namespace vorn::sortkit
