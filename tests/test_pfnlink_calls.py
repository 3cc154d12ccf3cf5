"""Platform calls through vorn._pfnlink, end to end: the stand-in runtime calls the
pre-call hook and the shared trampoline, which runs the Python callable (its coroutine,
its generic specialisation) and turns every outcome into a result record."""
from __future__ import annotations

import asyncio
import gc
import sys

import pytest

import hooks
from leakcheck import assert_no_leaks
from vorn import _pfnlink
from vorn import _vornc_bridge as bridge
from vorn.types import types as T

pytestmark = pytest.mark.usefixtures("runtime_handles_balanced")
I, S = T.integer(), T.string()
PlatformError = bridge.PlatformError


def add(a, b):
    return a + b


async def add_later(a, b):
    await asyncio.sleep(0)
    return a + b


def fail(*args):
    raise ValueError("bad input: %r" % (args,))


def raise_(exc):
    def fn(*args):
        raise exc
    return fn


class Handle:
    """A result that carries a value handle of its own."""

    def __init__(self, address):
        self._vorn_c_value = address


class Holder:
    """A result whose `_vorn_c_value` property raises."""

    def __init__(self, exc):
        self.exc = exc

    @property
    def _vorn_c_value(self):
        raise self.exc


class Unprintable(Exception):
    def __str__(self):
        raise self.args[0]


def call_error(r, name, *args, **kw):
    with pytest.raises(PlatformError) as info:
        r.call(name, *args, **kw)
    return str(info.value)


# ---- plain, typed and untyped calls


def test_typed_and_untyped_calls(reg):
    reg.register([
        {"name": "typed", "fn": add, "inputs": [I, I], "output": I},
        {"name": "untyped", "fn": add},
        {"name": "concat", "fn": lambda xs, s: [x + s for x in xs], "inputs": [T.array(S), S], "output": T.array(S)},
    ])
    assert reg.call("typed", [2, 3]) == 5
    assert reg.call("untyped", [2, 3], [I, I], ret_type=I) == 5
    assert reg.call("concat", [["a", "b"], "!"]) == ["a!", "b!"]
    reg.call_many(500, "typed", [1, 2])


@pytest.mark.parametrize("arg_types, first", [([], None), ([I], 5), ([I, None], 5), ([None], None)])
def test_arguments_without_a_type_convert_with_null(reg, arg_types, first):
    reg.register([{"name": "show", "fn": lambda *xs: repr(xs)}])
    args = [bridge.CValue(I if first else T.null(), first), bridge.CValue(T.null(), None)]
    assert reg.call("show", args, arg_types, ret_type=S) == f"({first}, None)"
    args[1] = bridge.CValue(I, 1)  # beyond the given types, or with a null type: read as Null
    assert call_error(reg, "show", args, arg_types, ret_type=S) == "runtime value of kind Integer does not fit type Null"


@pytest.mark.parametrize("result, ret_type, expected", [
    (None, None, None),  # the null value, made without converting
    (7, I, 7),
    ([1, 2], T.array(I), [1, 2]),
])
def test_results(reg, result, ret_type, expected):
    reg.register([{"name": "f", "fn": lambda: result}])
    assert reg.call("f", ret_type=ret_type) == expected


def test_vorn_c_value_result_is_that_handle_retained(reg):
    value = bridge.CValue(T.array(I), [1, 2, 3])
    reg.register([{"name": "f", "fn": lambda: Handle(value._vorn_c_value)},
                  {"name": "g", "fn": lambda: value},
                  {"name": "size", "fn": len, "inputs": [T.array(I)], "output": I}])
    assert reg.call("g", ret_type=T.array(I)) == [1, 2, 3]
    got = reg.call("f")  # no type given: the driver hands back the handle itself
    assert isinstance(got, bridge.CValue) and got._vorn_c_value == value._vorn_c_value
    live = bridge.live_values()
    del value  # the result's own reference keeps the handle alive
    assert bridge.live_values() == live and reg.call("size", [got]) == 3
    del got
    assert bridge.live_values() < live  # the array and its items are gone with the last reference


