// The value parser: a recursive descent over the text, directed by the type, that
// accepts exactly one value of that type with optional whitespace around it.
#include "lexical.hpp"
#include "runtime.hpp"
#include "stack_guard.hpp"
#include "utf8.hpp"

#include <charconv>
#include <cstring>
#include <memory>
#include <string>

using namespace vorn_rt;

namespace {

struct ValueReleaser {
    void operator()(VornValue* v) const noexcept { vorn_value_release(v); }
};
using Owned = std::unique_ptr<VornValue, ValueReleaser>;

bool is_ident_char(char c) noexcept {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

int hex_digit(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

class Parser {
public:
    Parser(const char* text, size_t size) noexcept : p_(text), end_(text + size) {}

    VornValue* parse(const VornType* t) noexcept {
        skip_ws();
        Owned v(value(t, nullptr, 0));
        if (!v) return nullptr;
        skip_ws();
        return p_ == end_ ? v.release() : nullptr;
    }

private:
    const char* p_;
    const char* end_;

    // ---- tokens

    void skip_ws() noexcept {
        while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r')) ++p_;
    }

    // Punctuation, after optional whitespace.
    bool punct(char c) noexcept {
        skip_ws();
        if (p_ < end_ && *p_ == c) {
            ++p_;
            return true;
        }
        return false;
    }

    bool peek(char c) noexcept {
        skip_ws();
        return p_ < end_ && *p_ == c;
    }

    // A keyword that is not the start of a longer identifier.
    bool keyword(const char* word, size_t n) noexcept {
        if (static_cast<size_t>(end_ - p_) < n || std::memcmp(p_, word, n) != 0) return false;
        if (p_ + n < end_ && is_ident_char(p_[n])) return false;
        p_ += n;
        return true;
    }

    // ---- values

    VornValue* value(const VornType* t, const VornScope* env, int depth) noexcept {
        if (depth > kMaxDepth || stack_nearly_exhausted()) return nullptr;
        skip_ws();
        switch (t->kind) {
            case VORN_NULL:
                return keyword("null", 4) ? null_value() : nullptr;
            case VORN_BOOLEAN:
                if (keyword("true", 4)) return bool_value(true);
                return keyword("false", 5) ? bool_value(false) : nullptr;
            case VORN_INTEGER:
                return integer();
            case VORN_FLOAT:
                return floating();
            case VORN_STRING:
                return string();
            case VORN_DATETIME:
                return datetime();
            case VORN_BLOB:
                return blob();
            case VORN_VECTOR:
                if (!keyword("vec", 3) || !punct('[')) return nullptr;
                return list(VORN_VECTOR, ']', t->children[0], env, depth);
            case VORN_ARRAY:
                if (!punct('[')) return nullptr;
                return list(VORN_ARRAY, ']', t->children[0], env, depth);
            case VORN_SET:
                if (p_ + 1 >= end_ || p_[0] != '#' || p_[1] != '{') return nullptr;
                p_ += 2;
                return list(VORN_SET, '}', t->children[0], env, depth);
            case VORN_MATRIX:
                return matrix(t->children[0], env, depth);
            case VORN_DICT:
                return dict(t, env, depth);
            case VORN_STRUCT:
                return record(t, env, depth);
            case VORN_VARIANT:
                return variant(t, env, depth);
            case VORN_REF: {
                if (!keyword("ref", 3) || !punct('(')) return nullptr;
                Owned target(value(t->children[0], env, depth + 1));
                if (!target || !punct(')')) return nullptr;
                return vorn_value_ref(target.release());
            }
            case VORN_RECURSIVE:
                if (t->rec_ref) {
                    const VornScope* frame = vorn_scope_find(env, t);
                    return frame ? value(frame->wrapper->children[0], frame, depth + 1) : nullptr;
                } else {
                    VornScope frame{t, env};
                    return value(t->children[0], &frame, depth + 1);
                }
            default:
                return nullptr;  // Never and the function kinds have no text
        }
    }

    // -?(0|[1-9][0-9]*)
    bool scan_digits(bool allow_sign) noexcept {
        if (allow_sign && p_ < end_ && *p_ == '-') ++p_;
        if (p_ >= end_ || *p_ < '0' || *p_ > '9') return false;
        if (*p_ == '0') {
            ++p_;
            return p_ >= end_ || *p_ < '0' || *p_ > '9';
        }
        while (p_ < end_ && *p_ >= '0' && *p_ <= '9') ++p_;
        return true;
    }

    VornValue* integer() noexcept {
        const char* start = p_;
        if (!scan_digits(true)) return nullptr;
        int64_t i;
        auto r = std::from_chars(start, p_, i);
        if (r.ec != std::errc() || r.ptr != p_) return nullptr;
        return vorn_value_int(i);
    }

    VornValue* floating() noexcept {
        if (keyword("nan", 3)) return vorn_value_float(__builtin_nan(""));
        if (keyword("inf", 3)) return vorn_value_float(__builtin_inf());
        if (keyword("-inf", 4)) return vorn_value_float(-__builtin_inf());
        const char* start = p_;
        if (!scan_digits(true)) return nullptr;
        if (p_ < end_ && *p_ == '.') {
            ++p_;
            const char* frac = p_;
            while (p_ < end_ && *p_ >= '0' && *p_ <= '9') ++p_;
            if (p_ == frac) return nullptr;
        }
        if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
            ++p_;
            if (p_ < end_ && (*p_ == '+' || *p_ == '-')) ++p_;
            const char* exp = p_;
            while (p_ < end_ && *p_ >= '0' && *p_ <= '9') ++p_;
            if (p_ == exp) return nullptr;
        }
        double f;
        if (!read_float(start, p_, &f)) return nullptr;
        return vorn_value_float(f);
    }

    // "..." with \" \\ \n \r \t \u{hex}; raw control characters are not allowed.
    bool quoted(std::string& out) noexcept {
        if (p_ >= end_ || *p_ != '"') return false;
        ++p_;
        try {
            for (;;) {
                const char* run = p_;
                p_ += plain_ascii_run(p_, static_cast<size_t>(end_ - p_));
                out.append(run, static_cast<size_t>(p_ - run));
                if (p_ >= end_) return false;
                unsigned char c = static_cast<unsigned char>(*p_);
                if (c == '"') {
                    ++p_;
                    return true;
                }
                if (c == '\\') {
                    if (!escape(out)) return false;
                    continue;
                }
                if (c < 0x80) return false;  // C0 control or DEL
                uint32_t cp;
                size_t n = utf8_decode(reinterpret_cast<const unsigned char*>(p_),
                                       reinterpret_cast<const unsigned char*>(end_), &cp);
                if (!n || cp <= 0x9F) return false;  // malformed, or a C1 control
                out.append(p_, n);
                p_ += n;
            }
        } catch (...) {
            return false;
        }
    }

    bool escape(std::string& out) {
        ++p_;  // the backslash
        if (p_ >= end_) return false;
        char c = *p_++;
        switch (c) {
            case '"': out.push_back('"'); return true;
            case '\\': out.push_back('\\'); return true;
            case 'n': out.push_back('\n'); return true;
            case 'r': out.push_back('\r'); return true;
            case 't': out.push_back('\t'); return true;
            case 'u': break;
            default: return false;
        }
        if (p_ >= end_ || *p_++ != '{') return false;
        uint32_t cp = 0;
        int digits = 0;
        while (p_ < end_ && *p_ != '}') {
            int d = hex_digit(*p_++);
            if (d < 0 || ++digits > 6) return false;
            cp = cp * 16 + static_cast<uint32_t>(d);
        }
        if (p_ >= end_ || digits == 0) return false;
        ++p_;  // the brace
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        char buf[4];
        out.append(buf, utf8_encode(cp, buf));
        return true;
    }

    VornValue* string() noexcept {
        std::string s;
        if (!quoted(s)) return nullptr;
        return make_string(std::move(s));
    }

    // A member name: an identifier or a quoted string.
    bool name(std::string& out) noexcept {
        skip_ws();
        if (p_ < end_ && *p_ == '"') return quoted(out);
        const char* start = p_;
        while (p_ < end_ && is_ident_char(*p_)) ++p_;
        if (p_ == start || (*start >= '0' && *start <= '9')) return false;
        try {
            out.assign(start, static_cast<size_t>(p_ - start));
        } catch (...) {
            return false;
        }
        return true;
    }

    VornValue* blob() noexcept {
        if (end_ - p_ < 2 || p_[0] != 'x' || p_[1] != '"') return nullptr;
        p_ += 2;
        const char* start = p_;
        while (p_ < end_ && *p_ != '"') ++p_;
        if (p_ >= end_ || (p_ - start) % 2) return nullptr;
        std::string bytes;
        try {
            bytes.resize(static_cast<size_t>(p_ - start) / 2);
        } catch (...) {
            return nullptr;
        }
        for (size_t i = 0; i < bytes.size(); ++i) {
            int hi = hex_digit(start[2 * i]), lo = hex_digit(start[2 * i + 1]);
            if (hi < 0 || lo < 0) return nullptr;
            bytes[i] = static_cast<char>(hi * 16 + lo);
        }
        ++p_;  // the closing quote
        return vorn_value_blob(bytes.data(), bytes.size());
    }

    // n fixed digits as a number, or -1.
    int fixed(int n) noexcept {
        if (end_ - p_ < n) return -1;
        int v = 0;
        for (int i = 0; i < n; ++i) {
            if (p_[i] < '0' || p_[i] > '9') return -1;
            v = v * 10 + (p_[i] - '0');
        }
        p_ += n;
        return v;
    }

    bool expect(char c) noexcept {
        if (p_ < end_ && *p_ == c) {
            ++p_;
            return true;
        }
        return false;
    }

    // YYYY-MM-DDTHH:MM:SS[.f{1,6}](Z|+HH:MM|-HH:MM)
    VornValue* datetime() noexcept {
        int y = fixed(4);
        if (y < 1 || !expect('-')) return nullptr;
        int mo = fixed(2);
        if (mo < 1 || mo > 12 || !expect('-')) return nullptr;
        int d = fixed(2);
        static const int month_days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
        int max_day = month_days[mo - 1] + (mo == 2 && leap ? 1 : 0);
        if (d < 1 || d > max_day || !expect('T')) return nullptr;
        int h = fixed(2);
        if (h < 0 || h > 23 || !expect(':')) return nullptr;
        int mi = fixed(2);
        if (mi < 0 || mi > 59 || !expect(':')) return nullptr;
        int s = fixed(2);
        if (s < 0 || s > 59) return nullptr;
        int64_t us = 0;
        if (expect('.')) {
            int digits = 0;
            while (p_ < end_ && *p_ >= '0' && *p_ <= '9') {
                if (++digits > 6) return nullptr;
                us = us * 10 + (*p_++ - '0');
            }
            if (digits == 0) return nullptr;
            for (; digits < 6; ++digits) us *= 10;
        }
        int64_t offset_minutes = 0;
        if (!expect('Z')) {
            if (p_ >= end_ || (*p_ != '+' && *p_ != '-')) return nullptr;
            int sign = *p_++ == '-' ? -1 : 1;
            int oh = fixed(2);
            if (oh < 0 || oh > 23 || !expect(':')) return nullptr;
            int om = fixed(2);
            if (om < 0 || om > 59) return nullptr;
            offset_minutes = sign * (oh * 60 + om);
        }
        int64_t days = days_from_civil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
        int64_t secs = days * 86400 + h * 3600 + mi * 60 + s - offset_minutes * 60;
        return vorn_value_datetime(secs * 1000000 + us);
    }

    // Items up to `close`, after the opening token.
    VornValue* list(VornKind kind, char close, const VornType* elem, const VornScope* env,
                    int depth) noexcept {
        Owned out(vorn_value_list(kind, 0));
        if (!out || !items_into(out.get(), close, elem, env, depth)) return nullptr;
        // A Set's text names each element once.
        if (kind == VORN_SET && vorn_value_first_repeat(out.get()) != -1) return nullptr;
        return out.release();
    }

    bool items_into(VornValue* out, char close, const VornType* elem, const VornScope* env,
                    int depth) noexcept {
        if (punct(close)) return true;
        auto* list = static_cast<ListValue*>(out);
        for (;;) {
            VornValue* item = value(elem, env, depth + 1);
            if (!item) return false;
            size_t before = list->items.size();
            vorn_value_append(out, item);
            if (list->items.size() == before) return false;  // out of memory
            if (punct(close)) return true;
            if (!punct(',')) return false;
        }
    }

    // mat[[..], [..]], or mat(0, cols)[] for a matrix without rows.
    VornValue* matrix(const VornType* elem, const VornScope* env, int depth) noexcept {
        if (!keyword("mat", 3)) return nullptr;
        bool shaped = punct('(');
        int64_t shape_rows = 0, shape_cols = 0;
        if (shaped) {
            skip_ws();
            VornValue* r = integer();
            if (!r) return nullptr;
            shape_rows = vorn_value_get_int(r);
            vorn_value_release(r);
            if (!punct(',')) return nullptr;
            skip_ws();
            VornValue* c = integer();
            if (!c) return nullptr;
            shape_cols = vorn_value_get_int(c);
            vorn_value_release(c);
            if (!punct(')') || shape_rows < 0 || shape_cols < 0) return nullptr;
        }
        if (!punct('[')) return nullptr;
        Owned cells(vorn_value_list(VORN_ARRAY, 0));
        if (!cells) return nullptr;
        auto* flat = static_cast<ListValue*>(cells.get());
        size_t rows = 0, cols = 0;
        if (!punct(']')) {
            for (;;) {
                if (!punct('[')) return nullptr;
                size_t before = flat->items.size();
                if (!items_into(cells.get(), ']', elem, env, depth + 1)) return nullptr;
                size_t width = flat->items.size() - before;
                if (rows == 0) cols = width;
                else if (width != cols) return nullptr;
                ++rows;
                if (punct(']')) break;
                if (!punct(',')) return nullptr;
            }
        }
        if (shaped) {
            if (static_cast<size_t>(shape_rows) != rows) return nullptr;
            if (rows == 0) cols = static_cast<size_t>(shape_cols);
            else if (static_cast<size_t>(shape_cols) != cols) return nullptr;
        }
        Owned m(vorn_value_matrix(rows, cols));
        if (!m) return nullptr;
        static_cast<ListValue*>(m.get())->items.swap(flat->items);
        return m.release();
    }

    VornValue* dict(const VornType* t, const VornScope* env, int depth) noexcept {
        if (!punct('{')) return nullptr;
        Owned out(vorn_value_dict(0));
        if (!out) return nullptr;
        if (punct('}')) return out.release();
        auto* d = static_cast<ListValue*>(out.get());
        for (;;) {
            Owned key(value(t->children[0], env, depth + 1));
            if (!key || !punct('=') || !expect('>')) return nullptr;
            Owned val(value(t->children[1], env, depth + 1));
            if (!val) return nullptr;
            size_t before = d->items.size();
            vorn_value_insert(out.get(), key.release(), val.release());
            if (d->items.size() == before) return nullptr;
            // A Dict's text names each key once.
            if (punct('}')) return vorn_value_first_repeat(out.get()) == -1 ? out.release() : nullptr;
            if (!punct(',')) return nullptr;
        }
    }

    // {name: value, ...}: every field exactly once, in any order.
    VornValue* record(const VornType* t, const VornScope* env, int depth) noexcept {
        if (!punct('{')) return nullptr;
        size_t n = t->children.size();
        // Fields parsed so far, by member index: on the stack for the usual sizes.
        Owned local[8];
        std::unique_ptr<Owned[]> heap;
        Owned* slots = local;
        if (n > 8) {
            heap.reset(new (std::nothrow) Owned[n]);
            if (!heap) return nullptr;
            slots = heap.get();
        }
        if (!punct('}')) {
            std::string field;
            for (;;) {
                field.clear();
                if (!name(field) || !punct(':')) return nullptr;
                ptrdiff_t i = vorn_type_member_index(t, field.data(), field.size());
                if (i < 0 || slots[i]) return nullptr;
                slots[i].reset(value(t->children[i], env, depth + 1));
                if (!slots[i]) return nullptr;
                if (punct('}')) break;
                if (!punct(',')) return nullptr;
            }
        }
        Owned out(vorn_value_list(VORN_STRUCT, n));
        if (!out) return nullptr;
        for (size_t i = 0; i < n; ++i) {
            if (!slots[i]) return nullptr;
            vorn_value_append(out.get(), slots[i].release());
        }
        return static_cast<ListValue*>(out.get())->items.size() == n ? out.release() : nullptr;
    }

    // name(payload), or a bare name when the case's type is Null.
    VornValue* variant(const VornType* t, const VornScope* env, int depth) noexcept {
        std::string case_name;
        if (!name(case_name)) return nullptr;
        ptrdiff_t i = vorn_type_member_index(t, case_name.data(), case_name.size());
        if (i < 0) return nullptr;
        const VornType* payload_type = t->children[i];
        Owned payload;
        if (peek('(')) {
            punct('(');
            payload.reset(value(payload_type, env, depth + 1));
            if (!payload || !punct(')')) return nullptr;
        } else {
            if (!accepts_null(payload_type, env, depth + 1)) return nullptr;
            payload.reset(null_value());
        }
        return vorn_value_variant(static_cast<size_t>(i), payload.release());
    }

    bool accepts_null(const VornType* t, const VornScope* env, int depth) noexcept {
        if (depth > kMaxDepth || stack_nearly_exhausted()) return false;
        if (t->kind == VORN_NULL) return true;
        if (t->kind != VORN_RECURSIVE) return false;
        if (t->rec_ref) {
            const VornScope* frame = vorn_scope_find(env, t);
            return frame && accepts_null(frame->wrapper->children[0], frame, depth + 1);
        }
        VornScope frame{t, env};
        return accepts_null(t->children[0], &frame, depth + 1);
    }
};

}  // namespace

extern "C" VornValue* vorn_parse_value(const char* text, VornType* type) {
    if (!text || !type) return nullptr;
    Parser parser(text, std::strlen(text));
    return parser.parse(type);
}
