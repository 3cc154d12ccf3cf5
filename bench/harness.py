"""Timing harness for the benchmarks: each case times our path and its baselines in
the same run and prints a table of times and ratios."""
from __future__ import annotations

import gc
import time
from typing import Callable

__all__ = ["measure", "race", "Table"]


def race(fns: dict[str, Callable[[], object]], repeat: int = 5, min_time: float = 0.05,
         collector: bool = False) -> dict[str, float]:
    """Best time of one call of each of ``fns``, in seconds, over ``repeat`` rounds.

    Time is this process's CPU time, so that time other processes take on a busy
    machine does not count; each round times every function in turn, so that what
    they still share (caches, memory bandwidth) hits them alike. A timing repeats its function until it has run for ``min_time``, so fast
    calls are timed over many runs. The collector is paused inside each timing unless
    ``collector`` is true; garbage of earlier timings is collected before each one.
    """
    best = dict.fromkeys(fns, float("inf"))
    gc_was_enabled = gc.isenabled()
    try:
        for _ in range(repeat):
            for name, fn in fns.items():
                gc.collect()
                if not collector:
                    gc.disable()
                n = 0
                start = time.process_time()
                while True:
                    fn()
                    n += 1
                    elapsed = time.process_time() - start
                    if elapsed >= min_time:
                        break
                gc.enable()
                best[name] = min(best[name], elapsed / n)
    finally:
        if not gc_was_enabled:
            gc.disable()
    return best


def measure(fn: Callable[[], object], repeat: int = 5, min_time: float = 0.05) -> float:
    """Best time of one call of ``fn`` over ``repeat`` rounds (see ``race``)."""
    return race({"fn": fn}, repeat, min_time)["fn"]


def _fmt(seconds: float) -> str:
    if seconds >= 1:
        return f"{seconds:8.3f} s "
    if seconds >= 1e-3:
        return f"{seconds * 1e3:8.2f} ms"
    return f"{seconds * 1e6:8.1f} us"


class Table:
    """Rows of (case, ours, {baseline: time}); printed with ratio = baseline / ours
    (above 1 means we are faster) and, for floors, ours / floor."""

    def __init__(self, title: str) -> None:
        self.title = title
        self.rows: list[tuple[str, float, dict[str, float]]] = []

    def add(self, case: str, ours: float, note: str = "", **baselines: float) -> None:
        self.rows.append((case, ours, baselines))
        self._print_row(case, ours, baselines, note)

    def header(self) -> None:
        print(f"\n== {self.title}")
        print(f"{'case':<44} {'ours':>11}   baselines (time, speed-up = baseline/ours)")

    def _print_row(self, case: str, ours: float, baselines: dict[str, float], note: str) -> None:
        parts = [f"{name}: {_fmt(t).strip()} ({t / ours:.2f}x)" for name, t in baselines.items()]
        print(f"{case:<44} {_fmt(ours):>11}   " + "; ".join(parts) + (f"   {note}" if note else ""),
              flush=True)
