"""cy_compare_for: dispatch through the module's predicates, the leaf comparers, and
Recursive types tied through the type context."""
from __future__ import annotations

import datetime as dt
import math

import pytest

from vorn.types import types as T
from vorn.types import values as V
from vorn.utils import _sortkit as sk
from vorn.utils._sortkit import cy_compare_for

NAN = math.nan
UTC = dt.timezone.utc

# kind -> (qualified name, __name__, parameters)
LEAVES = {
    "never": (T.never(), "cy_compare_for.<locals>.compare_never", "compare_never", ("_x", "_y", "_ctx")),
    "null": (T.null(), "cy_compare_for.<locals>.<lambda>", "lambda", ("_x", "_y", "_ctx")),
    "bool": (T.boolean(), "cy_compare_for.<locals>.compare_bool", "compare_bool", ("x", "y", "_ctx")),
    "int": (T.integer(), "cy_compare_for.<locals>.compare_int", "compare_int", ("x", "y", "_ctx")),
    "float": (T.float_(), "cy_compare_for.<locals>.compare_float", "compare_float", ("x", "y", "_ctx")),
    "string": (T.string(), "cy_compare_for.<locals>.compare_string", "compare_string", ("x", "y", "_ctx")),
    "datetime": (T.datetime(), "cy_compare_for.<locals>.compare_datetime", "compare_datetime",
                 ("x", "y", "_ctx")),
    "blob": (T.blob(), "cy_compare_for.<locals>.compare_blob", "compare_blob", ("x", "y", "_ctx")),
    "function": (T.function(), "cy_compare_for.<locals>.<lambda>", "lambda1", ("_x", "_y", "_ctx")),
    "async": (T.async_function(), "cy_compare_for.<locals>.<lambda>", "lambda1", ("_x", "_y", "_ctx")),
}


@pytest.mark.parametrize("kind", LEAVES)
def test_leaf_comparer_names_and_defaults(kind):
    t, qualname, name, params = LEAVES[kind]
    f = cy_compare_for(t)
    assert (f.__qualname__, f.__name__, f.__module__) == (qualname, name, "vorn.utils._sortkit")
    assert f.__defaults__ == (None,) and f.__doc__ is None
    assert f.__text_signature__ == f"({params[0]}, {params[1]}, {params[2]}=None)"


def test_every_build_makes_new_functions():
    assert cy_compare_for(T.integer()) is not cy_compare_for(T.integer())


@pytest.mark.parametrize("t, x, y, expected", [
    (T.null(), object(), 1, 0),
    (T.function(), "a", 2, 0),
    (T.async_function(), None, None, 0),
    (T.boolean(), False, True, -1),
    (T.boolean(), None, False, 0),
    (T.boolean(), [1], 0, 1),
    (T.integer(), -2**63, 2**63 - 1, -1),
    (T.integer(), 1.9, 1, 0),
    (T.integer(), True, 0, 1),
    (T.float_(), NAN, NAN, 0),
    (T.float_(), NAN, math.inf, 1),
    (T.float_(), -math.inf, NAN, -1),
    (T.float_(), -0.0, 0.0, -1),
    (T.float_(), 0.0, -0.0, 1),
    (T.float_(), 1, 2.5, -1),
    (T.string(), "abc", "abd", -1),
    (T.string(), "ab", "a", 1),
    (T.string(), "z", "é", -1),
    (T.string(), "a", "a", 0),
    (T.string(), (1, 2), (1, 3), -1),  # no str check: anything Python orders
    (T.datetime(), dt.datetime(2020, 1, 1, tzinfo=UTC), dt.datetime(2021, 1, 1, tzinfo=UTC), -1),
    (T.datetime(), dt.datetime(2020, 1, 1, 12, tzinfo=UTC),
     dt.datetime(2020, 1, 1, 14, tzinfo=dt.timezone(dt.timedelta(hours=2))), 0),
    (T.blob(), b"ab", b"abc", -1),
    (T.blob(), b"b", b"abc", 1),
    (T.blob(), b"\xff", b"\x00\x01", 1),
    (T.blob(), V.VornBlob(b"ab"), b"ab", 0),
    (T.blob(), bytearray(b"ab"), V.VornBlob(b"ac"), -1),
    (T.blob(), [1, 2], (1, 2, 0), -1),  # any sequence of comparable items
])
def test_leaf_orders(t, x, y, expected):
    f = cy_compare_for(t)
    assert f(x, y) == expected
    assert f(x, y, {"ignored": 1}) == expected


