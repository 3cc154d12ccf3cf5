// Value handles: constructors, builders, accessors, reference counting, the static
// null and Boolean values, and the EvalResult helpers.
#include "buffers.hpp"
#include "runtime.hpp"
#include "utf8.hpp"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

using namespace vorn_rt;

namespace {

ScalarValue g_null(VORN_NULL, true);
ScalarValue g_true(VORN_BOOLEAN, true, true);
ScalarValue g_false(VORN_BOOLEAN, true, false);

// Guards every Ref's target: reads retain under it, writes swap under it.
std::mutex& ref_mutex() noexcept {
    static std::mutex m;
    return m;
}

template <class T>
T* new_value(VornKind kind) noexcept {
    auto* v = new (std::nothrow) T(kind, false);
    if (v) count_value(1);
    return v;
}

ScalarValue* new_scalar(VornKind kind) noexcept { return new_value<ScalarValue>(kind); }

// Drops one reference of a child during destruction; true when the child is now
// unowned and must be destroyed too.
bool drop(VornValue* v) noexcept { return drop_ref(v); }

void destroy_value(VornValue* first) noexcept;

// Frees one value whose count reached zero; children that it held alone go to
// `pending`, so destruction never recurses however deep the value is.
void destroy_one(VornValue* v, std::vector<VornValue*>& pending) noexcept {
    auto later = [&pending](VornValue* child) noexcept {
        if (!drop(child)) return;
        try {
            pending.push_back(child);
        } catch (...) {
            destroy_value(child);  // no memory for the worklist: recurse for this one
        }
    };
    switch (v->kind) {
        case VORN_STRING:
        case VORN_BLOB:
            delete static_cast<BytesValue*>(v);
            break;
        case VORN_VECTOR:
        case VORN_MATRIX:
        case VORN_ARRAY:
        case VORN_SET:
        case VORN_DICT:
        case VORN_STRUCT: {
            auto* list = static_cast<ListValue*>(v);
            for (VornValue* item : list->items) later(item);
            delete list;
            break;
        }
        case VORN_VARIANT: {
            auto* var = static_cast<VariantValue*>(v);
            later(var->payload);
            delete var;
            break;
        }
        case VORN_REF: {
            auto* ref = static_cast<RefValue*>(v);
            later(ref->target);
            delete ref;
            break;
        }
        case VORN_FUNCTION: {
            auto* fn = static_cast<FunctionValue*>(v);
            // The payload's release may run arbitrary code, the runtime's included.
            if (fn->release) fn->release(fn->payload);
            delete fn;
            break;
        }
        default:
            delete static_cast<ScalarValue*>(v);
            break;
    }
    count_value(-1);
}

void destroy_value(VornValue* first) noexcept {
    std::vector<VornValue*> pending;
    destroy_one(first, pending);
    while (!pending.empty()) {
        VornValue* v = pending.back();
        pending.pop_back();
        destroy_one(v, pending);
    }
}

ListValue* as_list(const VornValue* v) noexcept {
    return is_list_kind(v->kind) ? static_cast<ListValue*>(const_cast<VornValue*>(v)) : nullptr;
}

}  // namespace

namespace vorn_rt {

VornValue* null_value() noexcept { return &g_null; }

VornValue* bool_value(bool b) noexcept { return b ? &g_true : &g_false; }

VornValue* make_string(std::string&& bytes) noexcept {
    BytesValue* v = new_value<BytesValue>(VORN_STRING);
    if (v) v->bytes = std::move(bytes);
    return v;
}

}  // namespace vorn_rt

