// Whether two runtime types describe the same type, read through the Recursive
// scopes around each, and the printed text of types and values for messages.
#include "bridge.hpp"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace vornc_bridge {
namespace {

constexpr int kMaxDepth = 2000;

struct Assumed {
    const VornType* a;
    const VornType* b;
};

bool same_scope(const VornType* a, const VornType* b) noexcept {
    size_t na, nb;
    bool numeric_a, numeric_b;
    const char* sa = vorn_type_scope(a, &na, &numeric_a);
    const char* sb = vorn_type_scope(b, &nb, &numeric_b);
    return numeric_a == numeric_b && na == nb && std::memcmp(sa, sb, na) == 0;
}

// Recursive types are unfolded one side at a time; a pair of a wrapper and a type
// met again while comparing them is taken as equal (the types are regular trees).
bool equal(const VornType* a, const VornScope* ea, const VornType* b, const VornScope* eb,
           std::vector<Assumed>& assumed, int depth) {
    if (depth > kMaxDepth) return false;
    if (vorn_type_kind(a) != VORN_RECURSIVE && vorn_type_kind(b) == VORN_RECURSIVE)
        return equal(b, eb, a, ea, assumed, depth);  // unfold the Recursive side first
    if (vorn_type_kind(a) == VORN_RECURSIVE) {
        if (vorn_type_is_rec_ref(a)) {
            const VornScope* frame = vorn_scope_find(ea, a);
            if (frame) return equal(frame->wrapper, frame->parent, b, eb, assumed, depth + 1);
            // A reference outside its wrapper is equal only to the same such reference.
            return vorn_type_kind(b) == VORN_RECURSIVE && vorn_type_is_rec_ref(b) && !vorn_scope_find(eb, b) &&
                   same_scope(a, b);
        }
        for (const Assumed& p : assumed) {
            if ((p.a == a && p.b == b) || (p.a == b && p.b == a)) return true;
        }
        assumed.push_back({a, b});
        VornScope frame{a, ea};
        bool same = equal(vorn_type_child(a, 0), &frame, b, eb, assumed, depth + 1);
        assumed.pop_back();
        return same;
    }
    VornKind kind = vorn_type_kind(a);
    size_t n = vorn_type_child_count(a);
    if (kind != vorn_type_kind(b) || n != vorn_type_child_count(b)) return false;
    for (size_t i = 0; i < n; ++i) {
        if (kind == VORN_STRUCT || kind == VORN_VARIANT) {
            size_t na, nb;
            const char* sa = vorn_type_member_name(a, i, &na);
            const char* sb = vorn_type_member_name(b, i, &nb);
            if (na != nb || std::memcmp(sa, sb, na) != 0) return false;
        }
        if (!equal(vorn_type_child(a, i), ea, vorn_type_child(b, i), eb, assumed, depth + 1)) return false;
    }
    return true;
}

// A str of runtime text (freed here), or `fallback` when there is none.
PyObject* text_or(char* text, const char* fallback) noexcept {
    if (!text) return PyUnicode_FromString(fallback);
    PyObject* s = PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(std::strlen(text)), "replace");
    std::free(text);
    return s;
}

}  // namespace

bool same_type(const VornType* a, const VornScope* env_a, const VornType* b, const VornScope* env_b) noexcept {
    try {
        std::vector<Assumed> assumed;
        return equal(a, env_a, b, env_b, assumed, 0);
    } catch (...) {
        return false;
    }
}

PyObject* type_text(const VornType* t, const VornScope*) noexcept {
    return text_or(vorn_print_type(const_cast<VornType*>(t)), "<unprintable type>");
}

PyObject* value_text(VornValue* v, const VornType* t, const VornScope*) noexcept {
    return text_or(vorn_print_value(v, const_cast<VornType*>(t)), "<unprintable value>");
}

}  // namespace vornc_bridge
