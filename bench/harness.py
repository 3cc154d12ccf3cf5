"""Timing harness for the benchmarks: each case times our path and its baselines in
the same run and prints a table of times and ratios."""
from __future__ import annotations

import gc
import time
from typing import Callable

__all__ = ["measure", "Table"]


def measure(fn: Callable[[], object], repeat: int = 5, min_time: float = 0.05) -> float:
    """Best wall time of one call of ``fn`` over ``repeat`` rounds, in seconds.

    A round repeats ``fn`` until it has run for ``min_time``, so fast calls are timed
    over many runs; the collector is paused while timing.
    """
    best = float("inf")
    gc_was_enabled = gc.isenabled()
    gc.collect()
    gc.disable()
    try:
        for _ in range(repeat):
            n = 0
            start = time.perf_counter()
            while True:
                fn()
                n += 1
                elapsed = time.perf_counter() - start
                if elapsed >= min_time:
                    break
            best = min(best, elapsed / n)
    finally:
        if gc_was_enabled:
            gc.enable()
    return best


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

    def add(self, case: str, ours: float, **baselines: float) -> None:
        self.rows.append((case, ours, baselines))
        self._print_row(case, ours, baselines)

    def header(self) -> None:
        print(f"\n== {self.title}")
        print(f"{'case':<44} {'ours':>11}   baselines (time, speed-up = baseline/ours)")

    def _print_row(self, case: str, ours: float, baselines: dict[str, float]) -> None:
        parts = [f"{name}: {_fmt(t).strip()} ({t / ours:.2f}x)" for name, t in baselines.items()]
        print(f"{case:<44} {_fmt(ours):>11}   " + "; ".join(parts), flush=True)