class Stamp:
    def __init__(self, value):
        self.value = value

    def timestamp(self):
        return self.value


@pytest.mark.parametrize("t, args, error, match", [
    (T.never(), (1, 1), RuntimeError, "Attempted to compare values of type .Never"),
    (T.integer(), (2**63, 0), OverflowError, ""),
    (T.integer(), ("1", 2), TypeError, "an integer is required"),
    (T.float_(), ("x", 1.0), TypeError, ""),
    (T.string(), (None, "a"), TypeError, "<"),
    (T.datetime(), (1, 2), AttributeError, "timestamp"),
    (T.datetime(), (Stamp("x"), Stamp(1)), TypeError, ""),
    (T.blob(), (b"a", 3), TypeError, ""),
])
def test_leaf_errors(t, args, error, match):
    with pytest.raises(error, match=match or None):
        cy_compare_for(t)(*args)


def test_datetime_nan_timestamp_compares_equal():
    assert cy_compare_for(T.datetime())(Stamp(NAN), Stamp(5)) == 0


def test_blob_class_looked_up_at_each_call(monkeypatch):
    f = cy_compare_for(T.blob())

    class Other:
        def __init__(self, data):
            self.data = data
    monkeypatch.setattr(sk, "VornBlob", Other)
    assert f(Other(b"a"), b"b") == -1
    with pytest.raises(TypeError):
        f(V.VornBlob(b"a"), b"b")  # no longer unwrapped


# ---- dispatch ----------------------------------------------------------------------

def test_first_true_predicate_decides(monkeypatch):
    calls = []

    def spy(name, result):
        def predicate(t):
            calls.append(name)
            return result(t)
        return predicate
    for name in ("is_never_type", "is_null_type", "is_boolean_type", "is_integer_type", "is_float_type"):
        original = getattr(sk, name)
        monkeypatch.setattr(sk, name, spy(name, original))
    monkeypatch.setattr(sk, "is_float_type", spy("is_float_type", lambda t: True))
    assert cy_compare_for(T.integer()).__name__ == "compare_int"
    assert calls == ["is_never_type", "is_null_type", "is_boolean_type", "is_integer_type"]
    calls.clear()
    assert cy_compare_for(T.string()).__name__ == "compare_float"
    assert calls[-1] == "is_float_type"


def test_function_and_never_both_true_gives_never(monkeypatch):
    monkeypatch.setattr(sk, "is_never_type", lambda t: t.type in ("Never", "Function"))
    assert cy_compare_for(T.function()).__name__ == "compare_never"


def test_rebound_predicate_changes_later_and_nested_builds(monkeypatch):
    monkeypatch.setattr(sk, "is_string_type", lambda t: t.type in ("String", "Blob"))
    f = cy_compare_for(T.array(T.blob()))
    assert f([(1,)], [(2,)]) == -1  # compared with < as a String would be


def test_predicate_truth_and_errors(monkeypatch):
    monkeypatch.setattr(sk, "is_never_type", lambda t: [] if t.type != "Never" else [1])
    assert cy_compare_for(T.never()).__name__ == "compare_never"
    assert cy_compare_for(T.null()).__name__ == "lambda"

    def boom(t):
        raise KeyError("predicate")
    monkeypatch.setattr(sk, "is_null_type", boom)
    with pytest.raises(KeyError, match="predicate"):
        cy_compare_for(T.null())


def test_unknown_type():
    with pytest.raises(RuntimeError, match="^Unknown type encountered during type printing: Foo$"):
        cy_compare_for(T.Type("Foo"))
    with pytest.raises(RuntimeError, match="printing: 42$"):
        cy_compare_for(T.Type(42))


def test_nested_builds_use_module_attribute(monkeypatch):
    seen = []
    real = sk.cy_compare_for

    def tracing(t, ctx=None):
        seen.append(t.type)
        return real(t, ctx)
    monkeypatch.setattr(sk, "cy_compare_for", tracing)
    real(T.struct(a=T.array(T.integer()), b=T.string()))
    assert seen == ["Array", "Integer", "String"]