@pytest.mark.parametrize("result, message", [
    (Handle(0), "_vorn_c_value is a null value handle"),
    (Handle(-1), "can't convert negative value to size_t"),
    (Handle("1"), "'str' object cannot be interpreted as an integer"),
    (Handle(1.5), "'float' object cannot be interpreted as an integer"),
    (Holder(ValueError("no handle")), "no handle"),
    (Handle(True), "_vorn_c_value must be the address of a value handle, not a bool"),
    (Handle(False), "_vorn_c_value must be the address of a value handle, not a bool"),
    (Handle(1), "_vorn_c_value 0x1 is not aligned as a value handle"),
    (Handle(0x1004), "_vorn_c_value 0x1004 is not aligned as a value handle"),
])
def test_bad_vorn_c_value_is_an_error_result(reg, result, message):
    reg.register([{"name": "f", "fn": lambda: result}])
    assert call_error(reg, "f", ret_type=I) == message


def test_vorn_c_value_none_or_absent_converts_the_result(reg):
    reg.register([{"name": "none", "fn": lambda: Handle(None)},
                  {"name": "absent", "fn": lambda: Holder(AttributeError("x"))}])
    assert "expected" in call_error(reg, "none", ret_type=I)  # converted as an Integer, and refused
    assert "expected" in call_error(reg, "absent", ret_type=I)


# ---- error results


@pytest.mark.parametrize("fn, message", [
    (fail, "bad input: (1,)"),
    (raise_(KeyboardInterrupt("stop")), "stop"),
    (raise_(SystemExit(3)), "3"),
    (raise_(GeneratorExit()), ""),
    (raise_(ValueError("")), ""),
    (raise_(RuntimeError("naïve ✓")), "naïve ✓"),
    (lambda x: "not an int", "expected int for Integer, got str"),
])
def test_every_exception_becomes_an_error_result(reg, fn, message):
    reg.register([{"name": "f", "fn": fn, "inputs": [I], "output": I}])
    assert call_error(reg, "f", [1]) == message


def test_argument_conversion_failure_is_an_error_result(reg):
    reg.register([{"name": "f", "fn": add}])
    assert call_error(reg, "f", [bridge.CValue(I, 1)], [None]) == "runtime value of kind Integer does not fit type Null"


def test_unknown_registry_and_function_messages_end_with_the_name(reg):
    reg.register([{"name": "gone", "fn": len}, {"name": "kept", "fn": len}])
    del _pfnlink._dispatch_states[reg.address][0][b"gone"]
    assert call_error(reg, "gone") == "Platform function not found: gone"
    _pfnlink.clear_platform_state()
    assert call_error(reg, "kept") == "Platform registry has no Python dispatch state: kept"


@pytest.mark.parametrize("failure", [ValueError("str fails"), SystemExit(1), KeyboardInterrupt()])
def test_exception_whose_str_fails_is_reported_and_still_fails(reg, monkeypatch, failure):
    seen = []
    monkeypatch.setattr(sys, "unraisablehook", seen.append)
    reg.register([{"name": "f", "fn": raise_(Unprintable(failure))}])
    message = call_error(reg, "f")
    assert message == "Platform function failed, and its exception could not be turned into a message"
    [report] = seen
    assert report.object == "vorn._pfnlink._python_platform_fn" and report.exc_value is failure


def test_unreportable_exception_is_printed_chained_to_the_original(reg, monkeypatch, capfd):
    seen = []
    monkeypatch.setattr(sys, "unraisablehook", seen.append)

    class BadStr(Exception):
        def __str__(self):
            return 42

    def platform_function():
        raise BadStr()

    reg.register([{"name": "f", "fn": platform_function}])
    assert call_error(reg, "f").startswith("Platform function failed")
    [report] = seen
    assert report.exc_type is TypeError and isinstance(report.exc_value.__context__, BadStr)
    err = capfd.readouterr().err
    assert "in platform_function" in err and "During handling of the above exception" in err
    # The interpreter words the TypeError differently from version to version (3.15).
    printed = f"TypeError: {report.exc_value}"
    assert "__str__" in printed and err.index("BadStr") < err.index(printed)
    assert "in _python_platform_fn" in err


def test_exception_text_that_is_not_utf8_is_reported(reg, monkeypatch):
    seen = []
    monkeypatch.setattr(sys, "unraisablehook", seen.append)
    reg.register([{"name": "f", "fn": raise_(ValueError("lone \udc80"))}])
    assert call_error(reg, "f").startswith("Platform function failed")
    assert [r.exc_type for r in seen] == [UnicodeEncodeError]


# ---- async functions


