"""vorn.serialization._textcodec: its surface, the one-time runtime set-up, every
failure path with its exact message, and handles released on each of them."""
from __future__ import annotations

import datetime as dt
import subprocess
import sys
import textwrap
import threading

import pytest

import hooks
from leakcheck import assert_no_leaks
from vorn import _vornc_bridge as bridge
from vorn.serialization import _textcodec as tc
from vorn.types import types as T
from vorn.types import values as V

pytestmark = pytest.mark.usefixtures("runtime_handles_balanced")

PERSON = T.struct(name=T.string(), age=T.integer())


def test_module_surface():
    assert tc.__doc__ == "Vorn text format print/parse via vorn-c."
    assert tc._print_value.__doc__ == "Print an Vorn value to text format via vorn-c."
    assert tc._print_type.__doc__ == "Print an Vorn type to text format via vorn-c."
    assert tc._parse_value.__doc__ == "Parse Vorn text format into a value via vorn-c."
    for fn in (tc._print_value, tc._print_type, tc._parse_value):
        assert fn.__module__ == "vorn.serialization._textcodec"
        assert fn.__qualname__ == fn.__name__
    assert sorted(n for n in vars(tc) if not n.startswith("__")) == ["_parse_value", "_print_type", "_print_value"]


@pytest.mark.parametrize("call", [
    lambda: tc._print_value(py_type=T.integer(), value=3),
    lambda: tc._print_value(value=3, py_type=T.integer()),
    lambda: tc._print_value(T.integer(), value=3),
    lambda: tc._parse_value(text="3", py_type=T.integer()),
    lambda: tc._print_type(py_type=T.integer()),
])
def test_keyword_arguments(call):
    assert call() in ("3", 3, "Integer")


@pytest.mark.parametrize("call, message", [
    (lambda: tc._print_value(T.integer()), "_print_value() takes exactly 2 positional arguments (1 given)"),
    (lambda: tc._print_type(), "_print_type() takes exactly 1 positional argument (0 given)"),
    (lambda: tc._parse_value(T.integer(), "1", "x"), "_parse_value() takes exactly 2 positional arguments (3 given)"),
    (lambda: tc._print_type(T.integer(), kind=1), "_print_type() got an unexpected keyword argument 'kind'"),
])
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as e:
        call()
    assert str(e.value) == message


class Text(str):
    pass


@pytest.mark.parametrize("text, type_name", [(b"1", "bytes"), (Text("1"), "Text"), (1, "int")])
def test_text_must_be_exactly_str(text, type_name):
    # Checked before the type is looked at: an unconvertible type does not matter.
    with pytest.raises(TypeError) as e:
        tc._parse_value(object(), text)
    assert str(e.value) == f"Argument 'text' has incorrect type (expected str, got {type_name})"


def test_none_text_is_attribute_error_after_the_type_is_converted():
    with pytest.raises(AttributeError) as e:
        tc._parse_value(T.integer(), None)
    assert str(e.value) == "'NoneType' object has no attribute 'encode'"
    with pytest.raises(TypeError, match="expected a Vorn type descriptor"):
        tc._parse_value(object(), None)


@pytest.mark.parametrize("text, shown", [
    ("x" * 250, "x" * 100),
    ("é" * 101, "é" * 100),          # cut by characters, not bytes
    ("y" * 100, "y" * 100),
    ("[1, 2", "[1, 2"),
    ("", ""),
])
def test_parse_failure_message(text, shown):
    with pytest.raises(ValueError) as e:
        tc._parse_value(T.array(T.integer()), text)
    assert str(e.value) == "vorn-c parse failed for: " + shown


@pytest.mark.parametrize("text", ["1\x00", "1\x00 garbage", "\x001", '"a\x00b"'])
def test_text_holding_nul_does_not_parse(text):
    # The runtime reads text up to its first NUL; "1\x00..." must not parse as 1.
    t = T.string() if text.startswith('"') else T.integer()
    with pytest.raises(ValueError) as e:
        tc._parse_value(t, text)
    assert str(e.value) == "vorn-c parse failed for: " + text


def test_lone_surrogate_text_raises_unicode_encode_error():
    with pytest.raises(UnicodeEncodeError):
        tc._parse_value(T.string(), '"\ud800"')


