"""Properties of the comparers and keys over random types and values: keyed sorting
agrees with cmp_to_key over the same comparer, orders are antisymmetric, and the
keys' native decisions agree with their comparers."""
from __future__ import annotations

import copy
import functools

from hypothesis import given, settings
from hypothesis import strategies as st

from strategies import types, values
from vorn.types import types as T
from vorn.utils import _sortkit as sk
from vorn.utils._sortkit import CyVornKey, cy_compare_for, cy_make_vorn_key

typed_lists = types(max_leaves=5).flatmap(
    lambda t: st.tuples(st.just(t), st.lists(values(t), max_size=8)))


@settings(max_examples=150)
@given(typed_lists)
def test_keyed_sort_agrees_with_cmp_to_key(case):
    t, vs = case
    by_key = sorted(vs, key=cy_make_vorn_key(t))
    by_cmp = sorted(vs, key=functools.cmp_to_key(cy_compare_for(t)))
    assert [id(v) for v in by_key] == [id(v) for v in by_cmp]


@settings(max_examples=150)
@given(types(max_leaves=5).flatmap(lambda t: st.tuples(st.just(t), values(t), values(t))))
def test_orders_are_antisymmetric_and_reflexive(case):
    t, x, y = case
    c = cy_compare_for(t)
    assert c(x, y) == -c(y, x)
    assert c(x, copy.deepcopy(x)) == 0


SCALARS = [
    (cy_compare_for(T.integer()), st.integers(-2**63, 2**63 - 1)),
    (sk.cy_compare_float, st.floats() | st.sampled_from([0.0, -0.0, float("nan")])),
    (cy_compare_for(T.string()), st.text(alphabet="ab\0é\u4e00\U0001f600", max_size=12)),
    (sk.cy_compare_string, st.text(max_size=10)),
]


@given(st.sampled_from(range(len(SCALARS))).flatmap(
    lambda i: st.tuples(st.just(SCALARS[i][0]), SCALARS[i][1], SCALARS[i][1])))
def test_scalar_keys_decide_as_their_comparer(case):
    c, x, y = case
    kx, ky = CyVornKey(x, c), CyVornKey(y, c)
    r = c(x, y)
    assert ((kx < ky), (kx <= ky), (kx == ky), (kx != ky), (kx > ky), (kx >= ky)) == (
        r < 0, r <= 0, r == 0, r != 0, r > 0, r >= 0)
