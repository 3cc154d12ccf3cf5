"""Faults found in the native shortcuts of the composite functions, each pinned by the
case that showed it: field values held across user code, int results that collide
with the native protocol's markers, comparers and equality functions standing in for
each other, and exact dicts whose keys change during a walk."""
from __future__ import annotations

import pytest

from vorn.types import types as T
from vorn.utils._sortkit import cy_compare_for, cy_equal_for, cy_is_for

I = T.integer()
freed: list = []


class Tracked:
    """A field value whose end is logged."""

    def __del__(self):
        freed.append(self.__class__.__name__)


class Emptying:
    """A key hashed like the str "a", whose == empties the dict `victim` once armed."""

    def __init__(self, victim):
        self.victim = victim
        self.armed = False

    def __hash__(self):
        return hash("a")

    def __eq__(self, other):
        if self.armed:
            self.victim.clear()
        return False


@pytest.mark.parametrize("builder, result", [(cy_compare_for, 0), (cy_equal_for, True), (cy_is_for, True)])
def test_field_of_x_held_while_y_is_looked_up(builder, result):
    # Looking "a" up in y asks the key that collides with it, which empties x: x["a"]
    # was read first and must stay alive until its field function has seen it.
    seen = []

    def field(a, b, ctx=None):
        seen.append(list(freed))
        return result

    x = {"a": Tracked()}
    emptying = Emptying(x)
    y = {emptying: 0, "a": 1}  # probed before "a" when "a" is looked up
    emptying.armed = True
    freed.clear()
    assert builder(T.struct(a=T.rec_ref("U")), {"U": field})(x, y) == result
    assert seen == [[]]
    assert freed == ["Tracked"]