@pytest.mark.parametrize("t, value", [
    (T.function([T.integer()], T.integer()), len),
    (T.async_function([], T.null()), len),
    (T.struct(f=T.function([], T.null())), {"f": print}),
])
def test_unprintable_value_raises_runtime_error(t, value):
    with pytest.raises(RuntimeError) as e:
        tc._print_value(t, value)
    assert str(e.value) == "vorn-c vorn_print_value returned NULL"


def test_ref_cycle_prints_nothing():
    cycle = hooks.testing().ref_cycle()
    try:
        with pytest.raises(RuntimeError, match="vorn_print_value returned NULL"):
            tc._print_value(T.recursive("R", T.ref(T.rec_ref("R"))), cycle)
    finally:
        hooks.testing().break_ref_cycle(cycle)


@pytest.mark.parametrize("t, value, error", [
    (T.integer(), "3", TypeError),
    (T.integer(), 2**63, OverflowError),
    (PERSON, {"name": "x"}, ValueError),
    (T.datetime(), dt.datetime(2024, 1, 1), ValueError),
])
def test_conversion_errors_propagate(t, value, error):
    with pytest.raises(error):
        tc._print_value(t, value)


def test_unconvertible_type_propagates():
    with pytest.raises(TypeError, match="unknown Vorn type kind 'Bogus'"):
        tc._print_type(T.Type("Bogus"))
    with pytest.raises(TypeError, match="unknown Vorn type kind"):
        tc._parse_value(T.Type("Bogus"), "1")


class Interrupting:
    """An Integer stand-in whose conversion is interrupted."""

    def __index__(self):
        raise KeyboardInterrupt


def test_base_exception_from_conversion_propagates_and_releases_the_type():
    with pytest.raises(KeyboardInterrupt):
        tc._print_value(T.array(T.integer()), [1, Interrupting()])


def test_parsed_value_not_convertible_propagates():
    # A date-time the runtime holds but datetime cannot: an hour before year 1.
    with pytest.raises(OverflowError):
        tc._parse_value(T.datetime(), "0001-01-01T00:00:00+01:00")


@pytest.mark.parametrize("case, expect", [
    (lambda: tc._print_value(PERSON, {"name": "Ada", "age": 36}), ()),
    (lambda: tc._print_type(T.recursive("L", T.array(T.rec_ref("L")))), ()),
    (lambda: tc._parse_value(PERSON, '{name: "Ada", age: 36}'), ()),
    (lambda: tc._parse_value(PERSON, '{name: "Ada"}'), ValueError),
    (lambda: tc._parse_value(PERSON, "x" * 300), ValueError),
    (lambda: tc._parse_value(PERSON, "1\x00"), ValueError),
    (lambda: tc._parse_value(PERSON, None), AttributeError),
    (lambda: tc._parse_value(T.string(), '"\ud800"'), UnicodeEncodeError),
    (lambda: tc._parse_value(T.datetime(), "0001-01-01T00:00:00+01:00"), OverflowError),
    (lambda: tc._print_value(PERSON, {"name": 1, "age": 2}), TypeError),
    (lambda: tc._print_value(T.function([], T.null()), len), RuntimeError),
    (lambda: tc._print_value(T.array(T.integer()), [1, Interrupting()]), KeyboardInterrupt),
])
def test_no_leaks_on_any_path(case, expect):
    assert_no_leaks(case, expect=expect)


def test_codec_from_several_threads():
    t = T.array(T.struct(name=T.string(), n=T.integer(), tags=T.set_(T.string())))
    errors = []

    def work(seed):
        try:
            for i in range(200):
                value = [{"name": f"w{seed}-{i}", "n": i * seed, "tags": V.VornSet(["a", str(i)])}]
                text = tc._print_value(t, value)
                back = tc._parse_value(t, text)
                assert back[0]["name"] == value[0]["name"] and back[0]["n"] == i * seed
                assert tc._print_value(t, back) == text
        except BaseException as e:  # reported by the main thread
            errors.append(e)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(6)]
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    assert not errors


