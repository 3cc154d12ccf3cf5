"""The stand-in runtime's registries: plain, typed and generic registration, the
call path (pre_call hook, factory, function, error results), freeing with the
on_free hook, the built-in registry and the per-thread context."""
from __future__ import annotations

import threading
import time

import pytest

import hooks
from vorn import _vornc_bridge as bridge
from vorn.types import types as T

pytestmark = pytest.mark.usefixtures("runtime_handles_balanced")
testing = hooks.testing()
FNS = testing.c_functions()
FACTORIES = testing.c_factories()


@pytest.fixture
def reg():
    r = bridge.Registry()
    testing.clear_recorded()
    yield r
    r.free()


def test_plain_registration_gets_the_callers_types(reg):
    testing.add_function(reg, "describe", FNS["describe"])
    assert reg.call("describe", [1, "x"]) == "args=2 types=[Integer, String] ret=Null"
    got = reg.call("describe", [1, "x"], [T.integer(), None], ret_type=T.string())
    assert got == "args=2 types=[Integer, -] ret=String"


def test_typed_registration_gets_its_declared_types(reg):
    testing.add_function(reg, "describe", FNS["describe"], ([T.integer(), T.array(T.string())], T.string()))
    assert reg.call("describe", [1, ["a"]]) == "args=2 types=[Integer, Array<String>] ret=String"
    # Declared types win over the caller's.
    assert reg.call("describe", [1, ["a"]], [T.integer(), T.array(T.string())], ret_type=T.string()).startswith(
        "args=2 types=[Integer, Array<String>]")


def test_typed_registration_keeps_its_own_type_references():
    before = bridge.live_types()
    r = bridge.Registry()
    testing.add_function(r, "echo", FNS["echo"], ([T.integer(), T.string()], T.integer()))
    assert bridge.live_types() == before + 3  # the bridge's references are already dropped
    r.free()
    assert bridge.live_types() == before


def test_generic_registration_asks_its_factory(reg):
    testing.add_generic(reg, "pick", FACTORIES["pick"])
    assert reg.call("pick", [3]) == 3                                          # echo
    assert reg.call("pick", [3], type_args=[T.integer()]) == "args=1 types=[Integer] ret=Null"  # describe
    testing.add_generic(reg, "nothing", FACTORIES["nothing"])
    with pytest.raises(bridge.PlatformError, match="^generic factory made no function for nothing$"):
        reg.call("nothing", [])


def test_pre_call_hook_runs_before_each_call_with_name_and_type_arguments(reg):
    testing.add_function(reg, "echo", FNS["echo"])
    testing.add_generic(reg, "pick", FACTORIES["pick"])
    testing.install_recording_hooks(reg)
    reg.call("echo", [1])
    reg.call("pick", [1], type_args=[T.array(T.integer()), bridge.CType(T.string())])
    assert testing.recorded()["pre_calls"] == [("echo", []), ("pick", ["Array<Integer>", "String"])]


def test_freeing_calls_the_on_free_hook_once():
    r = bridge.Registry()
    testing.clear_recorded()
    testing.install_recording_hooks(r)
    address = r.address
    r.free()
    r.free()
    assert testing.recorded()["frees"] == [address]
    assert r.freed and r.address is None
    with pytest.raises(ValueError, match="freed"):
        r.call("echo", [])


def test_error_results_carry_their_message(reg):
    testing.add_function(reg, "fail", FNS["fail"])
    with pytest.raises(bridge.PlatformError) as e:
        reg.call("fail", [1, 2])
    assert str(e.value) == "failed with 2 arguments" and isinstance(e.value, RuntimeError)
    with pytest.raises(bridge.PlatformError, match="^no platform function named nope$"):
        reg.call("nope", [])


def test_the_latest_registration_of_a_name_is_called(reg):
    testing.add_function(reg, "f", FNS["echo"])
    testing.add_function(reg, "f", FNS["add"])
    assert reg.call("f", [2, 3]) == 5
    entries = reg.entries()
    assert [e["name"] for e in entries] == ["f", "f"] and entries[0]["fn"] != entries[1]["fn"]


def test_entries_describe_each_registration(reg):
    testing.add_function(reg, "a", FNS["echo"])
    testing.add_function(reg, "b", FNS["echo"], ([T.integer()], T.string()))
    testing.add_generic(reg, "c", FACTORIES["pick"])
    a, b, c = reg.entries()
    assert (a["form"], a["inputs"], a["output"], a["async"]) == ("plain", None, None, False)
    assert (b["form"], b["inputs"], b["output"]) == ("typed", [T.integer()], T.string())
    assert c["form"] == "generic"


def test_calls_run_without_the_interpreter_lock(reg):
    testing.add_function(reg, "sleep", FNS["sleep"])
    ticks = []
    stop = threading.Event()

    def count():
        while not stop.is_set():
            ticks.append(1)
            time.sleep(0.001)

    th = threading.Thread(target=count)
    th.start()
    time.sleep(0.02)
    before = len(ticks)
    reg.call("sleep", [300])
    during = len(ticks) - before
    stop.set()
    th.join()
    assert during > 20


@pytest.mark.parametrize("name, args, types, ret, expected", [
    ("int_add", [1, 2], [T.integer(), T.integer()], T.integer(), 3),
    ("string_concat", ["a", "é"], [T.string(), T.string()], T.string(), "aé"),
    ("length", ["é€😀"], [T.string()], T.integer(), 3),
    ("length", [[1, 2]], [T.array(T.integer())], T.integer(), 2),
    ("to_text", [{"a": [1]}], [T.struct(a=T.array(T.integer()))], T.string(), "{a: [1]}"),
])
def test_builtins(name, args, types, ret, expected):
    assert testing.builtin_names() == ["length", "int_add", "string_concat", "to_text"]
    assert testing.call_builtin(name, args, types, ret) == expected


@pytest.mark.parametrize("name, args, types, message", [
    ("int_add", [2**62, 2**62], [T.integer(), T.integer()], "int_add: integer overflow"),
    ("int_add", [1], [T.integer()], "int_add: wrong number or kind of arguments"),
    ("to_text", [len], [T.function([], T.null())], "to_text: the value has no text form"),
    ("missing", [], [], "no built-in named missing"),
])
def test_builtin_errors(name, args, types, message):
    with pytest.raises(RuntimeError) as e:
        testing.call_builtin(name, args, types, T.integer())
    assert str(e.value) == message


def test_thread_context_is_per_thread():
    seen = []
    th = threading.Thread(target=lambda: seen.append(testing.thread_context()))
    th.start()
    th.join()
    assert seen == [(None, None)]
