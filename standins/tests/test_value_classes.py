"""The value classes of the stand-in vorn.types.values compare as the built-ins they
stand for, so that a value gives the same results in either form."""
from __future__ import annotations

import math

import pytest

from vorn.types.values import VornDict

NAN = math.nan


@pytest.mark.parametrize("x, y", [
    ({0: NAN}, {0: NAN}),              # the same NaN object: equal, as dict says
    ({0: NAN}, {0: float("nan")}),     # two NaN objects: not equal
    ({0: 0.0}, {0: -0.0}),
    ({0: 1, 1: 2}, {1: 2, 0: 1}),      # order does not matter
    ({0: 1}, {1: 1}),
    ({0: 1}, {0: 1, 1: 2}),
    ({"a": [NAN]}, {"a": [NAN]}),
], ids=["same nan", "two nans", "signed zeros", "order", "other key", "other length", "nested"])
def test_vorn_dict_equality_is_dict_equality(x, y):
    assert (VornDict(x) == VornDict(y)) is (x == y)
    assert (VornDict(y) == VornDict(x)) is (y == x)
