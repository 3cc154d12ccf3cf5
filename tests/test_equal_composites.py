"""The composite equality functions: cheap exits, the comparison context, membership
matching, results passed through, cycles, deep values and malformed values."""
from __future__ import annotations

import math
import sys

import numpy as np
import pytest

from vorn.types import types as T
from vorn.types.values import VornArray, VornBlob, VornDict, VornMatrix, VornRef, VornSet, VornVector
from vorn.utils import _sortkit as sk

eq = sk.cy_equal_for
nan = math.nan


class Spy:
    """Stands in for a component function (bound in the type context) and logs calls."""

    def __init__(self, result=True):
        self.calls = []
        self.result = result

    def __call__(self, *args):
        self.calls.append(args)
        return self.result


def spied(make_type, result=True):
    """A function for `make_type(<ref to the spy>)` and the spy."""
    spy = Spy(result)
    return eq(make_type(T.rec_ref("spy")), {"spy": spy}), spy


# ---- cheap exits -----------------------------------------------------------------------

@pytest.mark.parametrize("make_type, value", [
    (T.array, VornArray([1, 2])),
    (lambda e: T.dict_(T.string(), e), {"a": 1}),
    (T.ref, VornRef(1)),
    (T.vector, VornVector([1, 2])),
    (T.matrix, VornMatrix([[1, 2]])),
], ids=["array", "dict", "ref", "vector", "matrix"])
def test_same_object_is_equal_without_calling_components(make_type, value):
    f, spy = spied(make_type, result=False)
    assert f(value, value) is True
    assert spy.calls == []


def test_array_of_never():
    f = eq(T.array(T.never()))
    a = [1, 2]
    assert f(a, a) is True
    assert f([1], [1, 2]) is False
    assert f([], []) is True
    with pytest.raises(RuntimeError, match="Attempted to compare values of type .Never"):
        f([1], [1])


def test_array_stops_at_first_difference():
    f, spy = spied(T.array, result=0)
    assert f([1, 2, 3], [4, 5, 6]) is False
    assert len(spy.calls) == 1 and spy.calls[0][:2] == (1, 4)


def test_struct_fields():
    f = eq(T.struct(a=T.integer(), b=T.never()))
    x = {"a": 1, "b": 2}
    with pytest.raises(RuntimeError):  # the same object is still compared field by field
        f(x, x)
    assert f({"a": 1, "b": 2}, {"a": 2, "b": 2}) is False  # first field decides
    g = eq(T.struct(a=T.integer()))
    assert g({"a": 1, "extra": 1}, {"a": 1, "other": 2}) is True
    with pytest.raises(KeyError, match="'a'"):
        g({}, {})
    with pytest.raises(KeyError, match="'a'"):
        g({"a": 1}, {"b": 1})
    assert eq(T.struct())({}, {"x": 1}) is True


def test_struct_reads_mappings_by_subscription():
    class Row:
        def __getitem__(self, key):
            return len(key)
    assert eq(T.struct(ab=T.integer()))(Row(), {"ab": 2}) is True


def test_variant_tags_are_compared_before_the_context():
    f, spy = spied(lambda r: T.variant(a=r, b=T.integer()))
    ctx = {}
    assert f({"type": "a", "value": 1}, {"type": "b", "value": 1}, ctx) is False
    assert ctx == {} and spy.calls == []
    x, y = {"type": "a", "value": 1}, {"type": "a", "value": 2}
    assert f(x, y, ctx) is True
    assert ctx == {id(x): {id(y)}}
    assert spy.calls == [(1, 2, ctx)]


def test_variant_returns_the_case_result_unchanged():
    f = eq(T.variant(n=T.null(), i=T.integer()))
    assert f({"type": "n", "value": 1}, {"type": "n", "value": 2}) is True

    class Odd:
        def __eq__(self, other):
            return "odd"
    assert f({"type": "i", "value": Odd()}, {"type": "i", "value": 1}) == "odd"
    with pytest.raises(KeyError, match="'zz'"):
        f({"type": "zz", "value": 1}, {"type": "zz", "value": 1})
    with pytest.raises(KeyError, match="'value'"):
        f({"type": "n"}, {"type": "n", "value": 1})


def test_ref_returns_the_inner_result_unchanged():
    f, spy = spied(T.ref, result="inner")
    assert f(VornRef(1), VornRef(2)) == "inner"


def test_set_matches_by_membership():
    f = eq(T.set_(T.float_()))
    n = nan
    assert f({n, 1.0}, {n, 1.0}) is True
    assert f({nan}, {float("nan")}) is False  # another NaN object: not a member
    assert f({1.0}, {1.0, 2.0}) is False
    assert f(VornSet([1, 2]), VornSet([2, 1])) is True
    assert eq(T.set_(T.array(T.integer())))(VornSet([[1]]), VornSet([[1]])) is True


