// The private comparison context of the comparers and equality functions: a flat
// table of recorded pairs, and its conversion into the dict of id() sets.
#include "vorn/utils/private_context.hpp"

#include "common/static_type.hpp"
#include "vorn/utils/comparer_protocol.hpp"
#include "vorn/utils/dict_context.hpp"

#include <cstdint>
#include <new>
#include <utility>
#include <vector>

namespace vorn::sortkit {
namespace {

using Pair = std::pair<std::uintptr_t, std::uintptr_t>;

struct PrivateContext {
    PyObject_HEAD
    std::vector<Pair> order;  // the pairs in the order recorded
    // Open addressing over `order`: 1 + the index of a pair, 0 for an empty slot; a
    // power of two in size, at most half full. Four bytes a slot rather than a pair
    // of addresses keeps a context of millions of pairs at some 40 bytes a pair.
    std::vector<std::uint32_t> slots;
    PyObject* dict;  // once it has turned into the dict, which then serves

    // Records (x, y); returns true when it was already there. May throw bad_alloc.
    bool record(std::uintptr_t x, std::uintptr_t y) {
        if (2 * (order.size() + 1) > slots.size()) grow();
        const size_t mask = slots.size() - 1;
        for (size_t i = hash(x, y) & mask;; i = (i + 1) & mask) {
            const std::uint32_t s = slots[i];
            if (s == 0) {
                order.emplace_back(x, y);
                slots[i] = static_cast<std::uint32_t>(order.size());
                return false;
            }
            const Pair& p = order[s - 1];
            if (p.first == x && p.second == y) return true;
        }
    }

    // Objects made together lie close together, and their pairs land in nearby slots,
    // which keeps the walk over the table cache-friendly; the bits above 64 KiB are
    // mixed, so that equally spaced objects do not pile up on a few slots.
    static size_t hash(std::uintptr_t x, std::uintptr_t y) noexcept {
        std::uint64_t region = (x >> 16) * 0x9E3779B97F4A7C15ull ^ (y >> 16) * 0xC2B2AE3D27D4EB4Full;
        return static_cast<size_t>((region ^ (region >> 31)) + (x >> 4) + 3 * (y >> 4));
    }

    void grow() {
        if (order.size() >= UINT32_MAX / 2) throw std::bad_alloc();  // slots index in 32 bits
        std::vector<std::uint32_t> bigger(slots.empty() ? 64 : 2 * slots.size(), 0);
        const size_t mask = bigger.size() - 1;
        for (size_t k = 0; k < order.size(); ++k) {
            size_t i = hash(order[k].first, order[k].second) & mask;
            while (bigger[i] != 0) i = (i + 1) & mask;
            bigger[i] = static_cast<std::uint32_t>(k + 1);
        }
        slots.swap(bigger);
    }
};

void private_context_dealloc(PyObject* o) noexcept {
    auto* self = reinterpret_cast<PrivateContext*>(o);
    Py_XDECREF(self->dict);
    self->order.~vector();
    self->slots.~vector();
    Py_TYPE(o)->tp_free(o);
}

PyTypeObject PrivateContextType{};

int ready_private_context_type() noexcept {
    return ready_static_type(PrivateContextType, [](PyTypeObject& t) {
        t.tp_name = "vorn.utils._sortkit.PrivateContext";
        t.tp_basicsize = sizeof(PrivateContext);
        t.tp_dealloc = private_context_dealloc;
        t.tp_flags = Py_TPFLAGS_DEFAULT;
    });
}

PyObject* new_private_context() noexcept {
    if (ready_private_context_type() < 0) return nullptr;
    auto* self = PyObject_New(PrivateContext, &PrivateContextType);
    if (!self) return nullptr;
    new (&self->order) std::vector<Pair>();
    new (&self->slots) std::vector<std::uint32_t>();
    self->dict = nullptr;
    return reinterpret_cast<PyObject*>(self);
}

bool is_private(PyObject* ctx) noexcept { return Py_IS_TYPE(ctx, &PrivateContextType); }

// The dict the context turns into: the recorded pairs replayed through the dict
// protocol, in order, so that its keys and sets come out as they would have.
PyObject* as_dict(PrivateContext* self) noexcept {
    if (self->dict) return self->dict;
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return nullptr;
    for (const Pair& p : self->order) {
        PyObject* d = dict.get();
        Ref unused;  // only filled for a None context
        if (visit_pair(&d, unused, reinterpret_cast<PyObject*>(p.first),
                       reinterpret_cast<PyObject*>(p.second)) < 0)
            return nullptr;
    }
    self->order = {};
    self->slots = {};
    self->dict = dict.release();
    return self->dict;
}

// True when `fn` keeps a private context private: it ignores contexts, or it passes
// contexts on through context_for, or it is a recursive forwarder whose chain of
// cells ends in one of those.
bool keeps_private(PyObject* fn) noexcept {
    for (int hops = 0; hops < 8 && fn; ++hops) {
        const unsigned protocol = protocol_of(fn);
        if (protocol & (kIgnoresContext | kKeepsContextPrivate)) return true;
        fn = peek_forward_target(fn);
    }
    return false;
}

}  // namespace

int visit_context(PyObject** ctx, Ref& owned, PyObject* x, PyObject* y) noexcept {
    if (*ctx == Py_None) {
        owned = Ref::steal(new_private_context());
        if (!owned) return -1;
        *ctx = owned.get();
    }
    if (!is_private(*ctx)) return visit_pair(ctx, owned, x, y);
    auto* self = reinterpret_cast<PrivateContext*>(*ctx);
    try {
        int seen;
        if (self->dict) {
            PyObject* d = self->dict;
            if ((seen = visit_pair(&d, owned, x, y)) < 0) return -1;
        } else {
            seen = self->record(reinterpret_cast<std::uintptr_t>(x),
                                reinterpret_cast<std::uintptr_t>(y));
        }
        return seen;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return -1;
    }
}

PyObject* context_for(PyObject* fn, PyObject* ctx) noexcept {
    if (!is_private(ctx)) return ctx;
    auto* self = reinterpret_cast<PrivateContext*>(ctx);
    if (self->dict) return self->dict;
    return keeps_private(fn) ? ctx : as_dict(self);
}

}  // namespace vorn::sortkit
