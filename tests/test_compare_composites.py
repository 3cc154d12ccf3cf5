"""The composite comparers: orders, component calls and results, cyclic values, the
comparison context, shape errors and deep nesting."""
from __future__ import annotations

import sys

import numpy as np
import pytest

from vorn.types import types as T
from vorn.types import values as V
from vorn.utils import _sortkit as sk
from vorn.utils._sortkit import cy_compare_for

I, S = T.integer(), T.string()


def none():
    return {"type": "none", "value": None}


def some(v):
    return {"type": "some", "value": v}


OPTION = T.variant(some=I, none=T.null())  # "none" sorts first whatever the case order


@pytest.mark.parametrize("t, x, y, expected", [
    (T.array(I), [1, 2], [1, 2, 0], -1),
    (T.array(I), [2], [1, 5], 1),
    (T.array(I), [], [], 0),
    (T.array(I), (3, 1), V.VornArray([3, 1]), 0),
    (T.vector(I), V.VornVector([1, 2]), V.VornVector([1, 3]), -1),
    (T.vector(I), V.VornVector([1, 2, 3]), V.VornVector([1, 2]), 1),
    (T.vector(T.float_()), V.VornVector(np.array([1.0, np.nan])), V.VornVector(np.array([1.0, 2.0])), 1),
    (T.matrix(I), V.VornMatrix([[1, 2, 3], [4, 5, 6]]), V.VornMatrix([[9], [9], [9]]), -1),
    (T.matrix(I), V.VornMatrix([[1, 2, 3], [4, 5, 6]]), V.VornMatrix([[9, 9], [9, 9]]), 1),
    (T.matrix(I), V.VornMatrix([[1, 2], [3, 4]]), V.VornMatrix([[1, 2], [3, 5]]), -1),
    (T.matrix(I), V.VornMatrix(np.array([[1, 2], [3, 4]])), V.VornMatrix([[1, 2], [3, 4]]), 0),
    (T.set_(I), {3, 1}, {1, 2}, 1),
    (T.set_(I), {1}, {1, 2}, -1),
    (T.set_(I), set(), frozenset(), 0),
    (T.set_(S), V.VornSet(["b", "a"]), V.VornSet(["a", "b"]), 0),
    (T.dict_(S, I), {"a": 1}, {"a": 1, "b": 0}, -1),
    (T.dict_(S, I), {"a": 2}, {"a": 1}, 1),
    (T.dict_(S, I), {"a": 1, "b": 2}, {"b": 2, "a": 1}, -1),  # paired by position, not key
    (T.dict_(S, I), {}, {}, 0),
    (T.ref(I), V.VornRef(1), V.VornRef(2), -1),
    (T.struct(a=I, b=S), {"a": 1, "b": "z"}, {"a": 2, "b": "a"}, -1),
    (T.struct(b=S, a=I), {"a": 1, "b": "z"}, {"a": 2, "b": "a"}, 1),
    (T.struct(), {}, {"x": 1}, 0),
    (OPTION, none(), some(-5), -1),
    (OPTION, some(1), some(2), -1),
    (OPTION, none(), none(), 0),
])
def test_orders(t, x, y, expected):
    f = cy_compare_for(t)
    assert f(x, y) == expected
    assert f(y, x) == -expected


@pytest.mark.parametrize("t, qualname, params", [
    (T.vector(I), "compare_vector", ("x", "y", "_ctx")),
    (T.matrix(I), "compare_matrix", ("x", "y", "_ctx")),
    (T.array(I), "compare_array", ("x", "y", "ctx")),
    (T.set_(I), "compare_set", ("x", "y", "ctx")),
    (T.dict_(I, I), "compare_dict", ("x", "y", "ctx")),
    (T.ref(I), "compare_ref", ("x", "y", "ctx")),
    (T.struct(a=I), "compare_struct", ("x", "y", "ctx")),
    (T.variant(a=I), "compare_variant", ("x", "y", "ctx")),
])
def test_names_and_parameters(t, qualname, params):
    f = cy_compare_for(t)
    assert f.__qualname__ == "cy_compare_for.<locals>." + qualname and f.__name__ == qualname
    assert f.__defaults__ == (None,) and f.__doc__ is None
    assert f.__text_signature__ == f"({params[0]}, {params[1]}, {params[2]}=None)"


# ---- component calls and their results ------------------------------------------------

class Recorder:
    """A component comparer bound in the type context: records its calls and returns
    the queued results."""

    def __init__(self, *results):
        self.results = list(results)
        self.calls = []

    def __call__(self, *args):
        self.calls.append(args)
        return self.results.pop(0) if self.results else 0


@pytest.fixture
def integer_keys(monkeypatch):
    """Sets of a reference bound in the type context: their key class is made without
    the context, so it is given a type it can build."""
    real_make_key = sk.cy_make_vorn_key
    monkeypatch.setattr(sk, "cy_make_vorn_key", lambda t: real_make_key(I))


def built(t_of_ref, recorder):
    return cy_compare_for(t_of_ref(T.rec_ref("c")), {"c": recorder})


