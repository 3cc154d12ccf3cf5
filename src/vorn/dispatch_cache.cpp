// The target of the last platform call, served again while nothing it was found
// through has changed: a run of calls of one function skips the global lookup and
// the dict probes of the dispatch state. The dicts are stamped (dict_signal), so any
// change to one, made from Python or from here, ends what was kept; they are held, so
// that their addresses cannot come back as other dicts. Under the interpreter lock.
#include "common/dict_signal.hpp"
#include "vorn/pfnlink.hpp"

#include <cstdint>

namespace vorn::pfnlink {
namespace {

constexpr size_t kMaxTypeArgs = 4;

struct Kept {
    bool valid = false;
    PlatformRegistry* registry = nullptr;
    Ref name;  // the bytes object name_bytes() keeps for runs of one name
    Ref states, direct, generic, cache;
    uint64_t globals_version = 0, states_version = 0, direct_version = 0, generic_version = 0, cache_version = 0;  // stamps
    size_t n_type_args = 0;
    VornType* type_args[kMaxTypeArgs] = {};
    Target target;
};

Kept& kept() noexcept {
    static Kept* k = new Kept;  // never destroyed: it holds Python objects
    return *k;
}

// The stamp of an exact dict, or 0 for anything else.
uint64_t stamp_of(PyObject* d) noexcept { return d && PyDict_CheckExact(d) ? dict_signal::stamp(d) : 0; }

bool same_type_args(const Kept& k, const CurrentCall& call) noexcept {
    size_t n = call.type_args ? call.n_type_args : 0;
    if (n != k.n_type_args) return false;
    for (size_t i = 0; i < n; ++i) {
        if (call.type_args[i] != k.type_args[i]) return false;
    }
    return true;
}

}  // namespace

bool cached_target(const CurrentCall& call, PyObject* name, Target& target) noexcept {
    const Kept& k = kept();
    if (!k.valid || call.registry != k.registry || name != k.name.get()) return false;
    if (!dict_signal::unchanged(globals(), k.globals_version) ||
        !dict_signal::unchanged(k.states.get(), k.states_version) ||
        !dict_signal::unchanged(k.direct.get(), k.direct_version))
        return false;
    if (k.generic) {
        if (!dict_signal::unchanged(k.generic.get(), k.generic_version) ||
            !dict_signal::unchanged(k.cache.get(), k.cache_version) || !same_type_args(k, call))
            return false;
    }
    target = k.target;
    return true;
}

void forget_target(PlatformRegistry* registry) noexcept {
    Kept& k = kept();
    if (registry && k.registry != registry) return;
    // Moved out first: releasing a callable may run code that calls back in here.
    Kept dropped = std::move(k);
    k = Kept{};
}

void stamp_trail(TargetTrail& trail) noexcept {
    trail.globals_stamp = dict_signal::stamp(globals());
    trail.states_stamp = stamp_of(trail.states);
    trail.direct_stamp = stamp_of(trail.direct);
    trail.generic_stamp = trail.generic ? stamp_of(trail.generic) : 1;
    trail.cache_stamp = trail.generic ? stamp_of(trail.cache) : 1;
}

void remember_target(const CurrentCall& call, PyObject* name, const TargetTrail& trail,
                     const Target& target) noexcept {
    Kept& k = kept();
    k.valid = false;
    size_t n = call.type_args ? call.n_type_args : 0;
    if (trail.generic && n > kMaxTypeArgs) return;
    const uint64_t globals_version = trail.globals_stamp, states_version = trail.states_stamp;
    const uint64_t direct_version = trail.direct_stamp, generic_version = trail.generic_stamp;
    const uint64_t cache_version = trail.cache_stamp;
    if (!globals_version || !states_version || !direct_version || !generic_version || !cache_version) return;
    k.registry = call.registry;
    k.name = Ref::borrow(name);
    k.states = Ref::borrow(trail.states);
    k.direct = Ref::borrow(trail.direct);
    k.generic = Ref::borrow(trail.generic);
    k.cache = Ref::borrow(trail.cache);
    k.globals_version = globals_version;
    k.states_version = states_version;
    k.direct_version = direct_version;
    k.generic_version = generic_version;
    k.cache_version = cache_version;
    k.n_type_args = trail.generic ? n : 0;
    for (size_t i = 0; i < k.n_type_args; ++i) k.type_args[i] = call.type_args[i];
    k.target = target;
    k.valid = true;
}

}  // namespace vorn::pfnlink
