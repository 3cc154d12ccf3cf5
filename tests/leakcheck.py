"""Leak checks for release builds, as refleak hunters do them: run a case many times
and fail only when a counter grows on every run after warm-up."""
from __future__ import annotations

import gc
import sys
from typing import Callable


def runtime_counters() -> dict[str, Callable[[], int]]:
    """Live-handle counters of the stand-in C runtime, when it is built."""
    try:
        from vorn import _vornc_bridge as bridge
    except ImportError:
        return {}
    counters = {}
    for name in ("live_types", "live_values"):
        fn = getattr(bridge, name, None)
        if fn is not None:
            counters[name] = fn
    return counters


def assert_no_leaks(case: Callable[[], object], *, expect: type[BaseException] | tuple = (),
                    warmups: int = 4, runs: int = 8, repeat: int = 20) -> None:
    """Runs ``case`` ``repeat`` times per run; fails when allocated blocks or live
    runtime handles grow in every one of ``runs`` runs. ``expect`` lists exceptions
    the case raises by design (error paths are checked too)."""
    def once() -> None:
        for _ in range(repeat):
            try:
                case()
            except expect:
                pass

    counters = {"allocated blocks": sys.getallocatedblocks, **runtime_counters()}
    for _ in range(warmups):
        once()
    gc.collect()
    deltas: dict[str, list[int]] = {name: [] for name in counters}
    for _ in range(runs):
        before = {name: c() for name, c in counters.items()}
        once()
        gc.collect()
        for name, c in counters.items():
            deltas[name].append(c() - before[name])
    leaking = {name: d for name, d in deltas.items() if all(x > 0 for x in d)}
    assert not leaking, f"leak suspected: {leaking}"
