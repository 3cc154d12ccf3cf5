"""Keys of Struct and Variant values keep the comparer's walk over nested exact dicts,
down through recursive types, and order by it while those dicts are unchanged. Each
test holds a key's order against the comparer's, result for result and exception for
exception, also where the walk must hand over: changed dicts, values the walk cannot
read, a recursion limit reached part way, and comparers changed through the collector."""
from __future__ import annotations

import functools
import gc
import math
import operator
import random
import sys

import pytest

from vorn.types import types as T
from vorn.utils._sortkit import cy_compare_for, cy_make_vorn_key

I, S, F = T.integer(), T.string(), T.float_()
INT_LIST = T.recursive("L", T.variant(nil=T.null(), cons=T.struct(head=I, tail=T.rec_ref("L"))))
FLOAT_LIST = T.recursive("L", T.variant(nil=T.null(), cons=T.struct(head=F, tail=T.rec_ref("L"))))
PERSON = T.struct(name=S, age=I)
NIL = {"type": "nil", "value": None}


class Sub(int):
    pass


def linked(heads, end=NIL):
    cell = end
    for h in reversed(heads):
        cell = {"type": "cons", "value": {"head": h, "tail": cell}}
    return cell


def outcome(fn, x, y):
    try:
        return fn(x, y)
    except RecursionError as e:
        return RecursionError, str(e)
    except Exception as e:  # noqa: BLE001 - the exception's type is the outcome
        return type(e)


def key_order(key):
    def order(x, y):
        kx, ky = key(x), key(y)
        return -1 if kx < ky else 1 if kx > ky else 0
    return order


def int_lists(rng):
    pool = [0, 1, 2, -(2**63), 2**70, Sub(1), True, 1.5]
    out = [linked([rng.choice(pool[:3]) for _ in range(rng.randint(0, 12))]) for _ in range(60)]
    out += [linked([rng.choice(pool) for _ in range(rng.randint(0, 4))]) for _ in range(30)]
    out += [linked([1, 2], end={"type": "cons", "value": {"head": 3}}),  # no tail: KeyError
            linked([1], end={"type": "other", "value": None}),           # no such case
            linked([1], end={"type": Sub(0), "value": None}),            # a tag that is no exact str
            linked([0, 1], end={**NIL, 5: 0}),                           # a dict with an int key
            linked([0, 2], end=[1])]                                     # no dict at all
    return out


def float_lists(rng):
    pool = [0.0, -0.0, 1.5, math.nan, -math.inf, 1]
    return [linked([rng.choice(pool) for _ in range(rng.randint(0, 8))]) for _ in range(60)]


def people_in_places(rng):
    return [{"who": {"name": rng.choice(["a", "b", "é", "😀"]), "age": rng.randint(0, 2)},
             "where": rng.choice([{"type": "home", "value": None}, {"type": "at", "value": rng.randint(0, 2)},
                                  {"type": "at", "value": "x"}])} for _ in range(80)]


def tagged_arrays(rng):
    return [{"tag": rng.choice("ab"), "items": [rng.randint(0, 2) for _ in range(rng.randint(0, 3))]}
            for _ in range(60)]


PLACE = T.variant(home=T.null(), at=I)


@pytest.mark.parametrize("t, make", [
    (INT_LIST, int_lists),
    (FLOAT_LIST, float_lists),
    (T.struct(who=PERSON, where=PLACE), people_in_places),
    (T.struct(tag=S, items=T.array(I)), tagged_arrays),  # the walk stops at the Array
], ids=["int lists", "float lists", "nested records", "record with an array"])
def test_nested_keys_order_as_the_comparer_does(t, make):
    rng = random.Random(3)
    compare = cy_compare_for(t)
    by_key = key_order(cy_make_vorn_key(t))
    values = make(rng)
    for x in values:
        assert outcome(by_key, x, x) == outcome(compare, x, x)
        for y in rng.sample(values, 25):
            assert outcome(by_key, x, y) == outcome(compare, x, y), (x, y)


def test_nested_keys_sort_as_the_comparer_sorts():
    rng = random.Random(8)
    values = [linked([rng.randint(0, 2) for _ in range(rng.randint(0, 9))]) for _ in range(500)]
    expected = sorted(values, key=functools.cmp_to_key(cy_compare_for(INT_LIST)))
    assert sorted(values, key=cy_make_vorn_key(INT_LIST)) == expected


