"""Start-up and surface of vorn.utils._sortkit: attributes, docstrings, signatures,
argument errors, one execution per process, and imports that fail cleanly."""
from __future__ import annotations

import ctypes
import importlib
import subprocess
import sys
import textwrap
import types

import pytest

from vorn.types import types as T
from vorn.types import values as V
from vorn.utils import _sortkit as sk

PREDICATES = [
    "is_never_type", "is_null_type", "is_boolean_type", "is_integer_type", "is_float_type",
    "is_string_type", "is_datetime_type", "is_blob_type", "is_vector_type", "is_matrix_type",
    "is_array_type", "is_set_type", "is_dict_type", "is_ref_type", "is_struct_type",
    "is_variant_type", "is_recursive_type", "is_function_type", "is_async_function_type",
]

# name -> (parameters, number required)
FUNCTIONS = {
    "cy_compare_bool": (("x", "y"), 2),
    "cy_compare_int": (("x", "y"), 2),
    "cy_compare_float": (("x", "y"), 2),
    "cy_compare_string": (("x", "y"), 2),
    "cy_equal_float": (("x", "y"), 2),
    "cy_compare_for": (("type_val", "type_ctx"), 1),
    "cy_equal_for": (("type_val", "type_ctx"), 1),
    "cy_is_for": (("type_val", "type_ctx"), 1),
    "cy_make_vorn_key": (("type_val",), 1),
    "__pyx_unpickle_CyVornKey": (("__pyx_type", "__pyx_checksum", "__pyx_state"), 3),
}

DOCS = {
    "cy_compare_bool": "Compare two booleans. False < True.",
    "cy_compare_int": "Compare two integers.",
    "cy_compare_float": "Compare two floats with NaN and -0 handling.",
    "cy_compare_string": "Compare two strings.",
    "cy_equal_float": "Float equality with NaN == NaN and -0 != +0.",
    "cy_compare_for": "Create a three-way comparer for a given type.\n\n"
                      "    Returns a function (x, y, ctx=None) -> int where:\n"
                      "    - -1 means x < y\n    -  0 means x == y\n    -  1 means x > y\n\n"
                      "    type_ctx maps recursive scope ids to their comparers.\n    ",
    "cy_equal_for": "Create a type-specific equality function.\n\n"
                    "    type_ctx maps recursive scope ids to their comparers.\n    ",
    "cy_is_for": "Create an identity comparer for a given type.\n\n"
                 "    type_ctx maps recursive scope ids to their comparers.\n    ",
    "cy_make_vorn_key": "Create an VornKey class for a specific type.\n\n"
                        "    Returns a callable that wraps values in CyVornKey instances with\n"
                        "    the appropriate compare function for the given type.\n    ",
}


def test_bound_predicates_and_value_classes():
    for name in PREDICATES:
        assert getattr(sk, name) is getattr(T, name)
    assert (sk.VornBlob, sk.VornMatrix, sk.VornVector) == (V.VornBlob, V.VornMatrix, V.VornVector)
    assert sk.__test__ == {}
    assert isinstance(sk.CyVornKey, type)


def test_module_docstring():
    first, blank, *rest = sk.__doc__.splitlines()
    assert first == "Accelerated ordering for Vorn values." and blank == ""
    paragraph = " ".join(rest)
    for word in ["compare_for", "equal_for", "is_for", "make_vorn_key", "ordering", "key class",
                 "NaN"]:
        assert word in paragraph


@pytest.mark.parametrize("name", sorted(FUNCTIONS))
def test_function_surface(name):
    import inspect
    fn = getattr(sk, name)
    params, required = FUNCTIONS[name]
    assert fn.__name__ == fn.__qualname__ == name
    assert fn.__module__ == "vorn.utils._sortkit"
    assert fn.__doc__ == DOCS.get(name)
    assert fn.__defaults__ == ((None,) if required < len(params) else None)
    assert tuple(inspect.signature(fn).parameters) == params


def _count_message(name, word, bound, given):
    return f"{name}() takes {word} {bound} positional argument{'' if bound == 1 else 's'} ({given} given)"


@pytest.mark.parametrize("name", sorted(FUNCTIONS))
def test_argument_count_errors(name):
    fn = getattr(sk, name)
    params, required = FUNCTIONS[name]
    exact = required == len(params)
    with pytest.raises(TypeError) as info:
        fn(*range(len(params) + 1))
    assert str(info.value) == _count_message(name, "exactly" if exact else "at most",
                                             len(params), len(params) + 1)
    with pytest.raises(TypeError) as info:
        fn()
    assert str(info.value) == _count_message(name, "exactly" if exact else "at least", required, 0)


