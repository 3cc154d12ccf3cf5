// Type handles: constructors, accessors, reference counting, scope lookup and the
// static Null type.
#include "runtime.hpp"

#include <cstring>
#include <new>

using namespace vorn_rt;

VornType vorn_null_type(VORN_NULL, true);

namespace {

VornType* new_type(VornKind kind) noexcept {
    auto* t = new (std::nothrow) VornType(kind, false);
    if (t) count_type(1);
    return t;
}

// Releases the given references; constructors call it when they fail.
void release_all(VornType* const* types, size_t n) noexcept {
    for (size_t i = 0; i < n; ++i) vorn_type_release(types[i]);
}

bool is_scalar_kind(VornKind k) noexcept { return k <= VORN_BLOB; }

bool is_container_kind(VornKind k) noexcept {
    return k == VORN_VECTOR || k == VORN_MATRIX || k == VORN_ARRAY || k == VORN_SET || k == VORN_REF;
}

VornType* new_scoped(const char* scope, size_t size, bool numeric, bool is_ref) noexcept {
    VornType* t = new_type(VORN_RECURSIVE);
    if (!t) return nullptr;
    try {
        t->scope.assign(scope ? scope : "", scope ? size : 0);
    } catch (...) {
        vorn_type_release(t);
        return nullptr;
    }
    t->scope_numeric = numeric;
    t->rec_ref = is_ref;
    return t;
}

// Frees a type whose count reached zero, and the children that only it held, with a
// worklist rather than recursion so that any depth is safe.
void destroy_type(VornType* first) noexcept {
    std::vector<VornType*> pending;
    VornType* t = first;
    for (;;) {
        for (VornType* c : t->children) {
            if (!drop_ref(c)) continue;
            try {
                pending.push_back(c);
            } catch (...) {
                destroy_type(c);  // no memory for the worklist: recurse for this one
            }
        }
        delete t;
        count_type(-1);
        if (pending.empty()) return;
        t = pending.back();
        pending.pop_back();
    }
}

}  // namespace

