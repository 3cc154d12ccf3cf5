// Equality and hashing of runtime values by their contents, as Vorn equality has
// them (NaN equal to itself, -0.0 apart from +0.0, Sets and Dicts regardless of
// order), and the uniqueness of Set elements and Dict keys built on them. A Ref is a
// mutable cell: two cells are never one, whatever they hold now.
#include "runtime.hpp"
#include "stack_guard.hpp"

#include <cmath>
#include <cstring>
#include <functional>
#include <unordered_set>

using namespace vorn_rt;

namespace {

size_t mix(size_t h, size_t x) noexcept { return h ^ (x + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2)); }

const ListValue* as_list(const VornValue* v) noexcept { return static_cast<const ListValue*>(v); }

bool float_equal(double a, double b) noexcept {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
    return a == b && std::signbit(a) == std::signbit(b);
}

// Hash of a value, consistent with equal(): unordered collections combine their
// items' hashes commutatively; nesting below a few levels is not looked at.
size_t hash(const VornValue* v, int depth) noexcept {
    size_t h = static_cast<size_t>(v->kind);
    switch (v->kind) {
        case VORN_BOOLEAN:
            return mix(h, static_cast<const ScalarValue*>(v)->b);
        case VORN_INTEGER:
        case VORN_DATETIME:
            return mix(h, std::hash<int64_t>{}(static_cast<const ScalarValue*>(v)->i));
        case VORN_FLOAT: {
            double f = static_cast<const ScalarValue*>(v)->f;
            return std::isnan(f) ? mix(h, 1) : mix(h, std::hash<double>{}(f) ^ std::signbit(f));
        }
        case VORN_STRING:
        case VORN_BLOB:
            return mix(h, std::hash<std::string>{}(static_cast<const BytesValue*>(v)->bytes));
        case VORN_VARIANT: {
            auto* var = static_cast<const VariantValue*>(v);
            return mix(h, depth < 4 ? mix(var->index, hash(var->payload, depth + 1)) : var->index);
        }
        case VORN_VECTOR:
        case VORN_MATRIX:
        case VORN_ARRAY:
        case VORN_STRUCT:
        case VORN_SET:
        case VORN_DICT: {
            const ItemVector& items = as_list(v)->items;
            h = mix(h, items.size());
            if (depth >= 4) return h;
            // Unordered: the sum of the members' hashes (a Dict's keys alone).
            bool ordered = v->kind != VORN_SET && v->kind != VORN_DICT;
            size_t step = v->kind == VORN_DICT ? 2 : 1, combined = 0;
            for (size_t i = 0; i < items.size(); i += step) {
                size_t item = hash(items[i], depth + 1);
                if (ordered) h = mix(h, item);
                else combined += item;
            }
            return ordered ? h : mix(h, combined);
        }
        default:
            return h;  // Null; Refs and Functions hash by kind alone
    }
}

bool equal(const VornValue* a, const VornValue* b, int depth) noexcept;

// Every item of `a` equal to some item of `b`; both hold unique items and are
// equally long. Dict pairs are compared key with key and value with value.
bool same_members(const ItemVector& a, const ItemVector& b, size_t step, int depth) noexcept {
    for (size_t i = 0; i < a.size(); i += step) {
        bool found = false;
        for (size_t j = 0; j < b.size() && !found; j += step) {
            found = equal(a[i], b[j], depth + 1) && (step == 1 || equal(a[i + 1], b[j + 1], depth + 1));
        }
        if (!found) return false;
    }
    return true;
}

