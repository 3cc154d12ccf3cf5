// The value printer: canonical text of a value, directed by its type.
#include "buffers.hpp"
#include "lexical.hpp"
#include "runtime.hpp"
#include "stack_guard.hpp"

#include <algorithm>

using namespace vorn_rt;

namespace {

class ValuePrinter {
public:
    TextBuffer out;

    bool value(const VornValue* v, const VornType* t, const VornScope* env, int depth) noexcept {
        if (depth > kMaxDepth || stack_nearly_exhausted()) return false;
        if (t->kind == VORN_RECURSIVE) return recursive(v, t, env, depth);
        if (v->kind != t->kind) return false;
        switch (t->kind) {
            case VORN_NULL:
                out.put("null", 4);
                return true;
            case VORN_BOOLEAN:
                if (static_cast<const ScalarValue*>(v)->b) out.put("true", 4);
                else out.put("false", 5);
                return true;
            case VORN_INTEGER:
                write_int(out, static_cast<const ScalarValue*>(v)->i);
                return true;
            case VORN_FLOAT:
                write_float(out, static_cast<const ScalarValue*>(v)->f);
                return true;
            case VORN_DATETIME:
                return write_datetime(out, static_cast<const ScalarValue*>(v)->i);
            case VORN_STRING: {
                const std::string& s = static_cast<const BytesValue*>(v)->bytes;
                write_string(out, s.data(), s.size());
                return true;
            }
            case VORN_BLOB:
                blob(static_cast<const BytesValue*>(v)->bytes);
                return true;
            case VORN_VECTOR:
                out.put("vec", 3);
                return sequence(static_cast<const ListValue*>(v)->items, 0, SIZE_MAX, '[', ']',
                                t->children[0], env, depth);
            case VORN_ARRAY:
                return sequence(static_cast<const ListValue*>(v)->items, 0, SIZE_MAX, '[', ']',
                                t->children[0], env, depth);
            case VORN_SET:
                out.put('#');
                return sequence(static_cast<const ListValue*>(v)->items, 0, SIZE_MAX, '{', '}',
                                t->children[0], env, depth);
            case VORN_MATRIX:
                return matrix(static_cast<const ListValue*>(v), t->children[0], env, depth);
            case VORN_DICT:
                return dict(static_cast<const ListValue*>(v)->items, t, env, depth);
            case VORN_STRUCT:
                return record(static_cast<const ListValue*>(v)->items, t, env, depth);
            case VORN_VARIANT:
                return variant(static_cast<const VariantValue*>(v), t, env, depth);
            case VORN_REF:
                return ref(v, t, env, depth);
            default:
                return false;  // Never has no values; Function values have no text
        }
    }

private:
    std::vector<const VornValue*> ref_path_;  // Refs being printed, to stop at a cycle

    bool recursive(const VornValue* v, const VornType* t, const VornScope* env, int depth) noexcept {
        if (t->rec_ref) {
            const VornScope* frame = vorn_scope_find(env, t);
            return frame && value(v, frame->wrapper->children[0], frame, depth + 1);
        }
        VornScope frame{t, env};
        return value(v, t->children[0], &frame, depth + 1);
    }

    bool sequence(const ItemVector& items, size_t from, size_t to, char open, char close,
                  const VornType* elem, const VornScope* env, int depth) noexcept {
        to = std::min(to, items.size());
        out.put(open);
        for (size_t i = from; i < to; ++i) {
            if (i > from) out.put(", ", 2);
            if (!value(items[i], elem, env, depth + 1)) return false;
        }
        out.put(close);
        return true;
    }

    void blob(const std::string& bytes) noexcept {
        static const char hex[] = "0123456789abcdef";
        out.put("x\"", 2);
        if (!out.reserve(2 * bytes.size() + 1)) return;
        char* at = out.end();
        for (unsigned char b : bytes) {
            *at++ = hex[b >> 4];
            *at++ = hex[b & 0xF];
        }
        out.commit(2 * bytes.size());
        out.put('"');
    }

    // mat[[1, 2], [3, 4]]; a matrix without rows but with columns states its shape.
    bool matrix(const ListValue* m, const VornType* elem, const VornScope* env, int depth) noexcept {
        if (m->items.size() != m->rows * m->cols) return false;
        out.put("mat", 3);
        if (m->rows == 0 && m->cols != 0) {
            out.put("(0, ", 4);
            write_int(out, static_cast<int64_t>(m->cols));
            out.put(')');
        }
        out.put('[');
        for (size_t r = 0; r < m->rows; ++r) {
            if (r) out.put(", ", 2);
            if (!sequence(m->items, r * m->cols, (r + 1) * m->cols, '[', ']', elem, env, depth + 1))
                return false;
        }
        out.put(']');
        return true;
    }

    bool dict(const ItemVector& items, const VornType* t, const VornScope* env,
              int depth) noexcept {
        out.put('{');
        for (size_t i = 0; i + 1 < items.size(); i += 2) {
            if (i) out.put(", ", 2);
            if (!value(items[i], t->children[0], env, depth + 1)) return false;
            out.put(" => ", 4);
            if (!value(items[i + 1], t->children[1], env, depth + 1)) return false;
        }
        out.put('}');
        return true;
    }

    bool record(const ItemVector& fields, const VornType* t, const VornScope* env,
                int depth) noexcept {
        if (fields.size() != t->children.size()) return false;
        out.put('{');
        for (size_t i = 0; i < fields.size(); ++i) {
            if (i) out.put(", ", 2);
            write_name(out, t->names[i]);
            out.put(": ", 2);
            if (!value(fields[i], t->children[i], env, depth + 1)) return false;
        }
        out.put('}');
        return true;
    }

    // name(payload), or the bare name when the payload is null.
    bool variant(const VariantValue* v, const VornType* t, const VornScope* env, int depth) noexcept {
        if (v->index >= t->children.size()) return false;
        write_name(out, t->names[v->index]);
        size_t mark = out.size();
        bool bare = v->payload->kind == VORN_NULL;
        if (!bare) out.put('(');
        if (!value(v->payload, t->children[v->index], env, depth + 1)) return false;
        if (bare) out.truncate(mark);  // printed only to check it against the case type
        else out.put(')');
        return true;
    }

    bool ref(const VornValue* v, const VornType* t, const VornScope* env, int depth) noexcept {
        // A Ref cycle has no finite text.
        if (std::find(ref_path_.begin(), ref_path_.end(), v) != ref_path_.end()) return false;
        VornValue* target = vorn_value_ref_get(const_cast<VornValue*>(v));
        if (!target) return false;
        bool ok = true;
        try {
            ref_path_.push_back(v);
        } catch (...) {
            ok = false;
        }
        if (ok) {
            out.put("ref(", 4);
            ok = value(target, t->children[0], env, depth + 1);
            out.put(')');
            ref_path_.pop_back();
        }
        vorn_value_release(target);
        return ok;
    }
};

}  // namespace

namespace vorn_rt {

char* print_value(const VornValue* value, const VornType* type) noexcept {
    if (!value || !type) return nullptr;
    ValuePrinter printer;
    if (!printer.value(value, type, nullptr, 0)) return nullptr;
    return printer.out.release();
}

}  // namespace vorn_rt

extern "C" char* vorn_print_value(VornValue* value, VornType* type) {
    if (!value || !type) return nullptr;
    bool overridden;
    if (char* text = printed_override(&overridden); overridden) return hand_out_text(text);
    return hand_out_text(vorn_rt::print_value(value, type));
}