def test_async_function_runs_its_coroutine_on_the_main_loop(reg, monkeypatch):
    monkeypatch.setattr(_pfnlink, "_event_loop", None)
    reg.register([{"name": "f", "fn": add_later, "type": "async", "inputs": [I, I], "output": I},
                  {"name": "plain", "fn": lambda: 5, "type": "async", "output": I, "inputs": []}])
    assert reg.call("plain") == 5 and _pfnlink._event_loop is None  # no coroutine, no loop
    assert reg.call("f", [1, 2]) == 3
    loop = _pfnlink._event_loop
    assert isinstance(loop, asyncio.AbstractEventLoop) and not loop.is_running()
    assert reg.call("f", [3, 4]) == 7 and _pfnlink._event_loop is loop
    loop.close()
    assert reg.call("f", [5, 6]) == 11 and _pfnlink._event_loop is not loop  # a closed loop is replaced
    _pfnlink._event_loop.close()


def test_async_failures_are_error_results(reg):
    async def boom():
        await asyncio.sleep(0)
        raise LookupError("late")

    reg.register([{"name": "boom", "fn": boom, "type": "async"}])
    assert call_error(reg, "boom") == "late"


@pytest.mark.filterwarnings("ignore:coroutine .* was never awaited:RuntimeWarning")
def test_sync_function_returning_a_coroutine_does_not_run_it(reg):
    ran = []

    async def side_effect():
        ran.append(1)

    reg.register([{"name": "f", "fn": side_effect, "inputs": [], "output": I}])
    assert "got coroutine" in call_error(reg, "f")
    assert ran == []


@pytest.mark.filterwarnings("ignore:coroutine .* was never awaited:RuntimeWarning")
def test_async_call_from_a_coroutine_on_the_same_loop_is_an_error_result(reg):
    async def outer():
        try:
            return reg.call("inner", [1, 2])
        except PlatformError as e:
            return str(e)

    reg.register([{"name": "outer", "fn": outer, "type": "async", "inputs": [], "output": S},
                  {"name": "inner", "fn": add_later, "type": "async", "inputs": [I, I], "output": I}])
    assert reg.call("outer") == "This event loop is already running"


# ---- generic functions


def test_generic_specialisations_are_made_once_per_handle_tuple(reg):
    made = []

    def factory(fns, *types):
        made.append((fns, types))
        return lambda x: f"{types[0].type}:{x}"

    fns = [{"name": "g", "fn": factory, "type_parameters": ["T"]}]
    reg.register(fns)
    a, b = bridge.CType(I), bridge.CType(I)
    for handle in (a, a, b, a, b):
        assert reg.call("g", [4], [I], ret_type=S, type_args=[handle]) == "Integer:4"
    assert len(made) == 2 and all(f is fns and t == (I,) for f, t in made)
    cache = _pfnlink._dispatch_states[reg.address][2]
    assert sorted(cache) == sorted([(b"g", (a._vorn_c_type,)), (b"g", (b._vorn_c_type,))])


def test_generic_with_several_and_no_type_arguments(reg):
    reg.register([{"name": "g", "fn": lambda fns, *ts: (lambda: ",".join(t.type for t in ts)),
                   "type_parameters": ["K", "V"]}])
    assert reg.call("g", ret_type=S, type_args=[bridge.CType(S), bridge.CType(T.array(I))]) == "String,Array"
    assert reg.call("g", ret_type=S) == ""


def test_factory_returning_none_is_asked_again(reg):
    calls = []

    def factory(fns, t):
        calls.append(t)
        return None if len(calls) == 1 else (lambda: 1)

    reg.register([{"name": "g", "fn": factory, "type_parameters": ["T"]}])
    t = bridge.CType(I)
    assert call_error(reg, "g", ret_type=I, type_args=[t]) == "'NoneType' object is not callable"
    assert reg.call("g", ret_type=I, type_args=[t]) == 1
    assert reg.call("g", ret_type=I, type_args=[t]) == 1 and len(calls) == 2


def test_failing_factory_is_an_error_result_and_caches_nothing(reg):
    reg.register([{"name": "g", "fn": lambda fns, t: 1 / 0, "type_parameters": ["T"]}])
    assert call_error(reg, "g", type_args=[bridge.CType(I)]) == "division by zero"
    assert _pfnlink._dispatch_states[reg.address][2] == {}


def test_async_generic(reg):
    reg.register([{"name": "g", "fn": lambda fns, t: add_later, "type_parameters": ["T"], "type": "async"}])
    assert reg.call("g", [1, 2], [I, I], ret_type=I, type_args=[bridge.CType(I)]) == 3


# ---- C implementations carried in capsules


