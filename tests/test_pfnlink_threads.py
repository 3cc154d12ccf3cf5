"""Platform calls on several threads at once: each thread's current-call record and
event loop are its own, so concurrent sync, async and generic calls all get the right
function, loop and result."""
from __future__ import annotations

import asyncio
import gc
import threading

import pytest

from vorn import _pfnlink
from vorn import _vornc_bridge as bridge
from vorn.types import types as T

pytestmark = pytest.mark.usefixtures("runtime_handles_balanced")
I, S = T.integer(), T.string()
THREADS = 4


def run_threads(work, n=THREADS):
    """Runs work(k) on n threads started together; re-raises the first failure."""
    errors = []
    barrier = threading.Barrier(n)

    def run(k):
        barrier.wait()
        try:
            work(k)
        except BaseException as e:  # reported by the main thread
            errors.append(e)

    threads = [threading.Thread(target=run, args=(k,)) for k in range(n)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    if errors:
        raise errors[0]


def test_sync_calls_of_different_functions_at_once(reg):
    def make(k):
        return lambda x: x * 10 + k

    reg.register([{"name": f"f{k}", "fn": make(k), "inputs": [I], "output": I} for k in range(THREADS)])

    def work(k):
        for i in range(2000):
            assert reg.call(f"f{k}", [i]) == i * 10 + k
        reg.call_many(2000, f"f{k}", [1])

    run_threads(work)


def test_async_calls_on_four_threads_each_on_its_own_loop(reg):
    loops = {}

    async def tagged(k, i):
        # The loops themselves are kept: a thread that ended first would free its loop,
        # and a later thread's could take its address.
        loops.setdefault(k, set()).add(asyncio.get_running_loop())
        for _ in range(3):
            await asyncio.sleep(0)
        return f"{threading.get_ident()}:{k}:{i}"

    reg.register([{"name": "tagged", "fn": tagged, "type": "async", "inputs": [I, I], "output": S}])

    def work(k):
        me = threading.get_ident()
        for i in range(300):
            assert reg.call("tagged", [k, i]) == f"{me}:{k}:{i}"
        reg.call_many(300, "tagged", [k, 0])

    run_threads(work)
    assert all(len(ids) == 1 for ids in loops.values())  # one loop per thread, reused
    assert len({next(iter(ids)) for ids in loops.values()}) == THREADS


def test_a_thread_loop_is_apart_from_the_main_loop_replaced_when_closed_and_closed_with_its_thread(reg):
    async def which():
        await asyncio.sleep(0)
        return id(asyncio.get_running_loop())

    reg.register([{"name": "which", "fn": which, "type": "async", "inputs": [], "output": I}])
    main_id = reg.call("which")
    assert main_id == id(_pfnlink._event_loop)
    seen = {}

    def work(_):
        first = reg.call("which")
        loop = _pfnlink._thread_event_loops.loop
        assert id(loop) == first != main_id and reg.call("which") == first
        loop.close()
        assert reg.call("which") != first and not _pfnlink._thread_event_loops.loop.is_closed()
        seen["loop"] = _pfnlink._thread_event_loops.loop

    run_threads(work, 1)
    gc.collect()
    assert seen["loop"].is_closed()  # its thread is gone, and nothing can run it any more
    assert not _pfnlink._event_loop.is_closed() and id(_pfnlink._event_loop) == main_id


def test_generic_specialisations_on_several_threads(reg):
    made = []
    lock = threading.Lock()

    def factory(fns, t):
        with lock:
            made.append(t.type)
        return lambda x: f"{t.type}:{x}"

    reg.register([{"name": "g", "fn": factory, "type_parameters": ["T"]}])
    handles = [bridge.CType(t) for t in (I, S, T.boolean(), T.float_())]

    def work(k):
        for i in range(500):
            got = reg.call("g", [i], [I], ret_type=S, type_args=[handles[k]])
            assert got == f"{handles[k].to_py().type}:{i}"

    run_threads(work)
    assert sorted(set(made)) == sorted(h.to_py().type for h in handles)


def test_nested_calls_on_several_threads(reg):
    def outer(k):
        return reg.call("inner", [k], [I], ret_type=I) + 1000

    reg.register([{"name": "outer", "fn": outer, "inputs": [I], "output": I},
                  {"name": "inner", "fn": lambda k: k * 2}])

    def work(k):
        for _ in range(500):
            assert reg.call("outer", [k]) == k * 2 + 1000

    run_threads(work)


def test_free_hook_on_another_thread(reg):
    regs = [bridge.Registry() for _ in range(THREADS)]
    for r in regs:
        r.register([{"name": "f", "fn": len}])
    addresses = {r.address for r in regs}
    run_threads(lambda k: regs[k].free())
    assert not addresses & set(_pfnlink._dispatch_states)