def _retag(*cells):
    for c in cells:
        c["value"]["tail"]["type"] = "gone"


@pytest.mark.parametrize("change, expected", [
    (lambda x, y: x["value"]["tail"]["value"].__setitem__("head", 9), 1),   # a deep field
    (lambda x, y: x["value"]["tail"].__setitem__("type", "nil"), 1),        # a deep tag
    (lambda x, y: x["value"].__setitem__("tail", linked([0])), -1),         # a whole tail
    (lambda x, y: x["value"]["tail"]["value"].__delitem__("head"), KeyError),
    (_retag, KeyError),                                                   # equal tags of no case
])
def test_nested_keys_follow_their_dicts_when_they_change(change, expected):
    x, y = linked([1, 2, 3]), linked([1, 2, 4])
    key = cy_make_vorn_key(INT_LIST)
    kx, ky = key(x), key(y)
    assert kx < ky
    change(x, y)
    assert outcome(key_order(lambda v: {id(x): kx, id(y): ky}[id(v)]), x, y) == expected
    assert outcome(cy_compare_for(INT_LIST), x, y) == expected


def _find(root, test):
    """The first object reachable from `root` through the collector's referents that passes `test`."""
    todo, seen = [root], set()
    while todo:
        o = todo.pop()
        if id(o) in seen:
            continue
        seen.add(id(o))
        if test(o):
            return o
        todo.extend(gc.get_referents(o))
    raise LookupError


def _comparer_of(key_class):
    """The comparer that `key_class.__init__` binds (its first referent)."""
    return gc.get_referents(key_class.__dict__["__init__"])[0]


def test_keys_through_a_forwarder_read_its_cell():
    key = cy_make_vorn_key(INT_LIST)
    forwarder = _find(_comparer_of(key), lambda o: getattr(o, "__qualname__", "").endswith("compare_recursive"))
    cell = next(r for r in gc.get_referents(forwarder) if type(r) is list)
    kx, ky = key(linked([1, 1])), key(linked([1, 0, 0]))
    assert kx > ky
    target = cell.pop()
    try:
        with pytest.raises(IndexError, match="list index out of range"):
            kx > ky
    finally:
        cell.append(target)
    assert kx > ky


def test_keys_follow_a_case_table_changed_through_the_collector():
    key = cy_make_vorn_key(PLACE)
    cases = _find(_comparer_of(key), lambda o: type(o) is dict and "home" in o)
    kx, ky = key({"type": "at", "value": 1}), key({"type": "at", "value": 2})
    assert kx < ky
    seen = []
    cases["at"] = lambda x, y, ctx=None: seen.append((x, y)) or 1
    assert kx > ky
    assert seen == [(1, 2)]


def _at_depth(frames, fn, *args):
    """fn(*args) called `frames` Python frames further down the stack."""
    if frames:
        return _at_depth(frames - 1, fn, *args)
    return fn(*args)


def _outcome_at(frames, fn, x, y):
    try:
        return _at_depth(frames, fn, x, y)
    except RecursionError as e:
        return RecursionError, str(e)


def _depth():
    frame, n = sys._getframe(), 0
    while frame:
        frame, n = frame.f_back, n + 1
    return n


def test_nested_keys_raise_recursion_error_where_the_comparer_does():
    # Equal lists walk every level; from some depth on the recursion limit stops the
    # walk part way, at the same check (and with the same message) for both.
    # The comparer is called through cmp_to_key keys, whose comparison makes the same
    # checks on the way to it as ours.
    x, y = linked([1, 2, 3, 4, 5]), linked([1, 2, 3, 4, 5])
    to_key = functools.cmp_to_key(cy_compare_for(INT_LIST))
    key = cy_make_vorn_key(INT_LIST)
    saved = sys.getrecursionlimit()
    sys.setrecursionlimit(_depth() + 60)
    try:
        pairs = [(_outcome_at(frames, operator.lt, to_key(x), to_key(y)),
                  _outcome_at(frames, operator.lt, key(x), key(y))) for frames in range(20, 58)]
    finally:
        sys.setrecursionlimit(saved)
    for by_comparer, by_key in pairs:
        assert by_key == by_comparer
    if sys.version_info < (3, 12):  # where the limit counts the native checks too
        seen = {p[0] for p in pairs}
        assert False in seen
        assert (RecursionError, "maximum recursion depth exceeded while comparing values") in seen
        assert (RecursionError, "maximum recursion depth exceeded in a recursive type") in seen