extern "C" {

VornValue* vorn_null(void) { return &g_null; }

VornValue* vorn_value_retain(VornValue* value) { return retain(value); }

void vorn_value_release(VornValue* value) {
    if (drop(value)) destroy_value(value);
}

long vorn_live_values(void) { return count_total(Counter::values); }

VornKind vorn_value_kind(const VornValue* value) { return value->kind; }

VornValue* vorn_value_bool(bool b) { return bool_value(b); }

VornValue* vorn_value_int(int64_t i) {
    ScalarValue* v = new_scalar(VORN_INTEGER);
    if (v) v->i = i;
    return v;
}

VornValue* vorn_value_float(double f) {
    ScalarValue* v = new_scalar(VORN_FLOAT);
    if (v) v->f = f;
    return v;
}

VornValue* vorn_value_datetime(int64_t micros) {
    ScalarValue* v = new_scalar(VORN_DATETIME);
    if (v) v->i = micros;
    return v;
}

static VornValue* new_bytes(VornKind kind, const void* data, size_t size) noexcept {
    BytesValue* v = new_value<BytesValue>(kind);
    if (!v) return nullptr;
    try {
        v->bytes.assign(static_cast<const char*>(data), size);
    } catch (...) {
        vorn_value_release(v);
        return nullptr;
    }
    return v;
}

VornValue* vorn_value_string(const char* data, size_t size) {
    if (!vorn_rt::utf8_valid(data, size)) return nullptr;
    return new_bytes(VORN_STRING, data, size);
}

VornValue* vorn_value_blob(const void* data, size_t size) { return new_bytes(VORN_BLOB, data, size); }

VornValue* vorn_value_list(VornKind kind, size_t capacity) {
    if (!is_list_kind(kind) || kind == VORN_MATRIX || kind == VORN_DICT) return nullptr;
    ListValue* v = new_value<ListValue>(kind);
    if (!v) return nullptr;
    try {
        v->items.reserve(capacity);
    } catch (...) {
        vorn_value_release(v);
        return nullptr;
    }
    return v;
}

VornValue* vorn_value_matrix(size_t rows, size_t cols) {
    if (cols && rows > SIZE_MAX / cols) return nullptr;
    ListValue* v = new_value<ListValue>(VORN_MATRIX);
    if (!v) return nullptr;
    v->rows = rows;
    v->cols = cols;
    try {
        v->items.reserve(rows * cols);
    } catch (...) {
        vorn_value_release(v);
        return nullptr;
    }
    return v;
}

VornValue* vorn_value_dict(size_t capacity) {
    ListValue* v = new_value<ListValue>(VORN_DICT);
    if (!v) return nullptr;
    try {
        v->items.reserve(capacity * 2);
    } catch (...) {
        vorn_value_release(v);
        return nullptr;
    }
    return v;
}

// A builder that cannot grow drops the item; its maker sees the count fall short.
void vorn_value_append(VornValue* list, VornValue* item) {
    ListValue* l = as_list(list);
    if (!l || l->kind == VORN_DICT || !item) {
        vorn_value_release(item);
        return;
    }
    try {
        l->items.push_back(item);
    } catch (...) {
        vorn_value_release(item);
    }
}

void vorn_value_insert(VornValue* dict, VornValue* key, VornValue* value) {
    ListValue* d = dict && dict->kind == VORN_DICT ? static_cast<ListValue*>(dict) : nullptr;
    if (!d || !key || !value) {
        vorn_value_release(key);
        vorn_value_release(value);
        return;
    }
    try {
        d->items.reserve(d->items.size() + 2);
    } catch (...) {
        vorn_value_release(key);
        vorn_value_release(value);
        return;
    }
    d->items.push_back(key);
    d->items.push_back(value);
}

VornValue* vorn_value_variant(size_t case_index, VornValue* payload) {
    VariantValue* v = payload ? new_value<VariantValue>(VORN_VARIANT) : nullptr;
    if (!v) {
        vorn_value_release(payload);
        return nullptr;
    }
    v->index = case_index;
    v->payload = payload;
    return v;
}

VornValue* vorn_value_ref(VornValue* target) {
    RefValue* v = target ? new_value<RefValue>(VORN_REF) : nullptr;
    if (!v) {
        vorn_value_release(target);
        return nullptr;
    }
    v->target = target;
    return v;
}

VornValue* vorn_value_function(void* payload, void (*release)(void*)) {
    FunctionValue* v = new_value<FunctionValue>(VORN_FUNCTION);
    if (!v) {
        if (release) release(payload);
        return nullptr;
    }
    v->payload = payload;
    v->release = release;
    return v;
}

bool vorn_value_get_bool(const VornValue* value) {
    return value->kind == VORN_BOOLEAN && static_cast<const ScalarValue*>(value)->b;
}

int64_t vorn_value_get_int(const VornValue* value) {
    return value->kind == VORN_INTEGER || value->kind == VORN_DATETIME
               ? static_cast<const ScalarValue*>(value)->i
               : 0;
}

double vorn_value_get_float(const VornValue* value) {
    return value->kind == VORN_FLOAT ? static_cast<const ScalarValue*>(value)->f : 0.0;
}

int64_t vorn_value_get_datetime(const VornValue* value) { return vorn_value_get_int(value); }

const char* vorn_value_get_bytes(const VornValue* value, size_t* size) {
    if (value->kind != VORN_STRING && value->kind != VORN_BLOB) {
        if (size) *size = 0;
        return nullptr;
    }
    const std::string& b = static_cast<const BytesValue*>(value)->bytes;
    if (size) *size = b.size();
    return b.data();
}

size_t vorn_value_count(const VornValue* value) {
    ListValue* l = as_list(value);
    if (!l) return 0;
    return l->kind == VORN_DICT ? l->items.size() / 2 : l->items.size();
}

VornValue* vorn_value_item(const VornValue* value, size_t i) {
    ListValue* l = as_list(value);
    if (!l || l->kind == VORN_DICT || i >= l->items.size()) return nullptr;
    return l->items[i];
}

VornValue* vorn_value_dict_key(const VornValue* value, size_t i) {
    ListValue* l = as_list(value);
    if (!l || l->kind != VORN_DICT || 2 * i + 1 >= l->items.size()) return nullptr;
    return l->items[2 * i];
}

VornValue* vorn_value_dict_value(const VornValue* value, size_t i) {
    ListValue* l = as_list(value);
    if (!l || l->kind != VORN_DICT || 2 * i + 1 >= l->items.size()) return nullptr;
    return l->items[2 * i + 1];
}

void vorn_value_matrix_shape(const VornValue* value, size_t* rows, size_t* cols) {
    ListValue* l = as_list(value);
    bool matrix = l && l->kind == VORN_MATRIX;
    if (rows) *rows = matrix ? l->rows : 0;
    if (cols) *cols = matrix ? l->cols : 0;
}

size_t vorn_value_variant_case(const VornValue* value) {
    return value->kind == VORN_VARIANT ? static_cast<const VariantValue*>(value)->index : 0;
}

VornValue* vorn_value_variant_payload(const VornValue* value) {
    return value->kind == VORN_VARIANT ? static_cast<const VariantValue*>(value)->payload : nullptr;
}

VornValue* vorn_value_ref_get(VornValue* ref) {
    if (!ref || ref->kind != VORN_REF) return nullptr;
    std::lock_guard<std::mutex> lock(ref_mutex());
    return retain(static_cast<RefValue*>(ref)->target);
}

void vorn_value_ref_set(VornValue* ref, VornValue* target) {
    if (!ref || ref->kind != VORN_REF || !target) {
        vorn_value_release(target);
        return;
    }
    VornValue* old;
    {
        std::lock_guard<std::mutex> lock(ref_mutex());
        old = static_cast<RefValue*>(ref)->target;
        static_cast<RefValue*>(ref)->target = target;
    }
    vorn_value_release(old);  // outside the lock: it may free a whole graph
}

void* vorn_value_function_payload(const VornValue* value, void (**release)(void*)) {
    if (value->kind != VORN_FUNCTION) {
        if (release) *release = nullptr;
        return nullptr;
    }
    auto* fn = static_cast<const FunctionValue*>(value);
    if (release) *release = fn->release;
    return fn->payload;
}

EvalResult eval_ok(VornValue* value) {
    EvalResult r{};
    r.kind = VORN_EVAL_OK;
    r.value = value;
    return r;
}

EvalResult vorn_eval_error(const char* message) {
    EvalResult r{};
    r.kind = VORN_EVAL_ERROR;
    r.message = strdup(message ? message : "");
    return r;
}

void vorn_eval_result_clear(EvalResult* result) {
    if (result->kind == VORN_EVAL_OK) vorn_value_release(result->value);
    release_message(result->message);
    *result = EvalResult{};
}

}  // extern "C"