def test_dict_keys_match_by_membership():
    f = eq(T.dict_(T.float_(), T.string()))
    assert f({1: "a"}, {1.0: "a"}) is True
    assert f({1: "a", 2: "b"}, {1: "a", 3: "b"}) is False
    assert f({1: "a"}, {1: "b"}) is False
    assert f(VornDict([(1, "a")]), VornDict([(1.0, "a")])) is True
    g = eq(T.dict_(T.array(T.integer()), T.integer()))
    assert g(VornDict([([1], 2)]), VornDict([([1], 2)])) is True
    with pytest.raises(TypeError, match="unhashable"):
        g(VornDict([([1], 2)]), {1: 2})


def test_dict_compares_values_in_x_order():
    f, spy = spied(lambda r: T.dict_(T.string(), r))
    f({"a": 1, "b": 2}, {"b": 3, "a": 4})
    assert [c[:2] for c in spy.calls] == [(1, 4), (2, 3)]


@pytest.mark.parametrize("x, y, expected", [
    (b"ab", b"ab", True), (b"ab", b"abc", False), (b"ab", b"ac", False), (b"", b"", True),
    (bytearray(b"ab"), b"ab", True), ([1, 2], b"\x01\x02", True),
])
def test_blob(x, y, expected):
    assert eq(T.blob())(VornBlob(b""), VornBlob(b"")) is True
    holder = type("Holder", (), {})
    hx, hy = holder(), holder()
    hx.data, hy.data = x, y
    assert eq(T.blob())(hx, hy) is expected


def test_vector_calls_elements_with_two_arguments():
    f, spy = spied(T.vector)
    assert f(VornVector([1, 2]), VornVector([1, 2])) is True
    assert spy.calls == [(1, 1), (2, 2)]
    assert f(VornVector([1]), VornVector([1, 2])) is False


def test_matrix_shape_and_elements():
    f = eq(T.matrix(T.float_()))

    class NoData:
        rows, cols = 2, 2

        @property
        def _data(self):
            raise AssertionError("_data read")
    short = type("M", (), {"rows": 1, "cols": 2})()
    assert f(NoData(), short) is False
    assert f(VornMatrix([[1.0, 2.0]]), VornMatrix([[1.0], [2.0]])) is False
    assert f(VornMatrix([[1.0, nan]]), VornMatrix([[1.0, nan]])) is True
    assert f(VornMatrix([[0.0]]), VornMatrix([[-0.0]])) is False
    assert f(VornMatrix(np.array([[1.0, 2.0]])), VornMatrix([[1.0, 2.0]])) is True


# ---- the comparison context ---------------------------------------------------------------

def test_context_records_pairs_and_is_reused():
    f = eq(T.array(T.integer()))
    x, y = [1], [2]
    ctx = {}
    assert f(x, y, ctx) is False
    assert ctx == {id(x): {id(y)}}
    assert f(x, y, ctx) is True  # the recorded pair now counts as equal
    assert f(y, x, ctx) is False  # pairs are directed


def test_context_is_made_once_and_shared_with_components():
    f, spy = spied(lambda r: T.array(T.struct(a=r)))
    f([{"a": 1}, {"a": 2}], [{"a": 1}, {"a": 2}])
    contexts = {id(c[2]) for c in spy.calls}
    assert len(contexts) == 1 and isinstance(spy.calls[0][2], dict)


class FreshRows:
    """A sequence that makes a new Struct value on every access."""

    def __init__(self, values):
        self.values = values

    def __len__(self):
        return len(self.values)

    def __getitem__(self, i):
        return {"a": self.values[i]}


class FreshFields:
    """A Struct value whose fields are new Struct values on every access."""

    def __init__(self, **values):
        self.values = values

    def __getitem__(self, name):
        return {"v": self.values[name]}


def test_temporary_values_are_not_mistaken_for_pairs_already_seen():
    # A freed temporary's id() is soon reused by the next one; the context keeps such
    # values alive, so the second pair is compared rather than found.
    f = eq(T.array(T.struct(a=T.integer())))
    assert f(FreshRows([1, 2]), FreshRows([1, 3])) is False
    assert f(FreshRows([1, 2]), FreshRows([1, 2])) is True
    inner = T.struct(v=T.integer())
    g = eq(T.struct(a=inner, b=inner))
    assert g(FreshFields(a=1, b=2), FreshFields(a=1, b=3)) is False


def test_a_python_component_sees_every_pair_recorded_in_order():
    f, spy = spied(lambda r: T.array(T.struct(a=T.integer(), b=r)))
    x = [{"a": 1, "b": 1}, {"a": 2, "b": 2}]
    y = [{"a": 1, "b": 1}, {"a": 2, "b": 2}]
    assert f(x, y) is True
    ctx = spy.calls[0][2]
    assert all(c[2] is ctx for c in spy.calls)
    assert list(ctx.items()) == [(id(x), {id(y)}), (id(x[0]), {id(y[0])}), (id(x[1]), {id(y[1])})]


def test_a_forwarder_to_a_python_function_passes_a_real_dict(monkeypatch):
    original = sk.cy_equal_for
    seen = []

    def wrap_arrays(t, ctx):
        inner = original(t, ctx)
        if t.type != "Array":
            return inner

        def wrapper(x, y, c=None):
            seen.append(type(c))
            return inner(x, y, c)
        return wrapper
    monkeypatch.setattr(sk, "cy_equal_for", wrap_arrays)
    f = original(T.recursive("R", T.array(T.rec_ref("R"))))
    a = VornArray([VornArray([VornArray()])])
    b = VornArray([VornArray([VornArray()])])
    assert f(a, b) is True
    assert seen == [type(None), dict, dict]


