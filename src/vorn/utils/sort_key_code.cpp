// The native images ("codes") that let a key order exact ints, floats and strs
// under our scalar comparers without calling them.
#include "common/compat.hpp"
#include "vorn/utils/leaf_functions.hpp"
#include "vorn/utils/sort_key.hpp"

#include <bit>
#include <cmath>
#include <cstring>

namespace vorn::sortkit {
namespace {

constexpr uint64_t kSignBit = uint64_t{1} << 63;

// Signed order as unsigned order.
uint64_t int64_code(int64_t n) noexcept { return static_cast<uint64_t>(n) ^ kSignBit; }

// The float order (NaN greatest and equal to every NaN, -0.0 below +0.0) as unsigned
// order: IEEE total order of the bit patterns, with every NaN made the greatest value.
uint64_t double_code(double d) noexcept {
    if (std::isnan(d)) return ~uint64_t{0};
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return bits & kSignBit ? ~bits : bits | kSignBit;
}

// The first characters of a ready exact str, big-endian, so that unsigned order of
// the codes is code point order of those characters (zero padded).
void string_code(PyObject* s, KeyCode* code) noexcept {
    const int kind = PyUnicode_KIND(s);
    const Py_ssize_t held = 8 / kind;
    const Py_ssize_t len = PyUnicode_GET_LENGTH(s);
    const void* data = PyUnicode_DATA(s);
    uint64_t bits = 0;
    if (kind == PyUnicode_1BYTE_KIND) {
        // The bytes as they lie, read as one big-endian word.
        std::memcpy(&bits, data, static_cast<size_t>(len < held ? len : held));
        if constexpr (std::endian::native == std::endian::little) bits = __builtin_bswap64(bits);
    } else {
        for (Py_ssize_t i = 0; i < held && i < len; ++i)
            bits |= static_cast<uint64_t>(PyUnicode_READ(kind, data, i)) << (64 - 8 * kind * (i + 1));
    }
    code->bits = bits;
    code->kind = kind == PyUnicode_1BYTE_KIND ? kStr1Code : kind == PyUnicode_2BYTE_KIND ? kStr2Code : kStr4Code;
    code->held = static_cast<uint8_t>(held);
    code->length = static_cast<uint8_t>(len <= held ? len : held + 1);
}

}  // namespace

KeyCode code_of(Leaf leaf, PyObject* v) noexcept {
    switch (leaf) {
        case Leaf::OrderInt: {
            int64_t n;
            // Out of range: no code, so the comparer raises its OverflowError.
            if (PyLong_CheckExact(v) && compat::int64_value(v, &n)) return KeyCode{int64_code(n), kInt64Code, 0, 0};
            break;
        }
        case Leaf::OrderDouble:
            if (PyFloat_CheckExact(v)) return KeyCode{double_code(PyFloat_AS_DOUBLE(v)), kDoubleCode, 0, 0};
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

void update_code(KeyObject* key) noexcept {
    drop_image(key);
    const Leaf leaf = leaf_of(key->compare, kWithoutContext);
    key->code = code_of(leaf, key->value);
    if (leaf == Leaf::None) update_image(key);
}

}  // namespace vorn::sortkit
