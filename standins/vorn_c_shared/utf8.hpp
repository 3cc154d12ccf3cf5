// UTF-8 validation, decoding and encoding of single code points.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorn_rt {

// True when `data` is well-formed UTF-8 (no overlong forms, surrogates or code
// points above U+10FFFF).
bool utf8_valid(const char* data, size_t size) noexcept;

// Decodes the multi-byte sequence at `p` (whose first byte is >= 0x80) into `cp`;
// returns its length, or 0 when it is malformed.
size_t utf8_decode(const unsigned char* p, const unsigned char* end, uint32_t* cp) noexcept;

// Writes `cp` (a Unicode scalar value) to `out`; returns the length.
size_t utf8_encode(uint32_t cp, char out[4]) noexcept;

}  // namespace vorn_rt
