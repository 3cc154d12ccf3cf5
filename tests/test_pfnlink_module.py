"""vorn._pfnlink: its surface and start-up, the binding of the bridge's capsules, and
registration of descriptions through the exported register_platform_functions."""
from __future__ import annotations

import ctypes
import subprocess
import sys
import textwrap

import pytest

import hooks
from vorn import _pfnlink
from vorn import _vornc_bridge as bridge
from vorn.types import types as T

pytestmark = pytest.mark.usefixtures("runtime_handles_balanced")
I = T.integer()
C_FUNCTIONS = hooks.testing().c_functions()
C_FACTORIES = hooks.testing().c_factories()

_get_pointer = ctypes.pythonapi.PyCapsule_GetPointer
_get_pointer.restype, _get_pointer.argtypes = ctypes.c_void_p, [ctypes.py_object, ctypes.c_char_p]


def capsule_pointer(capsule, name: bytes) -> int:
    return _get_pointer(capsule, name)


def state_of(r):
    return _pfnlink._dispatch_states[r.address]


def test_module_surface():
    doc = _pfnlink.__doc__
    assert doc.startswith("Platform function bridge: enables vorn-c to call Python platform functions.\n")
    for point in ("1. A pre_call hook stores the platform function name before each invocation",
                  "2. A single shared C callback dispatches to the correct Python function",
                  "3. Generic platform functions are specialized lazily on first call"):
        assert point in doc
    assert "WebAssembly" in doc and "opaque" in doc
    assert _pfnlink.asyncio is __import__("asyncio")
    assert isinstance(_pfnlink._dispatch_states, dict)
    capsule = _pfnlink.__pyx_capi__["register_platform_functions"]
    assert capsule_pointer(capsule, b"void (PlatformRegistry *, PyObject *)")
    fn = _pfnlink.clear_platform_state
    assert fn.__doc__ == "Clear all platform function state. For testing."
    assert (fn.__name__, fn.__module__) == ("clear_platform_state", "vorn._pfnlink")
    with pytest.raises(TypeError):
        fn(1)


def _run(code: str, *args: str) -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code), *args],
                          capture_output=True, text=True, timeout=120)


def test_fresh_state_and_reexecution_refused():
    result = _run("""
        import ctypes, types
        from vorn import _pfnlink
        print(_pfnlink._dispatch_states, _pfnlink._event_loop)
        api = ctypes.pythonapi
        api.PyModule_GetDef.restype, api.PyModule_GetDef.argtypes = ctypes.c_void_p, [ctypes.py_object]
        api.PyModule_ExecDef.restype = ctypes.c_int
        api.PyModule_ExecDef.argtypes = [ctypes.py_object, ctypes.c_void_p]
        definition = api.PyModule_GetDef(_pfnlink)
        print(api.PyModule_ExecDef(_pfnlink, definition))
        try:
            api.PyModule_ExecDef(types.ModuleType("other"), definition)
        except RuntimeError as e:
            print(e)
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        "{} None", "0", "Module '_pfnlink' has already been imported. Re-initialisation is not supported."]


FAKE_BRIDGE = """
    import ctypes, sys, traceback, types
    new = ctypes.pythonapi.PyCapsule_New
    new.restype, new.argtypes = ctypes.py_object, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]
    import vorn._vornc_bridge as real
    fake = types.ModuleType("vorn._vornc_bridge")
    fake.__pyx_capi__ = dict(real.__pyx_capi__)
    case, name = sys.argv[1], sys.argv[2]
    if case == "missing":
        del fake.__pyx_capi__[name]
    elif case == "renamed":
        fake.__pyx_capi__[name] = new(1, b"void *(void)", None)
    elif case == "no table":
        del fake.__pyx_capi__
    sys.modules["vorn._vornc_bridge"] = fake
    try:
        import vorn._pfnlink
    except Exception as e:
        print(type(e).__name__, e)
        print("init vorn._pfnlink" in "".join(traceback.format_tb(e.__traceback__)))
    print("vorn._pfnlink" in sys.modules)
    sys.modules["vorn._vornc_bridge"] = real
    import vorn._pfnlink as pfn
    print(sorted(pfn.__pyx_capi__), pfn._dispatch_states)
