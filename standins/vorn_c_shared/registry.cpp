// Platform registries: plain, typed and generic registration, the runtime side of a
// platform call (pre_call hook, factory, function) and freeing with the on_free hook.
#include "runtime.hpp"
#include "buffers.hpp"
#include "context.hpp"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

using namespace vorn_rt;

namespace {

struct Entry {
    char* name = nullptr;  // owned, from the registering caller's strdup
    VornEntryForm form = VORN_ENTRY_PLAIN;
    bool is_async = false;
    PlatformFn fn = nullptr;
    GenericFactory factory = nullptr;
    std::vector<VornType*> inputs;  // owned references
    VornType* output = nullptr;     // owned reference

    ~Entry() {
        if (name) count_name(-1);
        std::free(name);
        for (VornType* t : inputs) vorn_type_release(t);
        vorn_type_release(output);
    }
};

// Stamps of registry contents, unique across registries: a registry gets a new one at
// every registration, so a stamp seen again means the same registry, unchanged.
std::atomic<uint64_t> g_stamps{0};

// What runtime_entries points at. Entries are never removed before the registry is
// freed, so an Entry stays valid while a call runs outside the lock.
struct RegistryImpl {
    std::atomic<uint64_t> stamp{++g_stamps};
    std::mutex mutex;
    std::vector<std::unique_ptr<Entry>> entries;
    std::unordered_map<std::string, Entry*> latest;  // by name: the last registration
};

// Tags a registry made here, in its second runtime member.
char g_registry_tag;

RegistryImpl* impl_of(PlatformRegistry* registry) noexcept {
    if (!registry || registry->runtime_reserved != &g_registry_tag) return nullptr;
    return static_cast<RegistryImpl*>(registry->runtime_entries);
}

// Takes over `entry` (and its name and types) whatever happens.
void add_entry(PlatformRegistry* registry, std::unique_ptr<Entry> entry) noexcept {
    RegistryImpl* impl = impl_of(registry);
    if (!impl || !entry->name) return;
    try {
        std::lock_guard<std::mutex> lock(impl->mutex);
        Entry* raw = entry.get();
        impl->entries.push_back(std::move(entry));
        impl->latest[raw->name] = raw;
        impl->stamp.store(++g_stamps, std::memory_order_release);
    } catch (...) {
        // Out of memory: the registration is dropped, and the entry freed with it.
    }
}

std::unique_ptr<Entry> new_entry(char* name, bool is_async) noexcept {
    std::unique_ptr<Entry> e(new (std::nothrow) Entry);
    if (!e) {
        std::free(name);
        return nullptr;
    }
    e->name = name;
    if (name) count_name(1);
    e->is_async = is_async;
    return e;
}

// The entry a call of `name` uses. The last one found by this thread is reused while
// its registry has had no registration since (a run of calls of one function takes
// no lock).
Entry* find_entry(RegistryImpl* impl, const char* name) noexcept {
    thread_local struct {
        uint64_t stamp = 0;
        Entry* entry = nullptr;
    } last;
    uint64_t stamp = impl->stamp.load(std::memory_order_acquire);
    if (last.entry && last.stamp == stamp && std::strcmp(last.entry->name, name) == 0) return last.entry;
    try {
        std::lock_guard<std::mutex> lock(impl->mutex);
        auto it = impl->latest.find(name);
        Entry* found = it == impl->latest.end() ? nullptr : it->second;
        last.stamp = impl->stamp.load(std::memory_order_relaxed);
        last.entry = found;
        return found;
    } catch (...) {
        return nullptr;
    }
}

EvalResult error_about(const char* what, const char* name) noexcept {
    try {
        return vorn_eval_error((std::string(what) + name).c_str());
    } catch (...) {
        return vorn_eval_error(what);
    }
}

}  // namespace

