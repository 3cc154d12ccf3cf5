// The native images ("codes") that let a key order exact ints, floats and strs
// under our scalar comparers without calling them. Inline, as making a key of a
// record computes one for each field.
#pragma once

#include "common/compat.hpp"
#include "vorn/utils/leaf_functions.hpp"
#include "vorn/utils/sort_key.hpp"

#include <bit>
#include <cmath>
#include <cstring>

namespace vorn::sortkit {
namespace key_code {

inline constexpr uint64_t kSignBit = uint64_t{1} << 63;

// Signed order as unsigned order.
inline uint64_t int64_code(int64_t n) noexcept { return static_cast<uint64_t>(n) ^ kSignBit; }

// The float order (NaN greatest and equal to every NaN, -0.0 below +0.0) as unsigned
// order: IEEE total order of the bit patterns, with every NaN made the greatest value.
inline uint64_t double_code(double d) noexcept {
    if (std::isnan(d)) return ~uint64_t{0};
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return bits & kSignBit ? ~bits : bits | kSignBit;
}

// The unsigned integer whose big-endian bytes lie at `p`.
template <class Word>
inline Word load_big_endian(const unsigned char* p) noexcept {
    Word w;
    std::memcpy(&w, p, sizeof w);
    if constexpr (std::endian::native == std::endian::little) {
        if constexpr (sizeof w == 8) w = __builtin_bswap64(w);
        else w = __builtin_bswap32(w);
    }
    return w;
}

// The first characters of a ready exact str, big-endian, so that unsigned order of
// the codes is code point order of those characters (zero padded).
inline void string_code(PyObject* s, KeyCode* code) noexcept {
    const int kind = PyUnicode_KIND(s);
    const Py_ssize_t held = 8 >> (kind >> 1);  // 8 / kind for kinds 1, 2 and 4, without a division
    const Py_ssize_t len = PyUnicode_GET_LENGTH(s);
    const void* data = PyUnicode_DATA(s);
    uint64_t bits = 0;
    if (kind == PyUnicode_1BYTE_KIND) {
        // The bytes as they lie, read as one big-endian word; a shorter str by two
        // reads that overlap, as reading past its end is reading past the object.
        const auto* bytes = static_cast<const unsigned char*>(data);
        if (len >= 8) {
            bits = load_big_endian<uint64_t>(bytes);
        } else if (len >= 4) {
            bits = uint64_t{load_big_endian<uint32_t>(bytes)} << 32 |
                   uint64_t{load_big_endian<uint32_t>(bytes + len - 4)} << (8 * (8 - len));
        } else if (len > 0) {
            bits = uint64_t{bytes[0]} << 56 | uint64_t{bytes[len / 2]} << (56 - 8 * (len / 2)) |
                   uint64_t{bytes[len - 1]} << (56 - 8 * (len - 1));
        }
    } else {
        for (Py_ssize_t i = 0; i < held && i < len; ++i)
            bits |= static_cast<uint64_t>(PyUnicode_READ(kind, data, i)) << (64 - 8 * kind * (i + 1));
    }
    code->bits = bits;
    code->kind = kind == PyUnicode_1BYTE_KIND ? kStr1Code : kind == PyUnicode_2BYTE_KIND ? kStr2Code : kStr4Code;
    code->held = static_cast<uint8_t>(held);
    code->length = static_cast<uint8_t>(len <= held ? len : held + 1);
}

}  // namespace key_code

// The code of `v` under the scalar order `leaf` when `v` is an exact int within 64
// bits, float or (ready) str that the order reads; otherwise no code (kNoCode).
inline KeyCode code_of(Leaf leaf, PyObject* v) noexcept {
    using namespace key_code;
    switch (leaf) {
        case Leaf::OrderInt: {
            int64_t n;
            // Out of range: no code, so the comparer raises its OverflowError.
            if (PyLong_CheckExact(v) && compat::int64_value(v, &n)) return KeyCode{kInt64Code, 0, 0, {}, int64_code(n)};
            break;
        }
        case Leaf::OrderDouble:
            if (PyFloat_CheckExact(v)) return KeyCode{kDoubleCode, 0, 0, {}, double_code(PyFloat_AS_DOUBLE(v))};
            break;
        case Leaf::OrderString:
            if (PyUnicode_CheckExact(v) && PyUnicode_IS_READY(v)) {
                KeyCode code{};
                string_code(v, &code);
                return code;
            }
            break;
        default: break;
    }
    return KeyCode{};
}

}  // namespace vorn::sortkit
