"""Shortcuts for exact built-ins agree with the general path: the same random values are
compared as exact built-ins, as the value classes of vorn.types.values, as subclasses
whose every slot is Python code (which no shortcut may take), and through component
functions that are Python code bound in the type context. Comparers, equality and
identity functions and sort keys give the same results in each form."""
from __future__ import annotations

import copy

from hypothesis import given, settings
from hypothesis import strategies as st

from strategies import types, values
from vorn.types import types as T
from vorn.types.values import VornDict, VornRef, VornSet
from vorn.utils._sortkit import cy_compare_for, cy_equal_for, cy_is_for, cy_make_vorn_key


class SlowInt(int):
    def __eq__(self, other):
        return int.__eq__(self, other)

    def __ne__(self, other):
        return int.__ne__(self, other)

    def __hash__(self):
        return int.__hash__(self)

    def __index__(self):
        return int.__index__(self)


class SlowFloat(float):
    def __eq__(self, other):
        return float.__eq__(self, other)

    def __hash__(self):
        return float.__hash__(self)

    def __float__(self):
        return float.__float__(self)


class SlowStr(str):
    def __eq__(self, other):
        return str.__eq__(self, other)

    def __ne__(self, other):
        return str.__ne__(self, other)

    def __lt__(self, other):
        return str.__lt__(self, other)

    def __gt__(self, other):
        return str.__gt__(self, other)

    def __hash__(self):
        return str.__hash__(self)


class SlowList(list):
    def __getitem__(self, i):
        return list.__getitem__(self, i)

    def __len__(self):
        return list.__len__(self)

    def __iter__(self):
        return list.__iter__(self)


class SlowDict(dict):
    def __getitem__(self, key):
        return dict.__getitem__(self, key)

    def __len__(self):
        return dict.__len__(self)

    def __iter__(self):
        return dict.__iter__(self)

    def __contains__(self, key):
        return dict.__contains__(self, key)

    def items(self):
        return dict.items(self)


class SlowSet(set):
    def __iter__(self):
        return set.__iter__(self)

    def __len__(self):
        return set.__len__(self)

    def __contains__(self, item):
        return set.__contains__(self, item)


def _same(v):
    return v


PLAIN = {int: _same, float: _same, str: _same, list: list, dict: dict, set: set}
SLOW = {int: SlowInt, float: SlowFloat, str: SlowStr, list: SlowList, dict: SlowDict, set: SlowSet}


def _hashable(items):
    try:
        for item in items:
            hash(item)
    except TypeError:
        return False
    return True


def convert(v, kinds, memo):
    """`v` rebuilt with the classes of `kinds` for scalars, Arrays, Structs, Variants,
    Dicts and (hashable) Sets; objects met twice stay shared, as in `v`."""
    if id(v) in memo:
        return memo[id(v)][1]
    t = type(v)
    if t in (int, float, str):
        out = kinds[t](v)
    elif isinstance(v, list):
        out = kinds[list](convert(item, kinds, memo) for item in v)
    elif t in (dict, VornDict):
        out = kinds[dict]((convert(k, kinds, memo), convert(val, kinds, memo)) for k, val in v.items())
    elif t is VornSet:
        items = [convert(item, kinds, memo) for item in v]
        out = kinds[set](items) if _hashable(items) else VornSet(items)
    elif t is VornRef:
        out = VornRef(convert(v.value, kinds, memo))
    else:
        out = v
    memo[id(v)] = (v, out)  # keeps `v` alive, so that its id is not reused
    return out


def forms(*vs):
    """The values `vs` as they came, as exact built-ins, and as slow subclasses."""
    plain, slow = {}, {}
    return [vs, tuple(convert(v, PLAIN, plain) for v in vs), tuple(convert(v, SLOW, slow) for v in vs)]


def through_python(builder, t):
    """`builder(t)` with every component function reached through a Python function
    bound in the type context. Set elements keep their own build (their key class is
    made without a type context)."""
    ctx = {}

    def wrap(sub):
        inner = builder(python_components(sub), ctx)
        name = f"py{len(ctx)}"
        ctx[name] = lambda x, y, c=None: inner(x, y, c)
        return T.rec_ref(name)

    def python_components(t):
        kind = t.type
        if kind in ("Array", "Vector", "Matrix", "Ref"):
            return T.Type(kind, wrap(t.value))
        if kind == "Dict":
            return T.Type(kind, {"key": wrap(t.value["key"]), "value": wrap(t.value["value"])})
        if kind in ("Struct", "Variant"):
            return T.Type(kind, [{"name": m["name"], "type": wrap(m["type"])} for m in t.value])
        return t
    return builder(python_components(t), ctx)


def pair_of(t):
    """Two values of `t`: drawn apart, or the second a deep copy of the first (of the
    same classes: Set elements are matched by Python's `==`, under which a `VornSet`
    never equals a `set`, so a copy that changed classes could differ)."""
    return values(t).flatmap(lambda x: st.tuples(
        st.just(x), values(t) | st.just(copy.deepcopy(x)) | st.just(x)))


typed_pairs = types(max_leaves=6).flatmap(lambda t: st.tuples(st.just(t), pair_of(t)))
flat_typed_pairs = types(max_leaves=6, recursive=False).flatmap(lambda t: st.tuples(st.just(t), pair_of(t)))


def results(f, forms_of_pair):
    out = []
    for x, y in forms_of_pair:
        r = f(x, y)
        out.append((type(r), r))
    return out


@settings(max_examples=200)
@given(typed_pairs)
def test_every_form_compares_alike(case):
    t, (x, y) = case
    for builder in (cy_compare_for, cy_equal_for, cy_is_for):
        got = results(builder(t), forms(x, y))
        assert got.count(got[0]) == len(got), (builder.__name__, got)


@settings(max_examples=150)
@given(flat_typed_pairs)
def test_python_components_compare_alike(case):
    t, (x, y) = case
    for builder in (cy_compare_for, cy_equal_for, cy_is_for):
        fast, general = builder(t), through_python(builder, t)
        for fx, fy in forms(x, y):
            r, s = fast(fx, fy), general(fx, fy)
            assert (type(r), r) == (type(s), s), builder.__name__


@settings(max_examples=100)
@given(types(max_leaves=5).flatmap(lambda t: st.tuples(st.just(t), st.lists(values(t), max_size=7))))
def test_every_form_sorts_alike(case):
    t, vs = case
    key = cy_make_vorn_key(t)
    orders = []
    for form in forms(*vs):
        ranked = sorted(range(len(form)), key=lambda i: key(form[i]))
        orders.append(ranked)
    assert orders.count(orders[0]) == len(orders)