# ---- Recursive types and the type context ------------------------------------------

def tree_type(scope=1):
    return T.recursive(scope, T.struct(value=T.integer(), children=T.array(T.rec_ref(scope))))


def tree(value, *children):
    return {"value": value, "children": list(children)}


def test_recursive_wrapper_returns_inner_comparer_and_restores_context():
    ctx = {}
    f = cy_compare_for(tree_type(), ctx)
    assert ctx == {}
    assert f.__name__ == "compare_struct"
    assert f(tree(1, tree(2), tree(3, tree(4))), tree(1, tree(2), tree(3, tree(5)))) == -1
    assert f(tree(1, tree(2, tree(0))), tree(1, tree(2))) == 1
    assert f(tree(1), tree(1)) == 0


def test_caller_binding_shadowed_and_restored():
    outer = cy_compare_for(T.string())
    ctx = {1: outer, 2: outer}
    f = cy_compare_for(T.struct(a=tree_type(1), b=T.rec_ref(2)), ctx)
    assert ctx == {1: outer, 2: outer}
    assert ctx[1] is outer
    assert f({"a": tree(1), "b": "x"}, {"a": tree(1), "b": "y"}) == -1


def test_reference_resolves_to_caller_binding():
    c = cy_compare_for(T.integer())
    assert cy_compare_for(T.rec_ref(7), {7: c}) is c


@pytest.mark.parametrize("ctx", [None, {}, {7: None}])
def test_unresolved_reference(ctx):
    with pytest.raises(ValueError, match=r"^cy_compare_for: unresolved Recursive ref\(7\)$"):
        cy_compare_for(T.rec_ref(7), ctx)


def test_reference_id_formatted_with_format():
    with pytest.raises(ValueError, match=r"ref\(L1\)$"):
        cy_compare_for(T.rec_ref("L1"))


def test_failed_inner_build_restores_context():
    prev = cy_compare_for(T.string())
    ctx = {1: prev}
    with pytest.raises(RuntimeError):
        cy_compare_for(T.recursive(1, T.struct(a=T.rec_ref(1), b=T.Type("Foo"))), ctx)
    assert ctx == {1: prev}
    ctx = {}
    with pytest.raises(RuntimeError):
        cy_compare_for(T.recursive(1, T.Type("Foo")), ctx)
    assert ctx == {}


def test_nested_wrapper_with_same_id_shadows_outer():
    inner = T.recursive(1, T.variant(nil=T.null(), cons=T.struct(head=T.string(), tail=T.rec_ref(1))))
    outer = T.recursive(1, T.struct(items=inner, next=T.array(T.rec_ref(1))))
    f = cy_compare_for(outer)
    nil = {"type": "nil", "value": None}

    def cons(h, t):
        return {"type": "cons", "value": {"head": h, "tail": t}}
    a = {"items": cons("a", nil), "next": [{"items": nil, "next": []}]}
    b = {"items": cons("a", nil), "next": [{"items": cons("b", nil), "next": []}]}
    # Cases order by name: "cons" before "nil".
    assert f(a, b) == 1 and f(b, a) == -1 and f(a, a) == 0


def test_type_context_mapping_of_another_kind():
    class Ctx:
        def __init__(self):
            self.d, self.ops = {}, []

        def get(self, k):
            self.ops.append(("get", k))
            return self.d.get(k)

        def __setitem__(self, k, v):
            self.ops.append(("set", k))
            self.d[k] = v

        def pop(self, k, default):
            self.ops.append(("pop", k))
            return self.d.pop(k, default)
    ctx = Ctx()
    f = cy_compare_for(tree_type(3), ctx)
    assert f(tree(1), tree(2)) == -1
    assert ctx.ops == [("get", 3), ("set", 3), ("get", 3), ("pop", 3)] and ctx.d == {}


def test_self_referencing_wrapper_raises_recursion_error():
    f = cy_compare_for(T.recursive(1, T.rec_ref(1)))
    with pytest.raises(RecursionError):
        f(1, 2)


@pytest.mark.parametrize("build", [cy_compare_for, sk.cy_make_vorn_key])
def test_deeply_nested_type_raises_recursion_error(build):
    t = T.integer()
    for _ in range(100_000):
        t = T.array(t)
    with pytest.raises(RecursionError):
        build(t)