FIRST_CALL = textwrap.dedent("""
    import sys
    from vorn import _vornc_bridge as bridge
    from vorn.serialization import _textcodec as tc
    from vorn.types import types as T
    before = bridge._testing.counters()
    assert bridge._testing.thread_context() == (None, None) and bridge._testing.setup_calls() == []
    getattr(tc, sys.argv[1])(*{"_print_type": [T.integer()], "_print_value": [T.integer(), 1],
                               "_parse_value": [T.integer(), "1"]}[sys.argv[1]])
    after = bridge._testing.counters()
    ctx = bridge._testing.thread_context()
    for fn, args in [(tc._print_type, [T.string()]), (tc._parse_value, [T.string(), '"x"']),
                     (tc._print_value, [T.string(), "x"])]:
        fn(*args)
    again = bridge._testing.counters()
    assert bridge._testing.setup_calls() == ["builtin_registry_new", "vorn_register_all_builtins",
                                             "platform_registry_new", "vorn_set_thread_context",
                                             "vorn_type_of_type_init"], bridge._testing.setup_calls()
    print(before["builtin_registries_made"], after["builtin_registries_made"],
          after["builtins_registrations"], after["platform_registries_made"], after["thread_contexts_set"],
          after["type_of_type_inits"], after["type_of_type_ready"], None not in ctx, again == after)
""")


@pytest.mark.parametrize("first", ["_print_type", "_print_value", "_parse_value"])
def test_first_call_makes_the_runtime_context_once(first):
    hooks.testing()
    out = subprocess.run([sys.executable, "-c", FIRST_CALL, first], capture_output=True, text=True, check=True)
    assert out.stdout.split() == ["0", "1", "1", "1", "1", "1", "True", "True", "True"]


def test_bad_text_argument_does_not_set_up_the_runtime():
    hooks.testing()
    script = textwrap.dedent("""
        from vorn import _vornc_bridge as bridge
        from vorn.serialization import _textcodec as tc
        try:
            tc._parse_value(None, 1)
        except TypeError:
            pass
        print(bridge._testing.counters()["type_of_type_inits"])
    """)
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "0"


def test_import_fails_cleanly_without_the_bridge():
    script = textwrap.dedent("""
        import sys
        sys.modules["vorn._vornc_bridge"] = None
        try:
            import vorn.serialization._textcodec
        except ImportError as e:
            print("ImportError")
        print("vorn.serialization._textcodec" in sys.modules)
    """)
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True)
    assert out.stdout.split() == ["ImportError", "False"]


FAKE_BRIDGE = textwrap.dedent("""
    import ctypes, sys, types
    new = ctypes.pythonapi.PyCapsule_New
    new.restype, new.argtypes = ctypes.py_object, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
    names = {"py_type_to_c": b"VornType *(PyObject *)", "py_value_to_c": b"VornValue *(PyObject *, VornType *)",
             "c_value_to_py": b"PyObject *(VornValue *, VornType *)"}
    fake = types.ModuleType("vorn._vornc_bridge")
    fake.__pyx_capi__ = {name: new(1, sig, None) for name, sig in names.items()}
    if sys.argv[1] == "missing":
        del fake.__pyx_capi__["c_value_to_py"]
    else:
        fake.__pyx_capi__["py_value_to_c"] = new(1, b"VornValue *(PyObject *)", None)
    sys.modules["vorn._vornc_bridge"] = fake
    try:
        import vorn.serialization._textcodec
    except (ImportError, TypeError) as e:
        print(type(e).__name__, e)
""")


@pytest.mark.parametrize("case, expected", [
    ("missing", "ImportError vorn._vornc_bridge does not export expected C function c_value_to_py"),
    ("renamed", "TypeError C function vorn._vornc_bridge.py_value_to_c has wrong signature "
                "(expected VornValue *(PyObject *, VornType *), got VornValue *(PyObject *))"),
])
def test_import_checks_the_bridge_capsules(case, expected):
    out = subprocess.run([sys.executable, "-c", FAKE_BRIDGE, case], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == expected


@pytest.mark.parametrize("text", ['"' + "\u00e9" * 500 + '"', '"' + "\U0001f600" * 100 + '"'])
def test_parse_leaves_the_callers_str_unchanged(text):
    before = sys.getsizeof(text)
    assert tc._parse_value(T.string(), text) == text[1:-1]
    assert sys.getsizeof(text) == before  # no UTF-8 copy cached inside it