@pytest.mark.parametrize("call, message", [
    (lambda: sk.cy_compare_int(1, 2, z=3), "cy_compare_int() got an unexpected keyword argument 'z'"),
    (lambda: sk.cy_compare_for(T.integer(), type_val=1),
     "cy_compare_for() got multiple values for keyword argument 'type_val'"),
    (lambda: sk.cy_compare_int(y=2), "cy_compare_int() takes exactly 2 positional arguments (0 given)"),
    (lambda: sk.cy_compare_int(1, z=2), "cy_compare_int() takes exactly 2 positional arguments (1 given)"),
    (lambda: sk.cy_compare_for(type_ctx={}),
     "cy_compare_for() takes at least 1 positional argument (0 given)"),
])
def test_keyword_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_second_import_is_the_same_module():
    first_attrs = dict(vars(sk))
    again = importlib.import_module("vorn.utils._sortkit")
    assert again is sk and sys.modules["vorn.utils._sortkit"] is sk
    spec = importlib.util.find_spec("vorn.utils._sortkit")
    assert importlib.util.module_from_spec(spec) is sk
    assert dict(vars(sk)) == first_attrs


def test_execution_on_another_module_object_is_refused():
    api = ctypes.pythonapi
    api.PyModule_GetDef.restype = ctypes.c_void_p
    api.PyModule_GetDef.argtypes = [ctypes.py_object]
    api.PyModule_ExecDef.restype = ctypes.c_int
    api.PyModule_ExecDef.argtypes = [ctypes.py_object, ctypes.c_void_p]
    definition = api.PyModule_GetDef(sk)
    assert api.PyModule_ExecDef(sk, definition) == 0  # the same module object: a no-op
    with pytest.raises(RuntimeError) as info:
        api.PyModule_ExecDef(types.ModuleType("other"), definition)
    assert str(info.value) == ("Module '_sortkit' has already been imported. "
                               "Re-initialisation is not supported.")


def _run(code: str) -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)],
                          capture_output=True, text=True, timeout=120)


def test_failed_import_leaves_nothing_behind_and_can_be_retried():
    result = _run("""
        import sys, traceback, types
        import vorn.types.types as real
        fake = types.ModuleType("vorn.types.types")
        for name in dir(real):
            if name.startswith("is_") and name != "is_ref_type":
                setattr(fake, name, getattr(real, name))
        sys.modules["vorn.types.types"] = fake
        try:
            import vorn.utils._sortkit
        except ImportError as e:
            print("ERR", e)
            print("TB", "init vorn.utils._sortkit" in "".join(traceback.format_tb(e.__traceback__)))
        print("GONE", "vorn.utils._sortkit" not in sys.modules)
        sys.modules["vorn.types.types"] = real
        import vorn.utils._sortkit as sk
        print("RETRY", sk.cy_compare_int(1, 2))
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split("\n")[:4] == [
        "ERR cannot import name is_ref_type", "TB True", "GONE True", "RETRY -1"]


# A subinterpreter that shares the main interpreter's lock reaches the module's own
# check. One with a lock of its own (the default from 3.12 on) is refused earlier by the
# interpreter itself, in its own words, since the module declares no support for that.
_NEW_SUBINTERPRETER = """
import sys
if sys.version_info >= (3, 13):
    import _interpreters as interpreters
    new = lambda shared: interpreters.create("legacy" if shared else "isolated")
elif sys.version_info >= (3, 12):
    import _xxsubinterpreters as interpreters
    new = lambda shared: interpreters.create(isolated=not shared)
else:
    import _xxsubinterpreters as interpreters
    new = lambda shared: interpreters.create()
"""


@pytest.mark.parametrize("shared_lock, message", [
    (True, "Interpreter change detected - this module can only be loaded into one interpreter per process."),
    pytest.param(False, "module vorn.utils._sortkit does not support loading in subinterpreters",
                 marks=pytest.mark.skipif(sys.version_info < (3, 12), reason="no own-lock subinterpreters")),
])
def test_second_interpreter_is_refused(shared_lock, message):
    result = _run(_NEW_SUBINTERPRETER + f"""
import vorn.utils._sortkit
code = chr(10).join(["try:", "    import vorn.utils._sortkit", "    print('IMPORTED')",
                     "except ImportError as e:", "    print('ERR', e)"])
interpreters.run_string(new({shared_lock}), code)
""")
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "ERR " + message


def test_rebinding_a_predicate_changes_later_builds(monkeypatch):
    monkeypatch.setattr(sk, "is_string_type", lambda t: t.type in ("String", "Bytes"))
    compare = sk.cy_compare_for(T.Type("Bytes"))
    assert compare.__qualname__ == "cy_compare_for.<locals>.compare_string"
    assert compare(b"a", b"b") == -1
