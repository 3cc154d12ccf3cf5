"""CyVornKey and the per-type key classes of cy_make_vorn_key: rich comparison,
hashing, attributes, garbage collection and the class made per type."""
from __future__ import annotations

import gc
import math
import weakref

import pytest
from sortedcontainers import SortedList

from vorn.types import types as T
from vorn.utils import _sortkit as sk
from vorn.utils._sortkit import CyVornKey, cy_compare_for, cy_make_vorn_key

NAN = math.nan


class Calls:
    """A comparer returning fixed results and recording its calls."""

    def __init__(self, result):
        self.result, self.calls = result, []

    def __call__(self, *args):
        self.calls.append(args)
        return self.result


OPS = {
    "<": lambda a, b: a < b, "<=": lambda a, b: a <= b, ">": lambda a, b: a > b,
    ">=": lambda a, b: a >= b, "==": lambda a, b: a == b, "!=": lambda a, b: a != b,
}


@pytest.mark.parametrize("op", OPS)
@pytest.mark.parametrize("result", [-1, 0, 1, -2**80, 2**80, 0.0, -0.5, 3.5, NAN])
def test_operators_follow_comparer_result(op, result):
    c = Calls(result)
    got = OPS[op](CyVornKey("a", c), CyVornKey("b", c))
    assert got is OPS[op](result, 0)
    assert c.calls == [("a", "b")]


INTS = [-2**63, -1, 0, 7, 2**63 - 1]
FLOATS = [-math.inf, -1.5, -0.0, 0.0, 2.0, math.inf, NAN, -NAN]
STRINGS = ["", "a", "a\0", "ab", "abcdefgh", "abcdefgh\0", "abcdefghi", "abcdefghj", "b", "é", "éa",
           "\u4e00", "\u4e00\u4e01\u4e02\u4e03", "\u4e00\u4e01\u4e02\u4e03\u4e04", "\U0001f600",
           "\U0001f600\U0001f601", "\U0001f600\U0001f601\U0001f602"]


@pytest.mark.parametrize("op", OPS)
@pytest.mark.parametrize("comparer, values", [
    (cy_compare_for(T.integer()), INTS), (sk.cy_compare_int, INTS),
    (cy_compare_for(T.float_()), FLOATS), (sk.cy_compare_float, FLOATS),
    (cy_compare_for(T.string()), STRINGS), (sk.cy_compare_string, STRINGS),
    (cy_compare_for(T.float_()), INTS),  # ints under the Float order
])
def test_native_comparers_agree_with_their_results(op, comparer, values):
    """Keys of our scalar comparers decide without calling them: the outcome must be
    the comparer's, for every pair (prefixes, NaNs, signed zeros, wide characters)."""
    keys = [CyVornKey(v, comparer) for v in values]
    for x, kx in zip(values, keys):
        for y, ky in zip(values, keys):
            assert OPS[op](kx, ky) is OPS[op](comparer(x, y), 0), (x, y)


def test_module_scalar_comparers_as_key_comparers():
    for c, values in [(sk.cy_compare_int, [3, -1, 2]), (sk.cy_compare_float, [NAN, -0.0, 0.0, -1.0]),
                      (sk.cy_compare_string, ["b", "a", "ab"])]:
        ordered = sorted(values, key=lambda v: CyVornKey(v, c))
        assert all(c(a, b) <= 0 for a, b in zip(ordered, ordered[1:]))


def test_value_outside_the_comparer_range_raises_at_comparison():
    c = cy_compare_for(T.integer())
    k = CyVornKey(2**64, c)  # no error until compared
    with pytest.raises(OverflowError):
        k < CyVornKey(1, c)
    with pytest.raises(TypeError, match="str"):
        CyVornKey("x", cy_compare_for(T.float_())) < CyVornKey(1.0, cy_compare_for(T.float_()))
    with pytest.raises(TypeError, match="incorrect type"):
        CyVornKey(1, sk.cy_compare_string) < CyVornKey("a", sk.cy_compare_string)


