// The literal forms of the text format shared by the type and value printers:
// strings, names, numbers and date-times.
#pragma once

#include "text_buffer.hpp"

#include <cstdint>
#include <string>

namespace vorn_rt {

// A double-quoted string; `data` is valid UTF-8. Control characters (C0, DEL, C1),
// quotes and backslashes are escaped, so the output holds no raw control byte.
void write_string(TextBuffer& out, const char* data, size_t size) noexcept;

// Length of the leading run of bytes that stand for themselves inside a string
// literal: printable ASCII other than '"' and '\\'. Scans eight bytes at a time.
size_t plain_ascii_run(const char* data, size_t size) noexcept;

// [A-Za-z_][A-Za-z0-9_]*
bool is_identifier(const char* data, size_t size) noexcept;

// A member or scope name: bare when it is an identifier, else a quoted string.
void write_name(TextBuffer& out, const std::string& name) noexcept;

void write_int(TextBuffer& out, int64_t i) noexcept;

// Shortest text that reads back as the same double; always has a '.' or an
// exponent, or is one of nan, inf, -inf.
void write_float(TextBuffer& out, double f) noexcept;

// The double that a Float literal [start, end) stands for (its syntax already checked:
// digits, an optional fraction and exponent), correctly rounded; false when it is out
// of range (beyond the largest double, or nonzero and rounding to zero) or out of
// memory. Read in the "C" locale, whatever locale the process has set.
bool read_float(const char* start, const char* end, double* out) noexcept;

// ISO 8601 in UTC: 2024-05-01T12:30:00Z, with .ffffff when there are microseconds.
// False for years outside 1..9999.
bool write_datetime(TextBuffer& out, int64_t micros) noexcept;

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) noexcept;
void civil_from_days(int64_t z, int64_t* y, unsigned* m, unsigned* d) noexcept;

}  // namespace vorn_rt
