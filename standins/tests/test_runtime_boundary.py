"""The stand-ins' boundary: heap buffers the runtime accounts for, its test fixtures
(printers returning given bytes, an unprintable type, C functions that never reach
the trampoline), the driver's faults mended, and Sets and Dicts that hold each
element or key once."""
from __future__ import annotations

import ctypes
import math
import pathlib

import pytest

import hooks
from leakcheck import assert_no_leaks
from vorn import _pfnlink
from vorn import _vornc_bridge as bridge
from vorn.serialization import _textcodec as tc
from vorn.types import types as T
from vorn.types import values as V

pytestmark = pytest.mark.usefixtures("runtime_handles_balanced")

I, S = T.integer(), T.string()
testing = hooks.testing()


@pytest.fixture
def printed():
    """Sets the runtime printers' text for the test, and unsets it afterwards."""
    yield testing.print_override
    testing.print_override(None)


def buffers():
    return bridge.live_buffers()


# ---- printed texts

def test_printed_texts_are_counted_until_freed():
    lib = ctypes.CDLL(str(pathlib.Path(bridge.__file__).with_name("libvorn_c_shared.so.0")))
    lib.vorn_print_type.restype = ctypes.c_void_p
    lib.vorn_print_type.argtypes = [ctypes.c_void_p]
    lib.__wrap_free.argtypes = [ctypes.c_void_p]
    handle = bridge.CType(T.array(I))
    before = buffers()["printed_texts"]
    text = lib.vorn_print_type(handle._vorn_c_type)
    assert ctypes.string_at(text) == b"Array<Integer>" and buffers()["printed_texts"] == before + 1
    lib.__wrap_free(text)
    assert buffers()["printed_texts"] == before


@pytest.mark.parametrize("data, expected", [
    (b"", ""),
    (b"ab\x00cd", "ab"),          # the text ends at its first NUL
    ("é€𝄞".encode(), "é€𝄞"),
])
@pytest.mark.parametrize("printer", ["type", "value"])
def test_printed_bytes_are_decoded_and_freed(printed, data, expected, printer):
    printed(data)
    before = buffers()["printed_texts"]
    got = tc._print_type(I) if printer == "type" else tc._print_value(I, 1)
    assert got == expected and buffers()["printed_texts"] == before


@pytest.mark.parametrize("printer", ["type", "value"])
def test_invalid_utf8_raises_and_still_frees(printed, printer):
    printed(b"ok\xff\xfe")
    call = (lambda: tc._print_type(I)) if printer == "type" else (lambda: tc._print_value(I, 1))
    with pytest.raises(UnicodeDecodeError):
        call()
    assert_no_leaks(call, expect=UnicodeDecodeError)


def test_unprintable_type_is_a_runtime_error():
    bad = testing.unprintable_type()
    with pytest.raises(RuntimeError, match="^vorn-c vorn_print_type returned NULL$"):
        tc._print_type(bad)
    assert_no_leaks(lambda: tc._print_type(bad), expect=RuntimeError)


def test_codec_paths_free_every_printed_text(printed):
    assert_no_leaks(lambda: (tc._print_type(T.array(S)), tc._print_value(T.array(S), ["a"])))
    printed(b"x")
    assert_no_leaks(lambda: (tc._print_type(I), tc._print_value(I, 1)))


# ---- error messages and registry names

def test_error_messages_are_taken_over_once(reg):
    def boom():
        raise ValueError("no")

    reg.register([{"name": "boom", "fn": boom}, {"name": "fail", "c_callback": testing.c_functions()["fail"]}])
    for name, message in [("boom", "no"), ("fail", "failed with 0 arguments")]:
        with pytest.raises(bridge.PlatformError, match=message):
            reg.call(name)
    assert buffers()["error_messages"] == 0 and buffers()["repeated_messages"] == 0
    assert_no_leaks(lambda: reg.call("boom"), expect=bridge.PlatformError)


def test_registry_names_live_with_their_registry():
    before = buffers()["registry_names"]
    r = bridge.Registry()
    r.register([{"name": n, "fn": len} for n in ("a", "b", "a")])
    assert buffers()["registry_names"] == before + 3
    r.free()
    assert buffers()["registry_names"] == before


# ---- C functions never reach the trampoline

@pytest.mark.parametrize("generic", [False, True])
def test_c_functions_bypass_the_trampoline(reg, generic):
    if generic:
        description = {"name": "k", "c_factory": testing.c_factories()["constant"], "type_parameters": ["T"]}
        kw = {"type_args": [I]}
    else:
        description = {"name": "k", "c_callback": testing.c_functions()["constant"], "inputs": [S], "output": I}
        kw = {}
    reg.register([description])
    direct, generic_table, _, _ = _pfnlink._dispatch_states[reg.address]
    assert b"k" not in direct and b"k" not in generic_table
    assert reg.call("k", ["anything"], **kw) == 42   # the trampoline would convert "anything" first
    _pfnlink.clear_platform_state()
    assert reg.call("k", ["anything"], **kw) == 42


# ---- the driver

def test_freeing_the_registry_while_converting_arguments(reg):
    class Frees:
        def __index__(self):
            reg.free()
            return 1

    reg.register([{"name": "add", "fn": lambda a, b: a + b, "inputs": [I, I], "output": I}])
    with pytest.raises(ValueError, match="the platform registry has been freed"):
        reg.call("add", [Frees(), 2])
    assert reg.freed and reg.address is None