def test_comparer_of_the_key_the_operation_runs_on():
    left, right = Calls(-1), Calls(1)
    a, b = CyVornKey(1, left), CyVornKey(2, right)
    assert (a < b) is True and (b < a) is False
    assert left.calls == [(1, 2)] and right.calls == [(2, 1)]


def test_reflected_operation_of_subclass_runs_first():
    class Sub(CyVornKey):
        pass
    base_c, sub_c = Calls(-1), Calls(-1)
    assert (CyVornKey(1, base_c) < Sub(2, sub_c)) is False  # Sub's __gt__: -1 > 0
    assert base_c.calls == [] and sub_c.calls == [(2, 1)]


@pytest.mark.parametrize("other", [5, None, "x", object()])
@pytest.mark.parametrize("op", ["<", "<=", ">", ">="])
def test_order_against_non_key_is_type_error(op, other):
    c = Calls(0)
    name = type(other).__name__
    message = (r"^Argument 'other' has incorrect type \(expected vorn.utils._sortkit.CyVornKey, "
               rf"got {name}\)$")
    with pytest.raises(TypeError, match=message):
        OPS[op](CyVornKey(1, c), other)
    with pytest.raises(TypeError, match=message):
        OPS[op](other, CyVornKey(1, c))  # through the reflected operation
    assert c.calls == []


def test_equality_against_non_key():
    c = Calls(0)
    k = CyVornKey(1, c)
    assert (k == 1) is False and (k != 1) is True and (k == None) is False  # noqa: E711
    assert k.__eq__(1) is NotImplemented
    assert c.calls == []


def test_equality_returns_result_of_custom_objects():
    class Weird:
        def __eq__(self, other):
            return "eq-result"
    c = Calls(Weird())
    assert (CyVornKey(1, c) == CyVornKey(2, c)) == "eq-result"
    assert (CyVornKey(1, c) != CyVornKey(2, c)) is False


def test_comparer_errors_propagate():
    def boom(a, b):
        raise KeyError("boom")
    with pytest.raises(KeyError, match="boom"):
        sorted([CyVornKey(1, boom), CyVornKey(2, boom)])
    with pytest.raises(TypeError, match="not callable"):
        CyVornKey.__new__(CyVornKey) < CyVornKey.__new__(CyVornKey)


def test_rebinding_a_key_during_its_comparison_is_safe():
    k = CyVornKey(None, None)

    def rebinding(a, b):
        k.__init__([0] * 10, max)  # drops the only references to a and this comparer
        return -1
    k.__init__([1] * 10, rebinding)
    del rebinding
    assert (k < CyVornKey([2], None)) is True
    assert k.value == [0] * 10


def test_hash_and_value():
    c = Calls(0)
    k = CyVornKey((1, "a"), c)
    assert hash(k) == hash((1, "a")) and k.value == (1, "a")
    with pytest.raises(TypeError, match="unhashable"):
        hash(CyVornKey([1], c))
    with pytest.raises(AttributeError):
        k.value = 2
    with pytest.raises(AttributeError):
        k._compare
    with pytest.raises(AttributeError):
        k.other = 1
    assert not hasattr(k, "__dict__")
    with pytest.raises(TypeError):
        weakref.ref(k)


def test_init_rebinds_and_accepts_keywords():
    k = CyVornKey(value=1, compare_fn=max)
    assert k.__init__(2, min) is None and k.value == 2
    assert CyVornKey.__new__(CyVornKey).value is None


@pytest.mark.parametrize("args, kwargs, message", [
    ((1,), {}, r"takes exactly 2 positional arguments \(1 given\)"),
    ((1, 2, 3), {}, r"takes exactly 2 positional arguments \(3 given\)"),
    ((1, 2), {"x": 1}, "unexpected keyword argument 'x'"),
    ((1,), {"compare_fn": max, "x": 1}, "unexpected keyword argument 'x'"),
])
def test_init_argument_errors(args, kwargs, message):
    with pytest.raises(TypeError, match=message):
        CyVornKey(*args, **kwargs)