// Values too deep to compare count as different: uniqueness then keeps both.
bool equal(const VornValue* a, const VornValue* b, int depth) noexcept {
    if (a == b) return true;
    if (a->kind != b->kind || depth > kMaxDepth || stack_nearly_exhausted()) return false;
    switch (a->kind) {
        case VORN_NULL:
            return true;
        case VORN_BOOLEAN:
            return static_cast<const ScalarValue*>(a)->b == static_cast<const ScalarValue*>(b)->b;
        case VORN_INTEGER:
        case VORN_DATETIME:
            return static_cast<const ScalarValue*>(a)->i == static_cast<const ScalarValue*>(b)->i;
        case VORN_FLOAT:
            return float_equal(static_cast<const ScalarValue*>(a)->f, static_cast<const ScalarValue*>(b)->f);
        case VORN_STRING:
        case VORN_BLOB:
            return static_cast<const BytesValue*>(a)->bytes == static_cast<const BytesValue*>(b)->bytes;
        case VORN_VARIANT: {
            auto *x = static_cast<const VariantValue*>(a), *y = static_cast<const VariantValue*>(b);
            return x->index == y->index && equal(x->payload, y->payload, depth + 1);
        }
        case VORN_FUNCTION:
            return static_cast<const FunctionValue*>(a)->payload == static_cast<const FunctionValue*>(b)->payload &&
                   static_cast<const FunctionValue*>(a)->release == static_cast<const FunctionValue*>(b)->release;
        case VORN_VECTOR:
        case VORN_MATRIX:
        case VORN_ARRAY:
        case VORN_STRUCT:
        case VORN_SET:
        case VORN_DICT: {
            const ListValue *x = as_list(a), *y = as_list(b);
            if (x->items.size() != y->items.size() || x->rows != y->rows || x->cols != y->cols) return false;
            if (a->kind == VORN_SET) return same_members(x->items, y->items, 1, depth);
            if (a->kind == VORN_DICT) return same_members(x->items, y->items, 2, depth);
            for (size_t i = 0; i < x->items.size(); ++i) {
                if (!equal(x->items[i], y->items[i], depth + 1)) return false;
            }
            return true;
        }
        default:
            return false;
    }
}

// Positions of the members of a Set (every item) or Dict (every key) that equal an
// earlier member, in order; `first_only` stops at the first.
std::vector<size_t> repeats(const VornValue* v, bool first_only) {
    std::vector<size_t> out;
    if (v->kind != VORN_SET && v->kind != VORN_DICT) return out;
    const ItemVector& items = as_list(v)->items;
    size_t step = v->kind == VORN_DICT ? 2 : 1;
    auto hasher = [](const VornValue* x) noexcept { return hash(x, 0); };
    auto eq = [](const VornValue* x, const VornValue* y) noexcept { return equal(x, y, 0); };
    std::unordered_set<const VornValue*, decltype(hasher), decltype(eq)> seen(items.size() / step + 1, hasher, eq);
    for (size_t i = 0; i < items.size(); i += step) {
        if (seen.insert(items[i]).second) continue;
        out.push_back(i / step);
        if (first_only) break;
    }
    return out;
}

}  // namespace

extern "C" {

bool vorn_values_equal(const VornValue* a, const VornValue* b) {
    return a && b && equal(a, b, 0);
}

ptrdiff_t vorn_value_first_repeat(const VornValue* value) {
    if (!value) return -1;
    try {
        std::vector<size_t> r = repeats(value, true);
        return r.empty() ? -1 : static_cast<ptrdiff_t>(r[0]);
    } catch (...) {
        return -2;
    }
}

bool vorn_value_drop_repeats(VornValue* set) {
    if (!set || set->kind != VORN_SET) return false;
    try {
        std::vector<size_t> r = repeats(set, false);
        if (r.empty()) return true;
        ItemVector& items = static_cast<ListValue*>(set)->items;
        size_t kept = 0, next = 0;
        for (size_t i = 0; i < items.size(); ++i) {
            if (next < r.size() && r[next] == i) {
                ++next;
                vorn_value_release(items[i]);
            } else {
                items[kept++] = items[i];
            }
        }
        items.resize(kept);
        return true;
    } catch (...) {
        return false;
    }
}

}  // extern "C"
