"""cy_equal_for: dispatch, the function objects it returns, the leaf functions, Recursive
types through the type context, and the build-time errors."""
from __future__ import annotations

import datetime as dt
import math

import pytest

from vorn.types import types as T
from vorn.types import values as V
from vorn.utils import _sortkit as sk

nan = math.nan
UTC = dt.timezone.utc

LOCALS = "cy_equal_for.<locals>."

# kind -> (__name__, qualified suffix, parameter names)
SURFACE = [
    (T.never(), "equal_never", "equal_never", "_x, _y, _ctx"),
    (T.null(), "lambda2", "<lambda>", "_x, _y, _ctx"),
    (T.boolean(), "lambda3", "<lambda>", "x, y, _ctx"),
    (T.integer(), "lambda4", "<lambda>", "x, y, _ctx"),
    (T.float_(), "equal_float", "equal_float", "x, y, _ctx"),
    (T.string(), "lambda5", "<lambda>", "x, y, _ctx"),
    (T.datetime(), "lambda6", "<lambda>", "x, y, _ctx"),
    (T.blob(), "equal_blob", "equal_blob", "x, y, _ctx"),
    (T.vector(T.integer()), "equal_vector", "equal_vector", "x, y, _ctx"),
    (T.matrix(T.float_()), "equal_matrix", "equal_matrix", "x, y, _ctx"),
    (T.array(T.integer()), "equal_array", "equal_array", "x, y, ctx"),
    (T.set_(T.integer()), "equal_set", "equal_set", "x, y, _ctx"),
    (T.dict_(T.string(), T.integer()), "equal_dict", "equal_dict", "x, y, ctx"),
    (T.ref(T.integer()), "equal_ref", "equal_ref", "x, y, ctx"),
    (T.struct(a=T.integer()), "equal_struct", "equal_struct", "x, y, ctx"),
    (T.variant(a=T.null()), "equal_variant", "equal_variant", "x, y, ctx"),
    (T.function(), "lambda9", "<lambda>", "_x, _y, _ctx"),
    (T.async_function(), "lambda9", "<lambda>", "_x, _y, _ctx"),
]


@pytest.mark.parametrize("t, name, qual, params", SURFACE, ids=lambda v: getattr(v, "type", None))
def test_function_surface(t, name, qual, params):
    f = sk.cy_equal_for(t)
    assert f.__name__ == name
    assert f.__qualname__ == LOCALS + qual
    assert f.__module__ == "vorn.utils._sortkit"
    assert f.__doc__ is None
    assert f.__defaults__ == (None,)
    assert f.__text_signature__ == "(" + params + "=None)"
    assert sk.cy_equal_for(t) is not f  # nothing cached


@pytest.mark.parametrize("t, name, qual, params", SURFACE[:3], ids=["never", "null", "boolean"])
def test_argument_errors_name_the_function(t, name, qual, params):
    f = sk.cy_equal_for(t)
    with pytest.raises(TypeError, match=rf"^{name}\(\) takes at least 2 positional arguments \(1 given\)$"):
        f(1)
    with pytest.raises(TypeError, match=rf"^{name}\(\) takes at most 3 positional arguments \(4 given\)$"):
        f(1, 2, 3, 4)
    keywords = dict(zip(params.replace(" ", "").split(","), (True, True, None)))
    if t.type != "Never":
        assert f(**keywords) is True


def test_builder_arguments():
    assert sk.cy_equal_for.__doc__ == ("Create a type-specific equality function.\n\n"
                                       "    type_ctx maps recursive scope ids to their comparers.\n    ")
    assert sk.cy_equal_for(type_val=T.null(), type_ctx=None)(1, 2) is True
    with pytest.raises(TypeError, match=r"cy_equal_for\(\) takes at least 1 positional argument \(0 given\)"):
        sk.cy_equal_for()
    with pytest.raises(TypeError, match=r"cy_equal_for\(\) takes at most 2 positional arguments \(3 given\)"):
        sk.cy_equal_for(T.null(), {}, 1)


# ---- leaf functions -----------------------------------------------------------------

class Weird:
    """`==` gives a non-bool."""
    def __eq__(self, other):
        return "same"


@pytest.mark.parametrize("t, x, y, expected", [
    (T.float_(), nan, nan, True),
    (T.float_(), 0.0, -0.0, False),
    (T.float_(), -0.0, -0.0, True),
    (T.float_(), 1, 1.0, True),
    (T.float_(), nan, 1.0, False),
    (T.float_(), 1.0, nan, False),
    (T.float_(), math.inf, math.inf, True),
    (T.null(), 1, "a", True),
    (T.function(), None, [], True),
    (T.async_function(), 1, 2, True),
    (T.boolean(), True, 1, True),
    (T.integer(), 2**70, 2**70, True),
    (T.integer(), 1, 2, False),
    (T.string(), "a", "a", True),
    (T.datetime(), dt.datetime(2020, 1, 1, tzinfo=UTC),
     dt.datetime(2020, 1, 1, 1, tzinfo=dt.timezone(dt.timedelta(hours=1))), True),
])
def test_leaf_results(t, x, y, expected):
    assert sk.cy_equal_for(t)(x, y) is expected