def test_type_surface():
    assert CyVornKey.__module__ == "vorn.utils._sortkit"
    assert CyVornKey.__name__ == CyVornKey.__qualname__ == "CyVornKey"
    assert CyVornKey.__bases__ == (object,)
    assert CyVornKey.__doc__.startswith(
        "Key wrapper for Vorn values used in sorted() and SortedContainers.\n\n    ")
    assert CyVornKey.__doc__.endswith("\n    ") and CyVornKey.__doc__.count("\n") == 4
    assert "__reduce__" in vars(CyVornKey) and "__setstate__" in vars(CyVornKey)


def test_keys_are_collected_in_cycles():
    class Marker:
        pass
    k = CyVornKey(None, None)
    marker = Marker()
    k.__init__([k, marker], None)
    alive = weakref.ref(marker)
    assert any(r is k.value for r in gc.get_referents(k))
    del k, marker
    gc.collect()
    assert alive() is None


def _comparer(key):
    return key.__reduce__()[2][0]


@pytest.mark.parametrize("close", [
    lambda cls, key, extra: setattr(cls, "lowest", (key, extra)),
    lambda cls, key, extra: setattr(_comparer(key), "kept", (key, extra)),
    lambda cls, key, extra: _comparer(key).__dict__.update(kept=(key, extra)),
    lambda cls, key, extra: setattr(_comparer(key), "__doc__", (key, extra)),
    lambda cls, key, extra: setattr(_comparer(key), "__module__", (key, extra)),
], ids=["class attribute", "comparer attribute", "comparer __dict__", "comparer __doc__",
        "comparer __module__"])
@pytest.mark.parametrize("t, value", [(T.integer(), -2**63), (T.float_(), 0.5), (T.string(), "a")])
def test_scalar_keys_in_cycles_through_their_class_or_comparer_are_collected(close, t, value):
    # A key of a scalar reaches no user object through its value, but it does through
    # its class and its comparer, which user code can give attributes.
    class Marker:
        pass
    cls = cy_make_vorn_key(t)
    key, marker = cls(value), Marker()
    close(cls, key, marker)
    alive = weakref.ref(marker)
    del cls, key, marker
    gc.collect()
    assert alive() is None


def _vorn_key_subclass():
    class Sub(cy_make_vorn_key(T.integer())):
        pass
    return Sub


def _cy_key_subclass():
    class Sub(CyVornKey):
        def __init__(self, value):
            super().__init__(value, sk.cy_compare_int)
    return Sub


@pytest.mark.parametrize("make_class", [
    lambda: CyVornKey, lambda: cy_make_vorn_key(T.integer()), _vorn_key_subclass, _cy_key_subclass,
], ids=["CyVornKey", "VornKey", "VornKey subclass", "CyVornKey subclass"])
def test_a_del_given_to_the_class_runs_once_and_may_resurrect(monkeypatch, make_class):
    cls = make_class()
    kept = []
    monkeypatch.setattr(cls, "__del__", lambda self: kept.append(self), raising=False)
    key = cls(5, sk.cy_compare_int) if cls is CyVornKey else cls(5)
    del key
    [back] = kept
    assert back.value == 5 and not back < back  # whole and ordering again
    kept.clear()
    del back  # freed now, without a second __del__
    gc.collect()
    assert not kept


# ---- cy_make_vorn_key -------------------------------------------------------------------

def test_made_class_surface():
    a, b = cy_make_vorn_key(T.integer()), cy_make_vorn_key(T.integer())
    assert a is not b
    for cls in (a, b):
        assert cls.__name__ == "VornKey" and cls.__qualname__ == "cy_make_vorn_key.<locals>.VornKey"
        assert cls.__doc__ == "Type-specific key wrapper." and cls.__module__ == "vorn.utils._sortkit"
        assert cls.__bases__ == (CyVornKey,) and type(cls) is type
        assert cls.__slots__ == () and "__orig_bases__" not in vars(cls)
        init = vars(cls)["__init__"]
        assert init.__qualname__ == "cy_make_vorn_key.<locals>.VornKey.__init__"
        assert init.__text_signature__ == "(self, value)"
    k = a(5)
    assert isinstance(k, CyVornKey) and type(k) is a and k.value == 5
    assert not hasattr(k, "__dict__")
    with pytest.raises(AttributeError):
        k.extra = 1
    assert a(value=3).value == 3
    assert (a(1) < b(2)) is True  # keys of different classes still compare


