"""Leak checks for release builds, as refleak hunters do them: run a case many times
and fail only when a counter grows on every run after warm-up."""
from __future__ import annotations

import gc
import sys
import warnings
from typing import Callable


def runtime_counters() -> dict[str, Callable[[], int]]:
    """Live counts of the stand-in C runtime, when it is built: type and value handles,
    and the heap buffers that crossed its boundary (printed texts, error messages taken
    over, registry names)."""
    try:
        from vorn import _vornc_bridge as bridge
    except ImportError:
        return {}
    counters = {"live_types": bridge.live_types, "live_values": bridge.live_values}
    for name in ("printed_texts", "error_messages", "registry_names", "repeated_messages"):
        counters[f"live {name}"] = lambda name=name: bridge.live_buffers()[name]
    return counters


# sys._clear_internal_caches (3.13 on) clears the type cache with the others. 3.14
# deprecates sys._clear_type_cache: pytest would keep the warning of every call.
_clear_caches = getattr(sys, "_clear_internal_caches", None) or sys._clear_type_cache


def settle() -> None:
    """Frees garbage and the interpreter's type attribute cache, which keeps a
    reference to each attribute name it caches: names made afresh (by pickle, by
    getattr with a computed name) would otherwise pile up in it for a while."""
    gc.collect()
    _clear_caches()


def assert_no_leaks(case: Callable[[], object], *, expect: type[BaseException] | tuple = (),
                    warmups: int = 4, runs: int = 8, repeat: int = 20, watch: tuple = ()) -> None:
    """Runs ``case`` ``repeat`` times per run; fails when allocated blocks or live
    runtime handles grow in every one of ``runs`` runs. ``expect`` lists exceptions
    the case raises by design (error paths are checked too). ``watch`` names objects
    the case uses whose reference counts must not grow either: a reference leaked to
    an object that already exists allocates nothing, so only its count shows it."""
    def once() -> None:
        for _ in range(repeat):
            try:
                case()
            except expect:
                pass

    counters = {"allocated blocks": sys.getallocatedblocks, **runtime_counters()}
    for i, obj in enumerate(watch):
        # Small ints, strs and singletons are shared with the whole interpreter (the
        # deltas recorded below hold small ints): their counts say nothing.
        if isinstance(obj, (int, str, bytes, type(None))):
            continue
        counters[f"references to watched object {i} ({type(obj).__name__})"] = \
            lambda obj=obj: sys.getrefcount(obj)
    # Everything alive before the check is frozen out of the collector's reach, so
    # that each collection below walks only what the case made: fast, whatever else
    # the process holds. Each warning is shown once per place, whatever filters the
    # run started with: pytest keeps every warning it is shown (every deprecation,
    # unless -W or PYTHONWARNINGS is given), so one given on every run would pass
    # for a leak.
    with warnings.catch_warnings():
        warnings.simplefilter("default")
        gc.collect()
        gc.freeze()
        try:
            for _ in range(warmups):
                once()
            settle()
            deltas: dict[str, list[int]] = {name: [] for name in counters}
            for _ in range(runs):
                before = {name: c() for name, c in counters.items()}
                once()
                settle()
                for name, c in counters.items():
                    deltas[name].append(c() - before[name])
        finally:
            gc.unfreeze()
    leaking = {name: d for name, d in deltas.items() if all(x > 0 for x in d)}
    assert not leaking, f"leak suspected: {leaking}"
