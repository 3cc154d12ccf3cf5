// Whether exact dicts are unchanged since a fast path read them, so that what it found
// there can be kept until they change.
//
// From 3.12 on, a dict watcher of the module's own watches every dict stamped, and any
// event on any of them (a change, a clear, a copy into it; not its deallocation) moves
// one counter, the epoch. A stamp is the epoch when it was taken, and a dict is
// unchanged while the epoch still is its stamp: one load of a word that stays in
// cache, without touching the dict. Every dict stamped at one moment has the same
// stamp, so one check answers for all of them. On 3.11, which has no watchers, each
// dict's version tag serves.
//
// This file is linked into each module, so each has its own watcher and epoch: the
// changes one module follows do not disturb what another keeps. Under the
// interpreter lock.
#pragma once

#include "common/compat.hpp"

#include <cstdint>

namespace vorn::dict_signal {

// Whether stamps are epochs (all those taken at one moment are equal, and unchanged()
// does not read the dict) rather than each dict's own version tag.
#if PY_VERSION_HEX >= 0x030C0000
inline constexpr bool kEpochs = true;
#else
inline constexpr bool kEpochs = false;
#endif

// A stamp of the exact dict `d` for unchanged(): nonzero, or 0 when its changes cannot
// be followed (no watcher to be had, or an interpreter that does not tell of every
// change to this dict); then nothing read from it may be kept. Runs no code and never
// leaves an exception.
uint64_t stamp(PyObject* d) noexcept;

#if PY_VERSION_HEX >= 0x030C0000
extern uint64_t epoch;  // moved by every event on a watched dict; never 0
#endif

// Whether `d`, stamped `s` (nonzero) while alive and unchanged, is still unchanged.
inline bool unchanged([[maybe_unused]] PyObject* d, uint64_t s) noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    return s == epoch;
#else
    return compat::dict_version(d) == s;
#endif
}

}  // namespace vorn::dict_signal