def test_c_callbacks_and_factories_are_called_directly(reg):
    fns, factories = hooks.testing().c_functions(), hooks.testing().c_factories()
    reg.register([{"name": "echo", "c_callback": fns["echo"], "fn": "never read"},
                  {"name": "add", "c_callback": fns["add"], "inputs": [I, I], "output": I},
                  {"name": "pick", "c_factory": factories["pick"], "type_parameters": ["T"]},
                  {"name": "nothing", "c_factory": factories["nothing"], "type_parameters": []}])
    assert _pfnlink._dispatch_states[reg.address][:2] == ({}, {})
    assert reg.call("echo", ["hi"]) == "hi"
    assert reg.call("add", [2, 40]) == 42
    assert reg.call("pick", [1], [I], type_args=[I]) == "args=1 types=[Integer] ret=Null"
    assert call_error(reg, "nothing") == "generic factory made no function for nothing"


# ---- nesting


def test_nested_platform_calls_leave_the_outer_call_intact(reg):
    def outer(x):
        inner = reg.call("inner", [x], [I], ret_type=I)
        return f"outer({inner})"

    def factory(fns, t):
        assert reg.call("inner", [1], [I], ret_type=I) == 2  # a nested call while specialising
        return outer

    reg.register([{"name": "outer", "fn": outer, "inputs": [I], "output": S},
                  {"name": "inner", "fn": lambda x: x + 1},
                  {"name": "generic_outer", "fn": factory, "type_parameters": ["T"], "inputs": [I], "output": S}])
    assert reg.call("outer", [1]) == "outer(2)"
    assert reg.call("generic_outer", [5], [I], ret_type=S, type_args=[bridge.CType(I)]) == "outer(6)"


def test_unbounded_nesting_ends_in_an_error_result(reg):
    def deeper(n):
        return reg.call("deeper", [n + 1], [I], ret_type=I)

    reg.register([{"name": "deeper", "fn": deeper}])
    assert "maximum recursion depth exceeded" in call_error(reg, "deeper", [0], [I], ret_type=I)


# ---- references


def _registry_case(fns, calls):
    def case():
        r = bridge.Registry()
        try:
            r.register(fns)
            for name, args, kw in calls:
                try:
                    r.call(name, args, **kw)
                except PlatformError:
                    pass
        finally:
            r.free()
    return case


CTYPE_I = bridge.CType(I)


@pytest.mark.parametrize("fns, calls", [
    ([{"name": "f", "fn": add, "inputs": [I, I], "output": I}], [("f", [1, 2], {})]),
    ([{"name": "f", "fn": fail, "inputs": [I], "output": I}], [("f", [1], {})]),
    ([{"name": "f", "fn": lambda: "x", "inputs": [], "output": I}], [("f", [], {})]),
    ([{"name": "f", "fn": add}], [("f", [bridge.CValue(I, 1), 2], {}), ("missing", [], {})]),
    ([{"name": "f", "fn": lambda: Handle(0)}], [("f", [], {"ret_type": I})]),
    ([{"name": "f", "fn": lambda: bridge.CValue(S, "x")}], [("f", [], {})]),
    ([{"name": "f", "fn": add_later, "type": "async", "inputs": [I, I], "output": I}], [("f", [1, 2], {})]),
    ([{"name": "g", "fn": lambda fns, t: add, "type_parameters": ["T"]}],
     [("g", [1, 2], {"arg_types": [I, I], "ret_type": I, "type_args": [CTYPE_I]}),
      ("g", [1, 2], {"arg_types": [I, I], "ret_type": I, "type_args": [I]})]),
    ([{"name": "g", "fn": lambda fns, t: None, "type_parameters": ["T"]}], [("g", [], {"type_args": [I]})]),
    ([{"name": "f", "fn": len, "inputs": [I, I], "output": T.Type("Bogus")}], []),
    ([{"name": "f", "fn": len, "inputs": [T.array(I), T.Type("Bogus")], "output": I}], []),
])
def test_no_leaks_on_any_path(fns, calls):
    case = _registry_case(fns, calls)
    assert_no_leaks(case, expect=(TypeError,))
    # A reference leaked to an object that already exists allocates nothing: count them.
    watched = [fns, *fns, *(d["fn"] for d in fns), CTYPE_I]
    before = [sys.getrefcount(o) for o in watched]
    for _ in range(20):
        try:
            case()
        except TypeError:
            pass
    gc.collect()
    assert [sys.getrefcount(o) for o in watched] == before