extern "C" {

PlatformRegistry* platform_registry_new(void) {
    auto* registry = new (std::nothrow) PlatformRegistry{};
    auto* impl = new (std::nothrow) RegistryImpl;
    if (!registry || !impl) {
        delete registry;
        delete impl;
        return nullptr;
    }
    registry->runtime_entries = impl;
    registry->runtime_reserved = &g_registry_tag;
    count_event(Event::platform_registry_made);
    return registry;
}

void platform_registry_free(PlatformRegistry* registry) {
    RegistryImpl* impl = impl_of(registry);
    if (!impl) return;
    if (registry->on_free) registry->on_free(registry);
    registry->runtime_entries = nullptr;
    registry->runtime_reserved = nullptr;
    delete impl;
    delete registry;
    count_event(Event::platform_registry_freed);
}

void platform_registry_add(PlatformRegistry* registry, char* name, PlatformFn fn, bool is_async) {
    std::unique_ptr<Entry> e = new_entry(name, is_async);
    if (!e) return;
    e->fn = fn;
    add_entry(registry, std::move(e));
}

void platform_registry_add_typed(PlatformRegistry* registry, char* name, PlatformFn fn, bool is_async,
                                 VornType** inputs, size_t n_inputs, VornType* output) {
    std::unique_ptr<Entry> e = new_entry(name, is_async);
    if (!e) return;
    e->form = VORN_ENTRY_TYPED;
    e->fn = fn;
    try {
        e->inputs.reserve(n_inputs);
    } catch (...) {
        return;
    }
    // The caller releases its own references right after this call.
    for (size_t i = 0; i < n_inputs; ++i) e->inputs.push_back(retain(inputs[i]));
    e->output = retain(output);
    add_entry(registry, std::move(e));
}

void platform_registry_add_generic(PlatformRegistry* registry, char* name, GenericFactory factory,
                                   bool is_async) {
    std::unique_ptr<Entry> e = new_entry(name, is_async);
    if (!e) return;
    e->form = VORN_ENTRY_GENERIC;
    e->factory = factory;
    add_entry(registry, std::move(e));
}

size_t vorn_platform_entry_count(PlatformRegistry* registry) {
    RegistryImpl* impl = impl_of(registry);
    if (!impl) return 0;
    std::lock_guard<std::mutex> lock(impl->mutex);
    return impl->entries.size();
}

bool vorn_platform_entry(PlatformRegistry* registry, size_t i, VornPlatformEntry* out) {
    RegistryImpl* impl = impl_of(registry);
    if (!impl) return false;
    std::lock_guard<std::mutex> lock(impl->mutex);
    if (i >= impl->entries.size()) return false;
    const Entry& e = *impl->entries[i];
    out->name = e.name;
    out->form = e.form;
    out->is_async = e.is_async;
    out->fn = e.fn;
    out->factory = e.factory;
    out->inputs = e.inputs.data();
    out->n_inputs = e.inputs.size();
    out->output = e.output;
    return true;
}

ptrdiff_t vorn_platform_find(PlatformRegistry* registry, const char* name) {
    RegistryImpl* impl = impl_of(registry);
    if (!impl || !name) return -1;
    Entry* e = find_entry(impl, name);
    if (!e) return -1;
    std::lock_guard<std::mutex> lock(impl->mutex);
    for (size_t i = impl->entries.size(); i-- > 0;) {
        if (impl->entries[i].get() == e) return static_cast<ptrdiff_t>(i);
    }
    return -1;
}

EvalResult vorn_platform_call(PlatformRegistry* registry, const char* name, VornValue** args, size_t nargs,
                              VornType** arg_types, size_t n_arg_types, VornType* ret_type,
                              VornType** type_args, size_t n_type_args) {
    RegistryImpl* impl = impl_of(registry);
    if (!impl) return vorn_eval_error("not a live platform registry");
    if (!name) return vorn_eval_error("platform call without a function name");
    Entry* e = find_entry(impl, name);
    if (!e) return error_about("no platform function named ", name);
    if (registry->pre_call) registry->pre_call(registry, e->name, type_args, n_type_args);
    PlatformFn fn = e->fn;
    if (e->form == VORN_ENTRY_GENERIC) {
        fn = e->factory ? e->factory(type_args, n_type_args) : nullptr;
        if (!fn) return error_about("generic factory made no function for ", name);
    }
    if (!fn) return error_about("platform function has no implementation: ", name);
    if (e->form == VORN_ENTRY_TYPED) {
        arg_types = e->inputs.data();
        n_arg_types = e->inputs.size();
        ret_type = e->output;
    }
    EvalResult r = fn(args, nargs, arg_types, n_arg_types, ret_type);
    if (r.kind == VORN_EVAL_ERROR) take_over_message(r.message);
    return r;
}

}  // extern "C"