extern "C" {

const char* vorn_kind_name(int kind) {
    static const char* const names[VORN_KIND_COUNT] = {
        "Never", "Null", "Boolean", "Integer", "Float", "String", "DateTime",
        "Blob", "Vector", "Matrix", "Array", "Set", "Dict", "Ref", "Struct",
        "Variant", "Recursive", "Function", "AsyncFunction",
    };
    return kind >= 0 && kind < VORN_KIND_COUNT ? names[kind] : "?";
}

VornType* vorn_type_scalar(VornKind kind) {
    if (!is_scalar_kind(kind)) return nullptr;
    return new_type(kind);
}

VornType* vorn_type_container(VornKind kind, VornType* element) {
    VornType* t = element && is_container_kind(kind) ? new_type(kind) : nullptr;
    if (!t) {
        vorn_type_release(element);
        return nullptr;
    }
    try {
        t->children.push_back(element);
    } catch (...) {
        vorn_type_release(element);
        vorn_type_release(t);
        return nullptr;
    }
    return t;
}

VornType* vorn_type_dict(VornType* key, VornType* value) {
    VornType* t = key && value ? new_type(VORN_DICT) : nullptr;
    if (!t) {
        vorn_type_release(key);
        vorn_type_release(value);
        return nullptr;
    }
    try {
        t->children.reserve(2);
    } catch (...) {
        vorn_type_release(key);
        vorn_type_release(value);
        vorn_type_release(t);
        return nullptr;
    }
    t->children.push_back(key);
    t->children.push_back(value);
    return t;
}

VornType* vorn_type_members(VornKind kind, size_t n, const char* const* names, const size_t* sizes,
                            VornType* const* types) {
    bool valid = kind == VORN_STRUCT || kind == VORN_VARIANT;
    for (size_t i = 0; valid && i < n; ++i) valid = types[i] && names[i];
    VornType* t = valid ? new_type(kind) : nullptr;
    if (!t) {
        release_all(types, n);
        return nullptr;
    }
    try {
        t->children.reserve(n);
        t->names.reserve(n);
        for (size_t i = 0; i < n; ++i) {
            size_t size = sizes ? sizes[i] : std::strlen(names[i]);
            t->names.emplace_back(names[i], size);
        }
    } catch (...) {
        release_all(types, n);
        vorn_type_release(t);
        return nullptr;
    }
    for (size_t i = 0; i < n; ++i) t->children.push_back(types[i]);
    // Values are keyed by member name, so a name may appear only once.
    for (size_t i = 0; i < n; ++i) {
        for (size_t j = 0; j < i; ++j) {
            if (t->names[i] == t->names[j]) {
                vorn_type_release(t);
                return nullptr;
            }
        }
    }
    return t;
}

VornType* vorn_type_recursive(const char* scope, size_t size, bool numeric, VornType* inner) {
    VornType* t = inner ? new_scoped(scope, size, numeric, false) : nullptr;
    if (!t) {
        vorn_type_release(inner);
        return nullptr;
    }
    try {
        t->children.push_back(inner);
    } catch (...) {
        vorn_type_release(inner);
        vorn_type_release(t);
        return nullptr;
    }
    return t;
}

#ifdef VORN_TEST_HOOKS
VornType* vorn_type_unprintable(void) {
    VornType* t = new_type(VORN_NEVER);
    if (t) t->unprintable = true;
    return t;
}
#endif

VornType* vorn_type_rec_ref(const char* scope, size_t size, bool numeric) {
    return new_scoped(scope, size, numeric, true);
}

VornType* vorn_type_function(VornKind kind, size_t n_inputs, VornType* const* inputs, VornType* output) {
    bool valid = (kind == VORN_FUNCTION || kind == VORN_ASYNC_FUNCTION) && output;
    for (size_t i = 0; valid && i < n_inputs; ++i) valid = inputs[i] != nullptr;
    VornType* t = valid ? new_type(kind) : nullptr;
    if (t) {
        try {
            t->children.reserve(n_inputs + 1);
        } catch (...) {
            vorn_type_release(t);
            t = nullptr;
        }
    }
    if (!t) {
        release_all(inputs, n_inputs);
        vorn_type_release(output);
        return nullptr;
    }
    for (size_t i = 0; i < n_inputs; ++i) t->children.push_back(inputs[i]);
    t->children.push_back(output);
    return t;
}

VornKind vorn_type_kind(const VornType* type) { return type->kind; }

size_t vorn_type_child_count(const VornType* type) { return type->children.size(); }

VornType* vorn_type_child(const VornType* type, size_t i) {
    return i < type->children.size() ? type->children[i] : nullptr;
}

const char* vorn_type_member_name(const VornType* type, size_t i, size_t* size) {
    if (i >= type->names.size()) return nullptr;
    if (size) *size = type->names[i].size();
    return type->names[i].c_str();
}

ptrdiff_t vorn_type_member_index(const VornType* type, const char* name, size_t size) {
    for (size_t i = 0; i < type->names.size(); ++i) {
        const std::string& n = type->names[i];
        if (n.size() == size && std::memcmp(n.data(), name, size) == 0) return static_cast<ptrdiff_t>(i);
    }
    return -1;
}

bool vorn_type_is_rec_ref(const VornType* type) { return type->kind == VORN_RECURSIVE && type->rec_ref; }

const char* vorn_type_scope(const VornType* type, size_t* size, bool* numeric) {
    if (size) *size = type->scope.size();
    if (numeric) *numeric = type->scope_numeric;
    return type->scope.c_str();
}

const VornScope* vorn_scope_find(const VornScope* env, const VornType* ref) {
    for (; env; env = env->parent) {
        const VornType* w = env->wrapper;
        if (w->scope_numeric == ref->scope_numeric && w->scope == ref->scope) return env;
    }
    return nullptr;
}

VornType* vorn_type_retain(VornType* type) { return retain(type); }

void vorn_type_release(VornType* type) {
    if (drop_ref(type)) destroy_type(type);
}

long vorn_live_types(void) { return count_total(Counter::types); }

}  // extern "C"