@pytest.mark.parametrize("t", [T.boolean(), T.integer(), T.string(), T.datetime()])
def test_python_equality_result_is_returned_unchanged(t):
    assert sk.cy_equal_for(t)(Weird(), 1) == "same"


def test_float_equality_matches_cy_equal_float_and_converts_x_first():
    f = sk.cy_equal_for(T.float_())
    for x, y in [(nan, nan), (0.0, -0.0), (1, 1.0), (2.5, 2.5), (1e300, math.inf)]:
        assert f(x, y) is sk.cy_equal_float(x, y)
    with pytest.raises(TypeError):
        f("1.0", 1.0)
    with pytest.raises(OverflowError):
        f(1.0, 10**400)


def test_never_builds_and_raises_on_every_call():
    f = sk.cy_equal_for(T.never())
    for args in [(1, 1), (1, 1, None)]:
        with pytest.raises(RuntimeError, match=r"^Attempted to compare values of type \.Never$"):
            f(*args)


# ---- dispatch -------------------------------------------------------------------------

PREDICATES = ["is_never_type", "is_null_type", "is_boolean_type", "is_integer_type",
              "is_float_type", "is_string_type", "is_datetime_type", "is_blob_type",
              "is_vector_type", "is_matrix_type", "is_array_type", "is_set_type",
              "is_dict_type", "is_ref_type", "is_struct_type", "is_variant_type",
              "is_recursive_type", "is_function_type", "is_async_function_type"]


@pytest.fixture
def predicate_log(monkeypatch):
    """Records the predicates called, in order, while keeping their answers."""
    log = []
    for name in PREDICATES:
        original = getattr(sk, name)
        monkeypatch.setattr(sk, name, lambda t, _n=name, _o=original: log.append(_n) or _o(t))
    return log


@pytest.mark.parametrize("builder", [sk.cy_equal_for, sk.cy_is_for], ids=["equal", "is"])
def test_predicates_are_asked_in_order_up_to_the_first_true(predicate_log, builder):
    builder(T.float_())
    assert predicate_log == PREDICATES[:5]
    predicate_log.clear()
    with pytest.raises(RuntimeError, match="Unknown type encountered during type printing: Foo"):
        builder(T.Type("Foo"))
    last = "is_async_function_type" if builder is sk.cy_equal_for else "is_function_type"
    assert predicate_log == PREDICATES[:PREDICATES.index(last) + 1]


def test_first_true_predicate_wins(monkeypatch):
    monkeypatch.setattr(sk, "is_never_type", lambda t: t.type in ("Never", "Function"))
    assert sk.cy_equal_for(T.function()).__name__ == "equal_never"
    monkeypatch.setattr(sk, "is_float_type", lambda t: t.type in ("Float", "Integer"))
    assert sk.cy_equal_for(T.integer()).__name__ == "lambda4"  # is_integer_type comes first


def test_predicate_errors_and_truth_errors_propagate(monkeypatch):
    class NoTruth:
        def __bool__(self):
            raise ZeroDivisionError
    monkeypatch.setattr(sk, "is_null_type", lambda t: NoTruth())
    with pytest.raises(ZeroDivisionError):
        sk.cy_equal_for(T.integer())
    monkeypatch.delattr(sk, "is_null_type")
    with pytest.raises(NameError, match="name 'is_null_type' is not defined"):
        sk.cy_equal_for(T.integer())


def test_nested_builds_go_through_the_module_namespace(monkeypatch):
    calls = []
    original = sk.cy_equal_for

    def spy(t, ctx):
        calls.append(t.type)
        return original(t, ctx)
    monkeypatch.setattr(sk, "cy_equal_for", spy)
    original(T.struct(a=T.array(T.integer()), b=T.dict_(T.string(), T.float_())))
    assert calls == ["Array", "Integer", "Dict", "Float"]


def test_value_classes_are_imported_at_every_call(monkeypatch):
    monkeypatch.delattr(V, "VornSet")
    with pytest.raises(ImportError, match="^cannot import name VornSet$"):
        sk.cy_equal_for(T.null())


def test_ref_builds_import_vorn_ref(monkeypatch):
    monkeypatch.delattr(V, "VornRef")
    sk.cy_equal_for(T.array(T.integer()))
    with pytest.raises(ImportError, match="^cannot import name VornRef$"):
        sk.cy_equal_for(T.ref(T.integer()))