"""

SIGNATURES = {"py_type_to_c": "VornType *(PyObject *)", "py_value_to_c": "VornValue *(PyObject *, VornType *)",
              "c_value_to_py": "PyObject *(VornValue *, VornType *)", "_c_type_tag_to_py_type": "PyObject *(VornType *)"}


@pytest.mark.parametrize("case, name, error", [
    *[("missing", n, f"ImportError vorn._vornc_bridge does not export expected C function {n}") for n in SIGNATURES],
    *[("renamed", n, f"TypeError C function vorn._vornc_bridge.{n} has wrong signature "
                     f"(expected {s}, got void *(void))") for n, s in SIGNATURES.items()],
    ("no table", "-", "AttributeError module 'vorn._vornc_bridge' has no attribute '__pyx_capi__'"),
])
def test_binding_errors_fail_the_import_which_can_be_retried(case, name, error):
    result = _run(FAKE_BRIDGE, case, name)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [error, "True", "False", "['register_platform_functions'] {}"]


def test_import_fails_without_the_bridge():
    result = _run("""
        import sys
        sys.modules["vorn._vornc_bridge"] = None
        try:
            import vorn._pfnlink
        except ImportError:
            print("ImportError", "vorn._pfnlink" in sys.modules)
    """)
    assert result.stdout.strip() == "ImportError False", result.stderr


# ---- registration


def test_each_kind_of_description_reaches_the_registry(reg):
    fn, factory = (lambda: None), (lambda fns, *ts: None)
    fns = [
        {"name": "plain", "fn": fn},
        {"name": "typed", "fn": fn, "inputs": [I, T.string()], "output": I, "type": "async"},
        {"name": "nullary", "fn": fn, "inputs": [], "output": I},
        {"name": "half", "fn": fn, "inputs": [I]},
        {"name": "generic", "fn": factory, "type_parameters": ["T"], "type": "async"},
        {"name": "c_plain", "c_callback": C_FUNCTIONS["echo"]},
        {"name": "c_typed", "c_callback": C_FUNCTIONS["echo"], "inputs": [I], "output": I},
        {"name": "c_generic", "c_factory": C_FACTORIES["pick"], "type_parameters": None},
        {"name": "generic_ignores_callback", "fn": factory, "type_parameters": [],
         "c_callback": C_FUNCTIONS["echo"], "inputs": [I], "output": I},
    ]
    reg.register(fns)
    entries = {e["name"]: e for e in reg.entries()}
    assert list(entries) == [d["name"] for d in fns]
    trampoline = entries["plain"]["fn"]
    assert {n: (e["form"], e["async"]) for n, e in entries.items()} == {
        "plain": ("plain", False), "typed": ("typed", True), "nullary": ("typed", False), "half": ("plain", False),
        "generic": ("generic", True), "c_plain": ("plain", False), "c_typed": ("typed", False),
        "c_generic": ("generic", False), "generic_ignores_callback": ("generic", False)}
    assert entries["typed"]["inputs"] == [I, T.string()] and entries["typed"]["output"] == I
    assert entries["nullary"]["inputs"] == [] and entries["nullary"]["output"] == I
    assert entries["typed"]["fn"] == entries["nullary"]["fn"] == trampoline
    assert entries["generic"]["fn"] == entries["generic_ignores_callback"]["fn"] != trampoline
    assert entries["c_plain"]["fn"] == entries["c_typed"]["fn"] == capsule_pointer(C_FUNCTIONS["echo"],
                                                                                     b"vorn_platform_fn")
    assert entries["c_generic"]["fn"] == capsule_pointer(C_FACTORIES["pick"], b"vorn_generic_factory")

    direct, generic, cache, registered = state_of(reg)
    assert registered is fns and cache == {}
    assert direct == {b"plain": (fn, False), b"typed": (fn, True), b"nullary": (fn, False), b"half": (fn, False)}
    assert generic == {b"generic": (factory, True), b"generic_ignores_callback": (factory, False)}


@pytest.mark.parametrize("kind, is_async", [("async", True), ("sync", False), ("Async", False), ("ASYNC", False),
                                            (None, False), (1, False)])
def test_only_exactly_async_means_async(reg, kind, is_async):
    reg.register([{"name": "f", "fn": len, "type": kind}])
    assert state_of(reg)[0][b"f"] == (len, is_async)
    assert reg.entries()[0]["async"] is is_async


def test_same_name_twice_later_callable_wins_registry_gets_both(reg):
    reg.register([{"name": "f", "fn": abs}, {"name": "f", "fn": len}])
    assert state_of(reg)[0] == {b"f": (len, False)}
    assert [e["name"] for e in reg.entries()] == ["f", "f"]


class Description:
    """A description that is not a dict: item access, get and `in` only."""

    def __init__(self, **items):
        self.items = items

    def __getitem__(self, key):
        return self.items[key]

    def get(self, key, default=None):
        return self.items.get(key, default)

    def __contains__(self, key):
        return key in self.items


class Indexable:
    """Inputs that have a length and int indexing, but are no sequence."""

    def __init__(self, *items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


def test_descriptions_and_inputs_need_only_item_access(reg):
    reg.register([Description(name="f", fn=len, inputs=Indexable(I), output=I),
                  Description(name="g", fn=abs, inputs={0: I, 1: I}, output=I)])
    assert [(e["name"], e["inputs"]) for e in reg.entries()] == [("f", [I]), ("g", [I, I])]


def test_reregistration_replaces_the_state_whole(reg):
    reg.register([{"name": "old", "fn": len}])
    first = state_of(reg)
    reg.register([{"name": "new", "fn": abs}])
    assert state_of(reg) is not first and state_of(reg)[0] == {b"new": (abs, False)}
    assert [e["name"] for e in reg.entries()] == ["old", "new"]


class Name(str):
    def __new__(cls, text, encoded):
        self = super().__new__(cls, text)
        self.encoded = encoded
        return self

    def encode(self, encoding):
        assert encoding == "utf-8"
        return self.encoded


class Bytes(bytes):
    pass


@pytest.mark.parametrize("description, error, message", [
    ({"fn": len}, KeyError, "'name'"),
    ({"name": "f"}, KeyError, "'fn'"),
    ({"name": "f", "type_parameters": []}, KeyError, "'fn'"),
    ({"name": 3, "fn": len}, AttributeError, "'int' object has no attribute 'encode'"),
    ({"name": Name("f", "f"), "fn": len}, TypeError, "Expected bytes, got str"),
    ({"name": Name("f", Bytes(b"f")), "fn": len}, TypeError, "Expected bytes, got Bytes"),
    ({"name": Name("f", None), "fn": len}, TypeError, "expected bytes, NoneType found"),
    ({"name": Name("f", None), "fn": len, "inputs": [I], "output": I}, TypeError, "expected bytes, NoneType found"),
    ({"name": "f", "c_callback": C_FACTORIES["pick"]}, ValueError, "PyCapsule_GetPointer called with incorrect name"),
    ({"name": "f", "c_callback": len}, ValueError, "PyCapsule_GetPointer called with invalid PyCapsule object"),
    ({"name": "f", "c_factory": C_FUNCTIONS["echo"], "type_parameters": []}, ValueError,
     "PyCapsule_GetPointer called with incorrect name"),
    ({"name": "f", "fn": len, "inputs": 3, "output": I}, TypeError, "object of type 'int' has no len()"),
    ({"name": "f", "fn": len, "inputs": [I, "x"], "output": I}, TypeError, None),
    ({"name": "f", "fn": len, "inputs": [I], "output": T.Type("Bogus")}, TypeError, "unknown Vorn type kind"),
])
def test_registration_stops_at_the_first_failure(reg, description, error, message):
    tail = {"name": "after", "fn": abs}
    fns = [{"name": "before", "fn": len}, description, tail]
    with pytest.raises(error) as info:
        reg.register(fns)
    if message:
        assert message in str(info.value)
    assert [e["name"] for e in reg.entries()] == ["before"]
    direct, generic, _, registered = state_of(reg)
    assert registered is fns and b"after" not in direct and direct[b"before"] == (len, False)


def test_a_description_whose_types_fail_may_stay_in_its_table(reg):
    with pytest.raises(TypeError):
        reg.register([{"name": "f", "fn": len, "inputs": [I], "output": T.Type("Bogus")}])
    assert state_of(reg)[0] == {b"f": (len, False)} and reg.entries() == []


def test_none_list_installs_state_and_hooks_then_fails(reg):
    with pytest.raises(TypeError) as info:
        reg.register(None)
    assert str(info.value) == "'NoneType' object is not iterable"
    assert state_of(reg) == ({}, {}, {}, None)
    reg.free()
    assert _pfnlink._dispatch_states == {}  # the free hook was installed


@pytest.mark.parametrize("fns", [({"name": "f", "fn": len},), {"name": "f", "fn": len}, "f"])
def test_anything_but_a_list_is_refused_before_any_change(reg, fns):
    with pytest.raises(TypeError) as info:
        reg.register(fns)
    assert str(info.value) == f"platform_fns must be a list, not {type(fns).__name__}"
    assert reg.address not in _pfnlink._dispatch_states and reg.entries() == []


def test_freeing_the_registry_drops_its_state():
    regs = [bridge.Registry() for _ in range(3)]
    for r in regs:
        r.register([{"name": "f", "fn": len}])
    addresses = [r.address for r in regs]
    regs[1].free()
    assert set(_pfnlink._dispatch_states) >= {addresses[0], addresses[2]}
    assert addresses[1] not in _pfnlink._dispatch_states
    for r in regs:
        r.free()


def test_clear_platform_state_keeps_the_hooks(reg):
    reg.register([{"name": "f", "fn": len}])
    assert _pfnlink.clear_platform_state() is None
    assert _pfnlink._dispatch_states == {}
    with pytest.raises(bridge.PlatformError) as info:
        reg.call("f")
    assert str(info.value) == "Platform registry has no Python dispatch state: f"


def test_free_hook_failure_goes_to_the_unraisable_hook(monkeypatch, capsys):
    class Refusing(dict):
        def pop(self, *args):
            raise LookupError("cannot pop")

    seen = []
    monkeypatch.setattr(sys, "unraisablehook", seen.append)
    r = bridge.Registry()
    r.register([])
    monkeypatch.setattr(_pfnlink, "_dispatch_states", Refusing())
    r.free()  # nothing reaches the runtime or the caller
    [report] = seen
    assert report.object == "vorn._pfnlink._on_free_hook"
    assert report.exc_type is LookupError and str(report.exc_value) == "cannot pop"
    err = capsys.readouterr().err  # printed with its traceback: the hook's entry, then pop's
    assert "LookupError: cannot pop" in err and err.index("in _on_free_hook") < err.index("in pop")


def test_free_at_interpreter_exit_is_quiet():
    result = _run("""
        from vorn import _vornc_bridge as bridge
        r = bridge.Registry()
        r.register([{"name": "f", "fn": len}])
    """)
    assert result.returncode == 0 and result.stderr == ""


def test_registration_module_globals_are_read_at_call_time(reg, monkeypatch):
    states = {}
    monkeypatch.setattr(_pfnlink, "_dispatch_states", states)
    reg.register([{"name": "f", "fn": len}])
    assert list(states) == [reg.address]


@pytest.mark.parametrize("call, message", [
    (lambda: _pfnlink.clear_platform_state(1), "clear_platform_state() takes no arguments (1 given)"),
    (lambda: _pfnlink.clear_platform_state(x=1), "clear_platform_state() takes no keyword arguments"),
])
def test_clear_platform_state_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message