def test_leaf_components_get_no_context_but_results_stay_the_same():
    # With components that ignore it, no context is made (nothing could see it).
    assert eq(T.array(T.float_()))([1.0, nan], [1.0, nan]) is True
    assert eq(T.struct(a=T.float_()))({"a": 0.0}, {"a": -0.0}) is False


def cyclic_type():
    return T.recursive("A", T.array(T.rec_ref("A")))


def test_self_containing_arrays_terminate():
    f = eq(cyclic_type())
    a, b = VornArray(), VornArray()
    a.append(a)
    b.append(b)
    assert f(a, b) is True
    c = VornArray()
    c.extend([c, c])
    assert f(a, c) is False


def test_cyclic_dicts_and_refs_terminate():
    t = T.recursive("R", T.ref(T.rec_ref("R")))
    r1, r2 = VornRef(), VornRef()
    r1.value, r2.value = r1, r2
    assert eq(t)(r1, r2) is True
    d = T.recursive("D", T.dict_(T.string(), T.rec_ref("D")))
    x, y = {}, {}
    x["k"], y["k"] = x, y
    assert eq(d)(x, y) is True


# ---- deep values and malformed values -------------------------------------------------------

def nested_arrays(depth):
    v = VornArray()
    for _ in range(depth):
        v = VornArray([v])
    return v


def long_list(n):
    v = {"type": "nil", "value": None}
    for i in range(n):
        v = {"type": "cons", "value": {"head": i, "tail": v}}
    return v


LIST = T.recursive("L", T.variant(nil=T.null(), cons=T.struct(head=T.integer(), tail=T.rec_ref("L"))))


@pytest.mark.parametrize("limit", [None, 10**7], ids=["default limit", "raised limit"])
def test_deep_values_raise_recursion_error(limit):
    old = sys.getrecursionlimit()
    if limit:
        sys.setrecursionlimit(limit)  # the C stack check still stops the descent
    try:
        with pytest.raises(RecursionError):
            eq(cyclic_type())(nested_arrays(100_000), nested_arrays(100_000))
        with pytest.raises(RecursionError):
            eq(LIST)(long_list(100_000), long_list(100_000))
        with pytest.raises(RecursionError):
            sk.cy_is_for(LIST)(long_list(100_000), long_list(100_000))
    finally:
        sys.setrecursionlimit(old)


@pytest.mark.parametrize("t, x, y, error", [
    (T.array(T.integer()), 1, [1], TypeError),
    (T.array(T.integer()), [1], None, TypeError),
    (T.vector(T.integer()), [1], [1], AttributeError),
    (T.matrix(T.integer()), VornMatrix([[1, 2]]), type("M", (), {"rows": 1, "cols": 2})(), AttributeError),
    (T.set_(T.integer()), {1}, 5, TypeError),
    (T.dict_(T.string(), T.integer()), {"a": 1}, 5, TypeError),
    (T.dict_(T.string(), T.integer()), VornArray([("a",)]), {"a": 1}, AttributeError),
    (T.ref(T.integer()), VornRef(1), 2, AttributeError),
    (T.struct(a=T.integer()), 1, {"a": 1}, TypeError),
    (T.variant(a=T.integer()), {"value": 1}, {"type": "a"}, KeyError),
    (T.variant(a=T.integer()), {"type": [], "value": 1}, {"type": [], "value": 1}, TypeError),
    (T.blob(), VornBlob(b"a"), b"a", AttributeError),
])
def test_malformed_values_raise_python_exceptions(t, x, y, error):
    with pytest.raises(error):
        eq(t)(x, y)


class ShrinkOnEq:
    """An element whose `==` empties the list it is in."""

    def __init__(self, owner):
        self.owner = owner

    def __eq__(self, other):
        self.owner.clear()
        return True


def test_values_changed_during_comparison_raise():
    x = VornArray()
    x.extend([ShrinkOnEq(x), 1])
    with pytest.raises(IndexError):
        eq(T.array(T.integer()))(x, [ShrinkOnEq(None), 1])
    d = {}
    d["a"], d["b"] = ShrinkOnEq(d), 1
    with pytest.raises(RuntimeError, match="changed size"):
        eq(T.dict_(T.string(), T.integer()))(d, {"a": 0, "b": 1})


def test_dict_items_must_unpack_to_pairs():
    class Pairs:
        def __init__(self, items):
            self._items = items

        def __len__(self):
            return len(self._items)

        def items(self):
            return self._items
    f = eq(T.dict_(T.string(), T.integer()))
    with pytest.raises(ValueError, match="not enough values to unpack"):
        f(Pairs([("a",)]), {"a": 1})
    with pytest.raises(ValueError, match="too many values to unpack"):
        f(Pairs([("a", 1, 2)]), {"a": 1})
    assert f(Pairs([["a", 1]]), {"a": 1}) is True