@pytest.mark.parametrize("t, error", [
    (T.Type("Array"), AttributeError),                       # value None: no element to build
    (T.Type("Dict", {"key": T.integer()}), KeyError),
    (T.Type("Struct", [{"name": "a"}]), KeyError),
    (T.Type("Variant", 5), TypeError),
    (T.Type("Recursive", T.RecursivePayload("wrapper", {"inner": T.null()})), KeyError),
])
def test_malformed_descriptors_raise(t, error):
    with pytest.raises(error):
        sk.cy_equal_for(t)


def test_dict_builds_only_the_value_type():
    built = sk.cy_equal_for(T.dict_(T.Type("Nope"), T.integer()))
    assert built({1: 2}, {1: 2}) is True


def test_repeated_members():
    # Two fields with one name are both compared; a later case replaces an earlier one.
    s = sk.cy_equal_for(T.struct([("a", T.integer()), ("a", T.never())]))
    with pytest.raises(RuntimeError):
        s({"a": 1}, {"a": 1})
    v = sk.cy_equal_for(T.variant([("a", T.never()), ("a", T.integer())]))
    assert v({"type": "a", "value": 1}, {"type": "a", "value": 1}) is True


# ---- Recursive types ------------------------------------------------------------------

def int_list(scope="L"):
    return T.recursive(scope, T.variant(nil=T.null(),
                                        cons=T.struct(head=T.integer(), tail=T.rec_ref(scope))))


def cells(*items):
    v = {"type": "nil", "value": None}
    for x in reversed(items):
        v = {"type": "cons", "value": {"head": x, "tail": v}}
    return v


@pytest.mark.parametrize("builder, prefix", [(sk.cy_equal_for, "equal"), (sk.cy_is_for, "is")])
def test_wrapper_returns_the_inner_function_and_leaves_context_as_found(builder, prefix):
    ctx = {"other": len}
    f = builder(int_list(), ctx)
    assert f.__name__ == f"{prefix}_variant"
    assert ctx == {"other": len}
    assert f(cells(1, 2, 3), cells(1, 2, 3)) is True
    assert f(cells(1, 2, 3), cells(1, 2)) is False


@pytest.mark.parametrize("builder", [sk.cy_equal_for, sk.cy_is_for])
def test_wrapper_shadows_and_restores_a_binding_also_on_failure(builder):
    ctx = {"L": len, "gone": None}
    builder(int_list(), ctx)
    assert ctx == {"L": len, "gone": None}
    broken = T.recursive("L", T.Type("Nope"))
    with pytest.raises(RuntimeError, match="Unknown type"):
        builder(broken, ctx)
    assert ctx == {"L": len, "gone": None}
    ctx = {"L": None}
    builder(int_list(), ctx)
    assert ctx == {}  # a key that held None is gone


@pytest.mark.parametrize("builder, name", [(sk.cy_equal_for, "cy_equal_for"), (sk.cy_is_for, "cy_is_for")])
def test_references(builder, name):
    with pytest.raises(ValueError, match=rf"^{name}: unresolved Recursive ref\(7\)$"):
        builder(T.rec_ref(7))
    with pytest.raises(ValueError, match=rf"^{name}: unresolved Recursive ref\(abc\)$"):
        builder(T.rec_ref("abc"), {"abc": None})
    assert builder(T.rec_ref(7), {7: len}) is len


def test_forwarder_surface_and_nested_wrappers_with_one_id():
    seen = {}

    class Ctx(dict):
        def __setitem__(self, k, v):
            seen[k] = v
            super().__setitem__(k, v)
    # The inner wrapper shadows the outer one for its own body.
    t = T.recursive("X", T.struct(a=T.rec_ref("X"),
                                  b=T.recursive("X", T.array(T.rec_ref("X")))))
    sk.cy_equal_for(t, Ctx())
    fwd = seen["X"]
    assert fwd.__name__ == "equal_recursive"
    assert fwd.__qualname__ == LOCALS + "equal_recursive"
    assert fwd.__text_signature__ == "(x, y, ctx=None)"


def test_non_dict_type_context():
    class Mapping:
        def __init__(self):
            self.data = {}

        def get(self, k):
            return self.data.get(k)

        def __setitem__(self, k, v):
            self.data[k] = v

        def pop(self, k, default):
            return self.data.pop(k, default)
    m = Mapping()
    assert sk.cy_equal_for(int_list(), m)(cells(1), cells(1)) is True
    assert m.data == {}


def test_self_referencing_wrapper_raises_recursion_error_at_call():
    f = sk.cy_equal_for(T.recursive("S", T.rec_ref("S")))
    assert f.__name__ == "equal_recursive"
    with pytest.raises(RecursionError):
        f(1, 1)


def test_deeply_nested_descriptors_raise_recursion_error():
    deep_array = deep_struct = T.integer()
    for _ in range(100_000):
        deep_array = T.array(deep_array)
        deep_struct = T.struct(a=deep_struct)
    with pytest.raises(RecursionError):
        sk.cy_equal_for(deep_array)
    with pytest.raises(RecursionError):
        sk.cy_is_for(deep_struct)