@pytest.mark.parametrize("call", [lambda K: K(), lambda K: K(1, 2), lambda K: K(x=1)])
def test_made_class_argument_errors(call):
    with pytest.raises(TypeError):
        call(cy_make_vorn_key(T.integer()))


def test_made_class_init_checks_self():
    K = cy_make_vorn_key(T.integer())
    with pytest.raises(TypeError, match="requires a 'vorn.utils._sortkit.CyVornKey' object"):
        K.__init__(5, 1)
    k = K(1)
    assert K.__init__(k, 7) is None and k.value == 7


def test_made_class_honours_later_changes():
    K = cy_make_vorn_key(T.integer())
    assert K(3).value == 3  # made the fast way, which remembers the class
    ours = K.__init__
    K.__init__ = lambda self, value: CyVornKey.__init__(self, -value, sk.cy_compare_int)
    assert K(3).value == -3
    K.__init__ = ours
    assert K(3).value == 3

    class Sub(cy_make_vorn_key(T.string())):
        __slots__ = ()

        def __init__(self, value):
            super().__init__(value.upper())
    assert Sub("a").value == "A"


@pytest.mark.parametrize("args", [(), (T.integer(), T.integer())])
def test_make_vorn_key_argument_count(args):
    with pytest.raises(TypeError, match=r"cy_make_vorn_key\(\) takes exactly 1 positional argument"):
        cy_make_vorn_key(*args)


def test_make_vorn_key_uses_module_builder_and_propagates_errors(monkeypatch):
    with pytest.raises(ValueError, match=r"unresolved Recursive ref\(3\)"):
        cy_make_vorn_key(T.rec_ref(3))
    monkeypatch.setattr(sk, "cy_compare_for", lambda t: lambda x, y: y - x)
    assert sorted([1, 3, 2], key=cy_make_vorn_key(T.integer())) == [3, 2, 1]


# ---- sorting --------------------------------------------------------------------------

@pytest.mark.parametrize("t, values, expected", [
    (T.float_(), [1.0, NAN, -0.0, -math.inf, 0.0, NAN], [-math.inf, -0.0, 0.0, 1.0, NAN, NAN]),
    (T.string(), ["b", "", "ab", "a"], ["", "a", "ab", "b"]),
    (T.struct(name=T.string(), age=T.integer()),
     [{"name": "b", "age": 1}, {"name": "a", "age": 9}, {"name": "a", "age": 2}],
     [{"name": "a", "age": 2}, {"name": "a", "age": 9}, {"name": "b", "age": 1}]),
    (T.set_(T.set_(T.integer())), [frozenset({frozenset({2})}), frozenset({frozenset({1, 3})}), frozenset()],
     [frozenset(), frozenset({frozenset({1, 3})}), frozenset({frozenset({2})})]),
])
def test_sorted(t, values, expected):
    got = sorted(values, key=cy_make_vorn_key(t))
    assert [repr(v) for v in got] == [repr(v) for v in expected]


def test_sort_is_stable_for_equal_keys():
    values = [{"k": 1, "tag": i} for i in range(5)] + [{"k": 0, "tag": 9}]
    got = sorted(values, key=cy_make_vorn_key(T.struct(k=T.integer())))
    assert [v["tag"] for v in got] == [9, 0, 1, 2, 3, 4]


def test_sorted_list_with_key_class():
    K = cy_make_vorn_key(T.struct(name=T.string(), age=T.integer()))
    people = SortedList(key=K)
    for name, age in [("c", 3), ("a", 5), ("b", 1), ("a", 2)]:
        people.add({"name": name, "age": age})
    assert [(p["name"], p["age"]) for p in people] == [("a", 2), ("a", 5), ("b", 1), ("c", 3)]
    assert people.bisect_key_left(K({"name": "b", "age": 0})) == 2
    people.remove({"name": "a", "age": 5})
    assert len(people) == 3 and {"name": "b", "age": 1} in people