def test_freeing_the_registry_during_a_call_waits_for_it(reg):
    def frees():
        reg.free()
        assert reg.freed
        return 5

    reg.register([{"name": "f", "fn": frees, "inputs": [], "output": I}])
    key = reg.address
    assert reg.call("f") == 5
    assert reg.freed and key not in _pfnlink._dispatch_states   # freed, its hook run, after the call
    with pytest.raises(ValueError, match="freed"):
        reg.call("f")


def test_untyped_defaults(reg):
    reg.register([{"name": "f", "fn": lambda *xs: None if not xs else repr(xs)}])
    assert reg.call("f", [5, "a", bridge.CValue(T.array(I), [1])], ret_type=S) == "(5, 'a', VornArray([1]))"
    assert reg.call("f") is None                           # no result type: the Null type
    with pytest.raises(bridge.PlatformError, match="expected None for Null, got str"):
        reg.call("f", [1])


def test_entries_report_undecodable_names_as_bytes(reg):
    class Name:
        def encode(self, _encoding):
            return b"\xffname"

    reg.register([{"name": Name(), "fn": len}, {"name": "ok", "fn": len}])
    assert [e["name"] for e in reg.entries()] == [b"\xffname", "ok"]


@pytest.mark.parametrize("held, wanted", [
    (T.array(S), T.array(I)),
    (T.dict_(S, I), T.dict_(S, S)),
    (T.struct(a=I), T.struct(b=I)),
])
def test_cvalue_of_another_type_is_refused(held, wanted):
    value = bridge.CValue(held, V.VornDict({"x": 1}) if held.type == "Dict" else ({"a": 1} if held.type == "Struct" else ["x"]))
    with pytest.raises(TypeError, match=rf"^CValue of type .* does not fit type "):
        bridge.CValue(wanted, value)


def test_cvalue_of_the_same_type_is_its_own_handle():
    tree = T.recursive("L", T.array(T.rec_ref("L")))
    inner = bridge.CValue(tree, [[]])
    outer = bridge.CValue(tree, [inner, []])       # a CValue of the wrapper's type, inside it
    assert outer.to_py() == [[[]], []]
    assert bridge.CValue(T.array(T.array(I)), [bridge.CValue(T.array(I), [1])]).to_py() == [[1]]


# ---- Sets and Dicts hold each element or key once

@pytest.mark.parametrize("items, text", [
    ([1, 1, 1], "#{1}"),
    ((2, 1, 2), "#{2, 1}"),
    ([0.0, -0.0, math.nan, float("nan")], None),
])
def test_set_conversion_drops_repeats(items, text):
    t = T.set_(T.float_() if isinstance(items[0], float) else I)
    printed = tc._print_value(t, items)
    if text:
        assert printed == text
        assert tc._print_value(t, tc._parse_value(t, printed)) == printed
    else:  # NaN equals itself in Vorn, -0.0 differs from 0.0
        assert printed.count("nan") == 1 and printed.count("0.0") == 2
        tc._parse_value(t, printed)


def test_set_of_sets_is_unique_regardless_of_order():
    t = T.set_(T.set_(I))
    assert tc._print_value(t, [[1, 2], [2, 1], [3]]) == "#{#{1, 2}, #{3}}"


def test_vornset_filled_behind_its_back():
    s = V.VornSet([1, 2])
    s._items.append(1)
    assert tc._print_value(T.set_(I), s) == "#{1, 2}"


def test_dict_conversion_refuses_repeated_keys():
    d = V.VornDict({1: "a"})
    d._keys.append(1)
    d._values.append("b")
    with pytest.raises(ValueError, match="^Dict value holds the key 1 more than once$"):
        tc._print_value(T.dict_(I, S), d)
    nans = {float("nan"): 1, float("nan"): 2}
    with pytest.raises(ValueError, match="^Dict value holds the key nan more than once$"):
        tc._print_value(T.dict_(T.float_(), I), nans)
    assert_no_leaks(lambda: tc._print_value(T.dict_(I, S), d), expect=ValueError)


@pytest.mark.parametrize("t, text", [
    (T.set_(I), "#{1, 2, 1}"),
    (T.dict_(I, I), "{1 => 2, 1 => 3}"),
    (T.set_(T.set_(I)), "#{#{1, 2}, #{2, 1}}"),
    (T.dict_(S, I), '{"a" => 1, "b" => 2, "a" => 1}'),
])
def test_parse_refuses_repeats(t, text):
    with pytest.raises(ValueError, match="^vorn-c parse failed for: "):
        tc._parse_value(t, text)


@pytest.mark.parametrize("t, text", [(T.set_(I), "#{1, 2}"), (T.dict_(I, I), "{1 => 2, 2 => 2}")])
def test_printed_unique_values_parse_back(t, text):
    assert tc._print_value(t, tc._parse_value(t, text)) == text


def test_distinct_refs_stay_apart_in_a_set():
    t = T.set_(T.ref(I))
    cells = [V.VornRef(1), V.VornRef(1)]
    assert tc._print_value(t, cells) == "#{ref(1), ref(1)}"
    assert len(list(tc._parse_value(t, "#{ref(1), ref(1)}"))) == 2
