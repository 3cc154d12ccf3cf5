// The type printer: Array<Integer>, Struct{name: String}, Recursive L. ..., and so on.
#include "buffers.hpp"
#include "lexical.hpp"
#include "runtime.hpp"
#include "stack_guard.hpp"

using namespace vorn_rt;

namespace {

void write_scope(TextBuffer& out, const VornType* t) noexcept {
    if (t->scope_numeric) out.put(t->scope.data(), t->scope.size());
    else write_name(out, t->scope);
}

bool print_type(TextBuffer& out, const VornType* t, int depth) noexcept {
    if (depth > kMaxDepth || stack_nearly_exhausted() || t->unprintable) return false;
    const char* name = vorn_kind_name(t->kind);
    switch (t->kind) {
        case VORN_VECTOR:
        case VORN_MATRIX:
        case VORN_ARRAY:
        case VORN_SET:
        case VORN_REF:
            out.put(name);
            out.put('<');
            if (!print_type(out, t->children[0], depth + 1)) return false;
            out.put('>');
            return true;
        case VORN_DICT:
            out.put("Dict<", 5);
            if (!print_type(out, t->children[0], depth + 1)) return false;
            out.put(", ", 2);
            if (!print_type(out, t->children[1], depth + 1)) return false;
            out.put('>');
            return true;
        case VORN_STRUCT:
        case VORN_VARIANT:
            out.put(name);
            out.put('{');
            for (size_t i = 0; i < t->children.size(); ++i) {
                if (i) out.put(", ", 2);
                write_name(out, t->names[i]);
                out.put(": ", 2);
                if (!print_type(out, t->children[i], depth + 1)) return false;
            }
            out.put('}');
            return true;
        case VORN_RECURSIVE:
            if (t->rec_ref) {
                write_scope(out, t);
                return true;
            }
            out.put("Recursive ", 10);
            write_scope(out, t);
            out.put(". ", 2);
            return print_type(out, t->children[0], depth + 1);
        case VORN_FUNCTION:
        case VORN_ASYNC_FUNCTION: {
            out.put(name);
            out.put('(');
            size_t n_inputs = t->children.size() - 1;
            for (size_t i = 0; i < n_inputs; ++i) {
                if (i) out.put(", ", 2);
                if (!print_type(out, t->children[i], depth + 1)) return false;
            }
            out.put(") -> ", 5);
            return print_type(out, t->children[n_inputs], depth + 1);
        }
        default:
            out.put(name);
            return true;
    }
}

}  // namespace

extern "C" char* vorn_print_type(VornType* type) {
    if (!type) return nullptr;
    bool overridden;
    if (char* text = printed_override(&overridden); overridden) return hand_out_text(text);
    TextBuffer out;
    if (!print_type(out, type, 0)) return nullptr;
    return hand_out_text(out.release());
}
