// The literal forms of the text format shared by the type and value printers.
#include "lexical.hpp"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <locale.h>

namespace vorn_rt {
namespace {

// 1 for bytes copied as they are. 0xC2 starts the two-byte forms of U+0080..U+00BF,
// among which the C1 controls must be escaped, so it is looked at separately.
struct PlainTable {
    bool plain[256];
    constexpr PlainTable() : plain() {
        for (int b = 0; b < 256; ++b) plain[b] = b >= 0x20 && b != '"' && b != '\\' && b != 0x7F && b != 0xC2;
    }
};
constexpr PlainTable kPlain;

void write_escape(TextBuffer& out, uint32_t cp) noexcept {
    switch (cp) {
        case '"': out.put("\\\"", 2); return;
        case '\\': out.put("\\\\", 2); return;
        case '\n': out.put("\\n", 2); return;
        case '\r': out.put("\\r", 2); return;
        case '\t': out.put("\\t", 2); return;
        default: break;
    }
    static const char hex[] = "0123456789abcdef";
    char buf[12];
    size_t n = 0;
    buf[n++] = '\\';
    buf[n++] = 'u';
    buf[n++] = '{';
    bool started = false;
    for (int shift = 20; shift >= 0; shift -= 4) {
        unsigned digit = (cp >> shift) & 0xF;
        if (digit || started || shift == 0) {
            buf[n++] = hex[digit];
            started = true;
        }
    }
    buf[n++] = '}';
    out.put(buf, n);
}

// True when some byte of `w` is below 0x20, is '"', '\\' or DEL, or is not ASCII.
inline bool word_needs_care(uint64_t w) noexcept {
    constexpr uint64_t ones = 0x0101010101010101ULL, highs = 0x8080808080808080ULL;
    auto has_zero = [](uint64_t x) { return (x - ones) & ~x & highs; };
    uint64_t below_space = (w - ones * 0x20) & ~w & highs;
    return ((w & highs) | below_space | has_zero(w ^ (ones * '"')) | has_zero(w ^ (ones * '\\')) |
            has_zero(w ^ (ones * 0x7F))) != 0;
}

}  // namespace

size_t plain_ascii_run(const char* data, size_t size) noexcept {
    size_t i = 0;
    while (size - i >= 8) {
        uint64_t w;
        std::memcpy(&w, data + i, 8);
        if (word_needs_care(w)) break;
        i += 8;
    }
    while (i < size) {
        unsigned char b = static_cast<unsigned char>(data[i]);
        if (b < 0x20 || b >= 0x7F || b == '"' || b == '\\') break;
        ++i;
    }
    return i;
}

void write_string(TextBuffer& out, const char* data, size_t size) noexcept {
    auto* p = reinterpret_cast<const unsigned char*>(data);
    const unsigned char* end = p + size;
    out.reserve(size + 2);
    out.put('"');
    while (p < end) {
        const unsigned char* run = p;
        p += plain_ascii_run(reinterpret_cast<const char*>(p), static_cast<size_t>(end - p));
        while (p < end && kPlain.plain[*p]) ++p;
        out.put(reinterpret_cast<const char*>(run), static_cast<size_t>(p - run));
        if (p == end) break;
        if (*p == 0xC2 && p + 1 < end && p[1] >= 0xA0) {
            out.put(reinterpret_cast<const char*>(p), 2);  // U+00A0..U+00BF: printable
            p += 2;
        } else if (*p == 0xC2 && p + 1 < end) {
            write_escape(out, p[1]);  // a C1 control, U+0080..U+009F
            p += 2;
        } else {
            write_escape(out, *p);
            ++p;
        }
    }
    out.put('"');
}

bool is_identifier(const char* data, size_t size) noexcept {
    if (size == 0) return false;
    for (size_t i = 0; i < size; ++i) {
        char c = data[i];
        bool alpha = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
        bool digit = c >= '0' && c <= '9';
        if (!(alpha || (digit && i > 0))) return false;
    }
    return true;
}

void write_name(TextBuffer& out, const std::string& name) noexcept {
    if (is_identifier(name.data(), name.size())) out.put(name.data(), name.size());
    else write_string(out, name.data(), name.size());
}

void write_int(TextBuffer& out, int64_t i) noexcept {
    if (!out.reserve(24)) return;
    char* at = out.end();
    auto r = std::to_chars(at, at + 24, i);
    out.commit(static_cast<size_t>(r.ptr - at));
}

void write_float(TextBuffer& out, double f) noexcept {
    if (std::isnan(f)) return out.put("nan", 3);
    if (std::isinf(f)) return f > 0 ? out.put("inf", 3) : out.put("-inf", 4);
    if (!out.reserve(40)) return;
    char* at = out.end();
    auto r = std::to_chars(at, at + 32, f);
    size_t n = static_cast<size_t>(r.ptr - at);
    bool has_mark = false;
    for (size_t i = 0; i < n; ++i) has_mark = has_mark || at[i] == '.' || at[i] == 'e';
    if (!has_mark) {
        at[n++] = '.';
        at[n++] = '0';
    }
    out.commit(n);
}

// strtod_l rather than std::from_chars(double), whose libstdc++ symbol (GCC 11 and
// later) would tie the runtime to that libstdc++: the same correctly rounded value,
// and the same range as from_chars, which also refuses overflow to infinity and a
// nonzero literal that underflows to zero, and accepts subnormal results.
bool read_float(const char* start, const char* end, double* out) noexcept {
    static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", nullptr);
    if (!c_locale) return false;
    try {
        std::string text(start, end);  // strtod_l reads a terminated string
        errno = 0;
        char* stop = nullptr;
        double f = strtod_l(text.c_str(), &stop, c_locale);
        if (stop != text.c_str() + text.size()) return false;
        if (errno == ERANGE && (f == 0.0 || std::isinf(f))) return false;
        *out = f;
        return true;
    } catch (...) {
        return false;
    }
}

int64_t days_from_civil(int64_t y, unsigned m, unsigned d) noexcept {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civil_from_days(int64_t z, int64_t* y, unsigned* m, unsigned* d) noexcept {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<int64_t>(yoe) + era * 400 + (*m <= 2);
}

bool write_datetime(TextBuffer& out, int64_t micros) noexcept {
    constexpr int64_t kDay = 86400LL * 1000000LL;
    int64_t days = micros / kDay;
    int64_t rest = micros % kDay;
    if (rest < 0) {
        rest += kDay;
        days -= 1;
    }
    int64_t y;
    unsigned mo, d;
    civil_from_days(days, &y, &mo, &d);
    if (y < 1 || y > 9999) return false;
    int64_t secs = rest / 1000000;
    unsigned us = static_cast<unsigned>(rest % 1000000);
    unsigned h = static_cast<unsigned>(secs / 3600), mi = static_cast<unsigned>(secs / 60 % 60),
             s = static_cast<unsigned>(secs % 60);
    char buf[32];
    auto two = [](char* p, unsigned v) { p[0] = static_cast<char>('0' + v / 10); p[1] = static_cast<char>('0' + v % 10); };
    unsigned yy = static_cast<unsigned>(y);
    buf[0] = static_cast<char>('0' + yy / 1000);
    buf[1] = static_cast<char>('0' + yy / 100 % 10);
    two(buf + 2, yy % 100);
    buf[4] = '-';
    two(buf + 5, mo);
    buf[7] = '-';
    two(buf + 8, d);
    buf[10] = 'T';
    two(buf + 11, h);
    buf[13] = ':';
    two(buf + 14, mi);
    buf[16] = ':';
    two(buf + 17, s);
    size_t n = 19;
    if (us) {
        buf[n++] = '.';
        for (unsigned div = 100000; div; div /= 10) buf[n++] = static_cast<char>('0' + us / div % 10);
    }
    buf[n++] = 'Z';
    out.put(buf, n);
    return true;
}

}  // namespace vorn_rt
