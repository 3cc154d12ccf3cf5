"""Faults the hardening checks found, each pinned by the case that showed it."""
from __future__ import annotations

import gc
import sys
import tracemalloc

import pytest

from leakcheck import settle
from vorn import _vornc_bridge as bridge
from vorn.types import types as T
from vorn.types import values as V
from vorn.utils import _sortkit as sk

I = T.integer()


class MadeOnAccess:
    """A sequence that builds each item anew whenever it is read, as views, lazy
    rows and proxies do: a freed item's id() is soon another item's."""

    def __init__(self, rows, make):
        self.rows, self.make = rows, make

    def __len__(self):
        return len(self.rows)

    def __getitem__(self, i):
        return self.make(self.rows[i])


class ValuesMadeOnAccess:
    """A mapping whose items() builds every value anew."""

    def __init__(self, rows, make):
        self.rows, self.make = rows, make

    def __len__(self):
        return len(self.rows)

    def items(self):
        return ((k, self.make(v)) for k, v in enumerate(self.rows))

    def __contains__(self, key):
        return 0 <= key < len(self.rows)

    def __getitem__(self, key):
        return self.make(self.rows[key])


FRESH_CONTAINERS = [
    ("Array of Arrays", T.array(T.array(I)), MadeOnAccess, lambda r: [r]),
    ("Array of Refs", T.array(T.ref(I)), MadeOnAccess, V.VornRef),
    ("Array of Dicts", T.array(T.dict_(I, I)), MadeOnAccess, lambda r: {r: r}),
    ("Dict of Arrays", T.dict_(I, T.array(I)), ValuesMadeOnAccess, lambda r: [r]),
    ("Array of Structs of Arrays", T.array(T.struct(a=T.array(I))), MadeOnAccess, lambda r: {"a": [r]}),
]


@pytest.mark.parametrize("builder, unequal", [(sk.cy_compare_for, -1), (sk.cy_equal_for, False)])
@pytest.mark.parametrize("name, t, container, make", FRESH_CONTAINERS, ids=[c[0] for c in FRESH_CONTAINERS])
def test_items_made_on_access_are_not_taken_for_pairs_already_seen(builder, unequal, name, t, container, make):
    # Only the last items differ. Had the comparison context recorded the ids of the
    # earlier, freed items without keeping them alive, the last pair would reuse
    # those ids and count as already compared, hence equal.
    x = container(list(range(50)), make)
    y = container(list(range(49)) + [99], make)
    assert builder(t)(x, y) == unequal


@pytest.mark.parametrize("builder, unequal", [(sk.cy_compare_for, -1), (sk.cy_equal_for, False)])
@pytest.mark.parametrize("name, t, container, make", FRESH_CONTAINERS, ids=[c[0] for c in FRESH_CONTAINERS])
def test_items_made_on_access_are_kept_alive_under_a_callers_context(builder, unequal, name, t, container,
                                                                     make):
    # The same with the caller's own dict as the context: the temporaries are kept
    # for the walk all the same, and the dict holds nothing but id()s.
    x = container(list(range(50)), make)
    y = container(list(range(49)) + [99], make)
    ctx = {}
    assert builder(t)(x, y, ctx) == unequal
    assert ctx and all(type(k) is int and type(v) is set and all(type(i) is int for i in v)
                       for k, v in ctx.items())


class Fresh:
    """The issue's example: a list served through a __getitem__ that copies."""

    def __init__(self, rows):
        self.rows = rows

    def __len__(self):
        return len(self.rows)

    def __getitem__(self, i):
        return list(self.rows[i])


@pytest.mark.parametrize("make_ctx", [lambda: None, dict], ids=["none", "dict"])
def test_fresh_rows_compare_alike_with_and_without_a_context(make_ctx):
    t = T.array(T.array(I))
    x, y = Fresh([[1], [1], [1]]), Fresh([[1], [1], [2]])
    assert sk.cy_compare_for(t)(x, y, make_ctx()) == -1
    assert sk.cy_equal_for(t)(x, y, make_ctx()) is False


def test_a_context_kept_natively_reaches_other_callables_as_the_dict():
    seen = []

    def element(x, y, ctx=None):
        seen.append({k: set(v) for k, v in ctx.items()})
        return (x > y) - (x < y)

    x, y = [[1]], [[2]]
    assert sk.cy_compare_for(T.array(T.array(T.rec_ref("E"))), {"E": element})(x, y) == -1
    assert seen == [{id(x): {id(y)}, id(x[0]): {id(y[0])}}]


def test_nested_arrays_compare_without_a_dict_per_pair():
    # Each inner pair used to cost a dict entry and a set in the comparison context
    # (some 600 bytes a pair, and seconds for a million); it is kept natively now, in
    # 50 or so bytes a pair, until something that could read it is reached.
    x = [[i] for i in range(100_000)]
    y = [[i] for i in range(100_000)]
    tracemalloc.start()
    try:
        assert sk.cy_compare_for(T.array(T.array(I)))(x, y) == 0
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert peak < 1_000_000


@pytest.mark.usefixtures("runtime_handles_balanced")
def test_attribute_names_read_by_the_conversions_are_not_made_per_call():
    # Names made afresh for each attribute read were kept by the interpreter's type
    # attribute cache until it filled up, which looked like a leak to leak checks.
    t = T.struct(b=T.blob(), m=T.matrix(I), r=T.ref(I))
    v = {"b": V.VornBlob(b"x"), "m": V.VornMatrix([[1]]), "r": V.VornRef(1)}
    for _ in range(100):
        bridge.CValue(t, v).to_py()
    settle()
    before = sys.getallocatedblocks()
    for _ in range(2000):
        bridge.CValue(t, v).to_py()
    gc.collect()
    assert sys.getallocatedblocks() - before < 100
