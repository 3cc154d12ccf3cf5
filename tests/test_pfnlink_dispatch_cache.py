"""The trampoline keeps the target of the last call: every change to the dispatch state
made from Python (the table of states, a state, its tables, the specialisation cache, the
module's binding of the table) is seen by the very next call."""
from __future__ import annotations

import weakref

import pytest

from vorn import _pfnlink
from vorn import _vornc_bridge as bridge
from vorn.types import types as T

pytestmark = pytest.mark.usefixtures("runtime_handles_balanced")

I = T.integer()


def tables(reg):
    return _pfnlink._dispatch_states[reg.address]


def returns(value):
    return lambda *args: value


@pytest.mark.parametrize("change, expected", [
    (lambda reg: tables(reg)[0].__setitem__(b"f", (returns(2), False)), 2),
    (lambda reg: tables(reg)[0].pop(b"f"), "Platform function not found: f"),
    (lambda reg: _pfnlink._dispatch_states.__setitem__(reg.address, ({b"f": (returns(3), False)}, {}, {}, [])), 3),
    (lambda reg: _pfnlink._dispatch_states.pop(reg.address), "Platform registry has no Python dispatch state: f"),
    (lambda reg: _pfnlink.clear_platform_state(), "Platform registry has no Python dispatch state: f"),
    (lambda reg: reg.register([{"name": "f", "fn": returns(4), "inputs": [], "output": I}]), 4),
    (lambda reg: tables(reg)[1].__setitem__(b"f", (lambda *_: returns(5), False)), 1),  # the direct table wins
])
def test_changes_are_seen_by_the_next_call(reg, change, expected):
    reg.register([{"name": "f", "fn": returns(1), "inputs": [], "output": I}])
    assert reg.call("f") == 1 and reg.call("f") == 1
    change(reg)
    if isinstance(expected, str):
        with pytest.raises(bridge.PlatformError, match=expected):
            reg.call("f")
    else:
        assert reg.call("f") == expected


def test_rebinding_the_module_table_is_seen(reg, monkeypatch):
    reg.register([{"name": "f", "fn": returns(1), "inputs": [], "output": I}])
    assert reg.call("f") == 1
    monkeypatch.setattr(_pfnlink, "_dispatch_states", {reg.address: ({b"f": (returns(6), False)}, {}, {}, [])})
    assert reg.call("f") == 6


def test_a_change_made_during_a_call_is_seen_by_the_next_one_in_a_c_loop(reg):
    calls = []

    def first():
        calls.append("first")
        tables(reg)[0][b"f"] = (second, False)
        return 1

    def second():
        calls.append("second")
        return 2

    reg.register([{"name": "f", "fn": first, "inputs": [], "output": I}])
    reg.call_many(3, "f")
    assert calls == ["first", "second", "second"]


def test_generic_specialisations_follow_their_cache_and_type_arguments(reg):
    made = []

    def factory(_fns, *types):
        made.append(tuple(t.type for t in types))
        return returns(len(made))

    reg.register([{"name": "g", "fn": factory, "type_parameters": ["T"]}])
    call = lambda *types: reg.call("g", ret_type=I, type_args=list(types))  # noqa: E731
    integer, string = bridge.CType(I), bridge.CType(T.string())
    assert [call(integer), call(integer), call(string), call(integer)] == [1, 1, 2, 1]
    tables(reg)[2].clear()
    assert call(integer) == 3 and made == [("Integer",), ("String",), ("Integer",)]
    tables(reg)[1][b"g"] = (lambda *_: returns(99), False)
    assert call(integer) == 3  # the specialisation cache still serves it
    tables(reg)[2].clear()
    assert call(integer) == 99


def test_a_factory_returning_none_is_asked_again(reg):
    made = []

    def factory(_fns, *_types):
        made.append(1)
        return None if len(made) == 1 else returns(7)

    reg.register([{"name": "g", "fn": factory, "type_parameters": ["T"]}])
    t = bridge.CType(I)
    with pytest.raises(bridge.PlatformError):
        reg.call("g", ret_type=I, type_args=[t])
    assert reg.call("g", ret_type=I, type_args=[t]) == 7 and len(made) == 2


def test_state_objects_that_are_not_exact_dicts_are_looked_up_every_time(reg):
    class Table(dict):
        pass

    reg.register([{"name": "f", "fn": returns(1), "inputs": [], "output": I}])
    direct = Table(tables(reg)[0])
    _pfnlink._dispatch_states[reg.address] = (direct, {}, {}, [])
    assert reg.call("f") == 1
    dict.__setitem__(direct, b"f", (returns(8), False))
    assert reg.call("f") == 8


class Callable:
    def __call__(self, *args):
        return 1


def _generic(specialised):
    def factory(_fns, *_types):
        return specialised
    return factory


@pytest.mark.parametrize("release", [lambda reg: reg.free(), lambda reg: _pfnlink.clear_platform_state()],
                         ids=["registry freed", "state cleared"])
@pytest.mark.parametrize("generic", [False, True], ids=["direct", "generic"])
def test_what_the_last_call_found_is_released_with_its_registry(release, generic):
    # The kept target must not outlive the state it came from, nor wait for a call on
    # another registry to let it go.
    target = Callable()
    alive = weakref.ref(target)
    reg = bridge.Registry()
    try:
        if generic:
            reg.register([{"name": "f", "fn": _generic(target), "type_parameters": ["T"]}])
            assert reg.call("f", ret_type=I, type_args=[bridge.CType(I)]) == 1
        else:
            reg.register([{"name": "f", "fn": target, "inputs": [], "output": I}])
            assert reg.call("f") == 1
        del target
        release(reg)
        assert alive() is None
    finally:
        reg.free()


def test_a_factory_changing_the_tables_is_seen_by_the_next_call(reg):
    # What the first call found was read before its factory ran; the entry the factory
    # adds to the direct table wins from the next call on, as a full lookup finds it.
    def factory(_fns, *_types):
        tables(reg)[0][b"g"] = (returns(2), False)
        return returns(1)

    reg.register([{"name": "g", "fn": factory, "type_parameters": ["T"]}])
    call = lambda: reg.call("g", ret_type=I, type_args=[bridge.CType(I)])  # noqa: E731
    assert [call(), call(), call()] == [1, 2, 2]