@pytest.mark.parametrize("result, expected", [
    (5, 5), (-7, -7), (2.9, 2), (True, 1), (np.int64(-3), -3),
])
def test_integer_result_converts_to_int(result, expected):
    for make in (T.array, lambda e: T.struct(a=e)):
        f = built(make, Recorder(result))
        got = f([1], [2]) if make is T.array else f({"a": 1}, {"a": 2})
        assert got == expected and type(got) is int


@pytest.mark.parametrize("result, error", [
    ("1", TypeError), (None, TypeError), (2**31, OverflowError), (-2**31 - 1, OverflowError),
])
def test_integer_result_errors(result, error):
    with pytest.raises(error):
        built(T.array, Recorder(result))([1], [2])


@pytest.mark.parametrize("make, x, y", [
    (T.set_, {1}, {2}),
    (lambda e: T.dict_(I, e), {1: "a"}, {1: "b"}),
])
def test_object_result_returned_as_is(make, x, y, integer_keys):
    marker = [1]  # != 0, returned itself
    assert built(make, Recorder(marker))(x, y) is marker
    zero_float = built(make, Recorder(0.0, 0.0))
    assert zero_float(x, y) == 0  # 0.0 != 0 is false: the walk goes on


def test_ref_and_variant_return_component_result_unchanged():
    marker = object()
    assert built(T.ref, Recorder(marker))(V.VornRef(1), V.VornRef(2)) is marker
    f = built(lambda e: T.variant(a=e), Recorder(marker))
    assert f({"type": "a", "value": 1}, {"type": "a", "value": 2}) is marker


def test_component_arguments_and_context():
    rec = Recorder()
    f = built(T.vector, rec)
    f(V.VornVector([1]), V.VornVector([2]))
    assert rec.calls == [(1, 2)]  # two arguments only

    rec = Recorder()
    built(T.array, rec)([1], [2])
    (x, y, ctx), = rec.calls
    assert (x, y) == (1, 2) and isinstance(ctx, dict) and len(ctx) == 1

    rec, ctx = Recorder(), {}
    built(lambda e: T.struct(a=e), rec)({"a": 1}, {"a": 2}, ctx)
    assert rec.calls[0][2] is ctx
    rec = Recorder()
    built(lambda e: T.struct(a=e), rec)({"a": 1}, {"a": 2})
    assert rec.calls[0][2] is None  # passed on as received

    key_rec, value_rec = Recorder(), Recorder()
    f = cy_compare_for(T.dict_(T.rec_ref("k"), T.rec_ref("v")), {"k": key_rec, "v": value_rec})
    f({1: 2}, {3: 4})
    assert key_rec.calls == [(1, 3, None)]  # keys always get a fresh context
    assert value_rec.calls[0][:2] == (2, 4) and isinstance(value_rec.calls[0][2], dict)


def test_set_walks_sorted_elements_with_context_as_received(integer_keys):
    rec = Recorder()
    f = cy_compare_for(T.set_(T.rec_ref("e")), {"e": rec})
    ctx = {}
    assert f({3, 1, 2}, {6, 4, 5}, ctx) == 0
    assert rec.calls == [(1, 4, ctx), (2, 5, ctx), (3, 6, ctx)]
    rec.calls.clear()
    assert f({2, 1}, {1}) == 1
    assert rec.calls == [(1, 1, None)]


def test_variant_cases_by_name_and_missing_case():
    f = cy_compare_for(T.variant([("b", I), ("a", S), ("b", S)]))  # a later "b" replaces
    assert f({"type": "b", "value": "x"}, {"type": "b", "value": "y"}) == -1
    assert f({"type": "a", "value": "z"}, {"type": "b", "value": 0}) == -1
    with pytest.raises(KeyError, match="c"):
        f({"type": "c", "value": 1}, {"type": "c", "value": 2})


def test_set_of_recursive_reference_cannot_be_built():
    with pytest.raises(ValueError, match=r"^cy_compare_for: unresolved Recursive ref\(1\)$"):
        cy_compare_for(T.recursive(1, T.struct(items=T.set_(T.rec_ref(1)))))


def test_ref_build_imports_vorn_ref(monkeypatch):
    monkeypatch.delattr(V, "VornRef")
    with pytest.raises(ImportError, match="VornRef"):
        cy_compare_for(T.ref(I))


def test_struct_and_variant_members_read_in_order():
    class Member(dict):
        log = []

        def __getitem__(self, k):
            Member.log.append(k)
            return dict.__getitem__(self, k)
    fields = [Member(name="a", type=I), Member(name="b", type=S)]
    cy_compare_for(T.Type("Struct", fields))
    assert Member.log == ["name", "type", "name", "type"]
    Member.log.clear()
    cy_compare_for(T.Type("Variant", fields))
    assert Member.log == ["type", "name", "type", "name"]


# ---- cyclic values and the comparison context -----------------------------------------

SELF_ARRAY = T.recursive(1, T.array(T.rec_ref(1)))


