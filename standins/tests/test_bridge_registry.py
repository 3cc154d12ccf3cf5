"""vorn._vornc_bridge.Registry, the driver of a runtime platform registry: argument
and result conversion, error results as exceptions, the C call loop, and
registration through vorn._pfnlink's exported function."""
from __future__ import annotations

import subprocess
import sys
import textwrap

import pytest

import hooks
from vorn import _vornc_bridge as bridge
from vorn.types import types as T
from vorn.types import values as V

pytestmark = pytest.mark.usefixtures("runtime_handles_balanced")
testing = hooks.testing()
FNS = testing.c_functions()


@pytest.fixture
def reg():
    r = bridge.Registry()
    testing.add_function(r, "echo", FNS["echo"])
    testing.add_function(r, "fail", FNS["fail"])
    testing.add_function(r, "typed_echo", FNS["echo"], ([T.array(T.integer())], T.array(T.integer())))
    yield r
    r.free()


@pytest.mark.parametrize("arg, expected", [
    (None, None), (True, True), (7, 7), (2.5, 2.5), ("text", "text"), (b"bytes", V.VornBlob(b"bytes")),
])
def test_scalar_arguments_convert_by_their_python_type(reg, arg, expected):
    back = reg.call("echo", [arg])
    assert back == expected and type(back) is type(expected)


def test_declared_types_convert_arguments_and_result(reg):
    assert reg.call("typed_echo", [[1, 2]]) == [1, 2]
    with pytest.raises(TypeError, match="expected int for Integer, got str"):
        reg.call("typed_echo", [["x"]])


def test_explicit_types(reg):
    t = T.struct(a=T.integer())
    assert reg.call("echo", [{"a": 1}], [t], ret_type=t) == {"a": 1}
    assert reg.call("echo", args=[{"a": 1}], arg_types=[bridge.CType(t)], ret_type=bridge.CType(t)) == {"a": 1}


def test_composite_result_without_a_type_is_a_cvalue(reg):
    got = reg.call("echo", [[1, 2]], [T.array(T.integer())])
    assert isinstance(got, bridge.CValue) and got.kind == "Array"


def test_cvalue_arguments_pass_their_handle(reg):
    v = bridge.CValue(T.array(T.integer()), [4])
    got = reg.call("echo", [v])
    assert got._vorn_c_value == v._vorn_c_value


def test_arguments_without_any_type(reg):
    with pytest.raises(TypeError, match="no type for an argument of type list: pass arg_types"):
        reg.call("echo", [[1]])


def test_error_results_raise_platform_error(reg):
    with pytest.raises(bridge.PlatformError, match="^failed with 0 arguments$"):
        reg.call("fail")
    with pytest.raises(bridge.PlatformError, match="^failed with 1 arguments$"):
        reg.call_many(10, "fail", [1])


def test_call_many(reg):
    assert reg.call_many(1000, "echo", [1]) is None
    assert reg.call_many(0, name="fail") is None
    assert reg.call_many(3, "typed_echo", [[1, 2, 3]]) is None


@pytest.mark.parametrize("call, error", [
    (lambda r: r.call(), TypeError),
    (lambda r: r.call(1), TypeError),
    (lambda r: r.call("echo", 5), TypeError),
    (lambda r: r.call("echo", [], [1]), TypeError),
    (lambda r: r.call("echo", [], type_args=[None]), TypeError),
    (lambda r: r.call_many("x", "echo"), TypeError),
])
def test_bad_driver_arguments(reg, call, error):
    with pytest.raises(error):
        call(reg)


def test_registry_freed_when_collected():
    testing.clear_recorded()
    r = bridge.Registry()
    testing.install_recording_hooks(r)
    address = r.address
    del r
    assert testing.recorded()["frees"] == [address]


pfnlink = pytest.importorskip("vorn._pfnlink")


def test_register_through_pfnlink_and_call():
    r = bridge.Registry()

    async def bump(x):
        return x + 1

    r.register([
        {"name": "double", "fn": lambda x: x * 2, "inputs": [T.integer()], "output": T.integer()},
        {"name": "boom", "fn": lambda: 1 / 0},
        {"name": "bump", "type": "async", "fn": bump, "inputs": [T.integer()], "output": T.integer()},
        {"name": "pair", "type_parameters": ["T"], "fn": lambda fns, t: (lambda x: [x, x])},
    ])
    try:
        assert [e["form"] for e in r.entries()] == ["typed", "plain", "typed", "generic"]
        assert r.call("double", [21]) == 42
        assert r.call("bump", [1]) == 2
        assert r.call("pair", [5], [T.integer()], ret_type=T.array(T.integer()), type_args=[T.integer()]) == [5, 5]
        with pytest.raises(bridge.PlatformError, match="^division by zero$"):
            r.call("boom")
        r.call_many(100, "double", [3])
    finally:
        r.free()


def test_register_failure_is_raised():
    r = bridge.Registry()
    try:
        with pytest.raises(KeyError):
            r.register([{"fn": len}])
    finally:
        r.free()


def test_register_without_pfnlink_raises_import_error():
    script = textwrap.dedent("""
        import sys
        sys.modules["vorn._pfnlink"] = None
        from vorn import _vornc_bridge as bridge
        r = bridge.Registry()
        try:
            r.register([])
        except ImportError as e:
            print("ImportError")
    """)
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "ImportError"
