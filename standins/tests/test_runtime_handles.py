"""The stand-in runtime's handles: live counts, release of any depth, values the
runtime refuses to make, and reference counts that stay right across threads."""
from __future__ import annotations

import threading

import pytest

import hooks
from vorn import _vornc_bridge as bridge
from vorn.types import types as T

pytestmark = pytest.mark.usefixtures("runtime_handles_balanced")
testing = hooks.testing()


@pytest.mark.parametrize("make, types, values", [
    (lambda: bridge.CType(T.integer()), 1, 0),
    (lambda: bridge.CType(T.dict_(T.string(), T.array(T.integer()))), 4, 0),
    (lambda: bridge.CValue(T.array(T.integer()), [1, 2, 3]), 2, 4),
    (lambda: bridge.CValue(T.array(T.boolean()), [True, False]), 2, 1),    # Booleans are static
    (lambda: bridge.CValue(T.struct(a=T.null(), b=T.string()), {"a": None, "b": ""}), 3, 2),
])
def test_live_counts_follow_the_handles(make, types, values):
    before = bridge.live_handles()
    held = make()
    assert bridge.live_handles() == (before[0] + types, before[1] + values)
    del held
    assert bridge.live_handles() == before


def test_a_value_of_any_depth_is_released():
    deep = testing.nested_arrays(1_000_000)
    assert bridge.live_values() >= 1_000_001
    assert deep.text() is None  # too deep to print
    del deep


def test_printing_stops_at_the_depth_limit():
    assert testing.nested_arrays(2000).text() == "[" * 2001 + "]" * 2001
    assert testing.nested_arrays(2100).text() is None


def test_ref_cycle_has_no_text_and_is_freed_once_broken():
    cycle = testing.ref_cycle()
    assert cycle.text() is None
    testing.break_ref_cycle(cycle)


@pytest.mark.parametrize("data, accepted", [
    (b"plain", True),
    ("é€😀".encode(), True),
    (b"\xff", False),
    (b"\xc0\x80", False),              # overlong NUL
    (b"\xed\xa0\x80", False),          # a surrogate
    (b"\xf4\x90\x80\x80", False),      # above U+10FFFF
    (b"ab\xe2\x82", False),            # cut short
    (b"\x00", True),
])
def test_strings_must_be_utf8(data, accepted):
    v = testing.string_from_bytes(data)
    assert (v is not None) == accepted
    if accepted:
        assert v.to_py() == data.decode()


def test_reference_counts_hold_across_threads_without_the_interpreter_lock():
    reg = bridge.Registry()
    testing.add_function(reg, "echo", testing.c_functions()["echo"])
    shared = bridge.CValue(T.string(), "shared")
    errors = []

    def hammer():
        try:
            reg.call_many(20_000, "echo", [shared])
        except BaseException as e:
            errors.append(e)

    threads = [threading.Thread(target=hammer) for _ in range(4)]
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    assert not errors
    assert shared.to_py() == "shared"
    reg.free()


def test_handles_made_on_a_thread_that_exits_are_counted_and_freed():
    before = bridge.live_handles()
    kept = []
    th = threading.Thread(target=lambda: kept.extend(bridge.CValue(T.array(T.integer()), [1, 2]) for _ in range(50)))
    th.start()
    th.join()
    assert bridge.live_handles() == (before[0] + 100, before[1] + 150)
    kept.clear()
    assert bridge.live_handles() == before