def test_self_containing_arrays_compare_equal():
    a, b = [], []
    a.append(a)
    b.append(b)
    assert cy_compare_for(SELF_ARRAY)(a, b) == 0


def test_pair_seen_again_counts_as_equal():
    f = cy_compare_for(SELF_ARRAY)
    shared_x, shared_y = [[]], [[[]]]
    # The pair (shared_x, shared_y) decides first; met again later, it counts as 0.
    ctx = {}
    assert f([shared_x], [shared_y], ctx) == -1
    assert f([shared_x], [shared_y], ctx) == 0
    assert ctx[id(shared_x)] == {id(shared_y)}


def test_cyclic_dicts_and_refs():
    t = T.recursive(1, T.dict_(S, T.rec_ref(1)))
    a, b = {}, {}
    a["x"], b["x"] = a, b
    assert cy_compare_for(t)(a, b) == 0
    r = T.recursive(2, T.ref(T.rec_ref(2)))
    ra, rb = V.VornRef(), V.VornRef()
    ra.value, rb.value = ra, rb
    assert cy_compare_for(r)(ra, rb) == 0


def test_caller_context_is_used_and_grows():
    f = cy_compare_for(T.array(T.array(I)))
    inner_x, inner_y = [1], [1]
    ctx = {id(inner_x): {id(inner_y)}}
    assert f([inner_x, [1]], [inner_y, [2]], ctx) == -1
    assert len(ctx) == 3


def test_leaf_elements_skip_the_context():
    f = cy_compare_for(T.array(I))
    ctx = {}
    assert f([1], [2], ctx) == -1 and len(ctx) == 1  # given a context, it records
    assert f([1], [2]) == -1


# ---- shape errors are exceptions --------------------------------------------------------

@pytest.mark.parametrize("t, x, y, error", [
    (T.vector(I), [1], [2], AttributeError),
    (T.matrix(I), V.VornVector([1]), V.VornVector([2]), AttributeError),
    (T.matrix(I), V.VornMatrix([[1, 2]]), type("M", (), {"rows": 1, "cols": 2, "_data": V.VornMatrix([[1]])._data})(), IndexError),
    (T.array(I), 1, 2, TypeError),
    (T.set_(I), 1, {1}, TypeError),
    (T.dict_(I, I), [1], {1: 1}, AttributeError),
    (T.ref(I), 1, 2, AttributeError),
    (T.struct(a=I), {"a": 1}, {}, KeyError),
    (T.struct(a=I), {"a": 1}, [1], TypeError),
    (OPTION, {"value": 1}, none(), KeyError),
])
def test_shape_errors(t, x, y, error):
    with pytest.raises(error):
        cy_compare_for(t)(x, y)


class Items:
    def __init__(self, *entries):
        self.entries = entries

    def items(self):
        return list(self.entries)


@pytest.mark.parametrize("entry, message", [
    ((1, 2, 3), r"^too many values to unpack \(expected 2\)$"),
    ((1,), r"^need more than 1 value to unpack$"),
    ((), r"^need more than 0 values to unpack$"),
    ([1, 2, 3], r"^too many values to unpack \(expected 2\)$"),
    ([1], r"^need more than 1 value to unpack$"),
])
def test_dict_entry_unpacking(entry, message):
    with pytest.raises(ValueError, match=message):
        cy_compare_for(T.dict_(I, I))(Items(entry), Items((1, 1)))


def test_dict_walk_stops_at_exhaustion():
    f = cy_compare_for(T.dict_(I, I))
    assert f(Items((1, 1)), Items((1, 1), (2, 2))) == -1
    assert f(Items((1, 1), "bad"), Items((1, 1))) == 1  # the extra entry is never unpacked


# ---- deep values raise RecursionError -----------------------------------------------------

DEPTH = 100_000


def nested_arrays(depth):
    a = []
    for _ in range(depth):
        a = [a]
    return a


def linked_list(n):
    cell = {"type": "nil", "value": None}
    for i in range(n):
        cell = {"type": "cons", "value": {"head": 1, "tail": cell}}
    return cell


INT_LIST = T.recursive("L", T.variant(nil=T.null(), cons=T.struct(head=I, tail=T.rec_ref("L"))))


@pytest.mark.parametrize("t, make", [
    (SELF_ARRAY, nested_arrays),
    (INT_LIST, linked_list),
    (T.recursive("R", T.ref(T.rec_ref("R"))), None),
])
@pytest.mark.parametrize("limit", [None, 10**6])
def test_deep_values_raise_recursion_error(t, make, limit):
    if make is None:
        def make(depth):
            r = V.VornRef(0)
            for _ in range(depth):
                r = V.VornRef(r)
            return r
    x, y = make(DEPTH), make(DEPTH)
    f = cy_compare_for(t)
    old = sys.getrecursionlimit()
    if limit:
        sys.setrecursionlimit(limit)  # the C stack check still stops the descent
    try:
        with pytest.raises(RecursionError):
            f(x, y)
    finally:
        sys.setrecursionlimit(old)
    assert f(make(50), make(50)) == 0
