"""Properties of cy_equal_for and cy_is_for over random types and values, and a leak
check of their build and call paths, error paths included."""
from __future__ import annotations

import copy
import math

import pytest
from hypothesis import given, settings, strategies as st

from strategies import types, values
from vorn.types import types as T
from vorn.types.values import VornArray, VornRef
from vorn.utils import _sortkit as sk


def kinds(t, seen=None):
    """The kinds a type descriptor contains, through Recursive wrappers."""
    seen = set() if seen is None else seen
    if id(t) in seen:
        return set()
    seen.add(id(t))
    found = {t.type}
    if t.type in ("Vector", "Matrix", "Array", "Set", "Ref"):
        found |= kinds(t.value, seen)
    elif t.type == "Dict":
        found |= kinds(t.value["key"], seen) | kinds(t.value["value"], seen)
    elif t.type in ("Struct", "Variant"):
        for m in t.value:
            found |= kinds(m["type"], seen)
    elif t.type == "Recursive" and t.value.type == "wrapper":
        found |= kinds(t.value.value["inner"], seen)
    return found


# A Ref compares by identity under Python's `==`, so inside a Set its deep copy is no
# member: leave out types that hold both.
deep_copyable = types().filter(lambda t: not {"Set", "Ref"} <= kinds(t))


@settings(max_examples=300)
@given(st.data())
def test_equal_to_a_deep_copy_and_identical_to_itself(data):
    t = data.draw(deep_copyable)
    v = data.draw(values(t, allow_nan=False))
    assert sk.cy_equal_for(t)(v, copy.deepcopy(v)) is True
    assert sk.cy_is_for(t)(v, v) is True


@settings(max_examples=200)
@given(st.data())
def test_equal_with_nan_to_itself(data):
    # NaN equals NaN under Vorn equality, so a value always equals itself.
    t = data.draw(types(sets=False))
    v = data.draw(values(t, allow_nan=True))
    assert sk.cy_equal_for(t)(v, v) is True


@given(st.lists(st.floats(), max_size=20), st.lists(st.floats(), max_size=20))
def test_float_arrays_agree_with_elementwise_float_equality(xs, ys):
    expected = len(xs) == len(ys) and all(sk.cy_equal_float(a, b) for a, b in zip(xs, ys))
    assert sk.cy_equal_for(T.array(T.float_()))(VornArray(xs), list(ys)) is expected
    copies = [float(repr(x)) if not math.isnan(x) else x for x in xs]
    assert sk.cy_equal_for(T.array(T.float_()))(xs, copies) is True


LIST = T.recursive("L", T.variant(nil=T.null(), cons=T.struct(head=T.float_(), tail=T.rec_ref("L"))))


class Rows:
    """Makes a new Struct value on every access, as some sequences do."""

    def __len__(self):
        return 3

    def __getitem__(self, i):
        if i >= 3:
            raise IndexError(i)
        return {"a": float(i)}


def leak_cases():
    a = VornArray()
    a.append(a)
    r = VornRef(1)
    return [
        lambda: sk.cy_equal_for(LIST)({"type": "cons", "value": {"head": 1.0, "tail": {"type": "nil", "value": 0}}},
                                      {"type": "cons", "value": {"head": 1.0, "tail": {"type": "nil", "value": 0}}}),
        lambda: sk.cy_equal_for(T.recursive("A", T.array(T.rec_ref("A"))))(a, VornArray([a])),
        lambda: sk.cy_equal_for(T.dict_(T.string(), T.ref(T.float_())))({"k": r}, {"k": VornRef(1.0)}),
        lambda: sk.cy_is_for(LIST)({"type": "nil", "value": 0}, {"type": "nil", "value": 1}),
        lambda: sk.cy_is_for(T.blob())([1, 2], b"\x01\x02"),
        lambda: sk.cy_equal_for(T.struct(a=T.set_(T.integer()), b=T.matrix(T.float_())))({"a": {1}}, {"a": {1}}),
        lambda: sk.cy_equal_for(T.array(T.struct(a=T.float_())))(Rows(), Rows()),
        lambda: sk.cy_equal_for(T.rec_ref("nope")),
        lambda: sk.cy_is_for(T.recursive("x", T.function())),
        lambda: sk.cy_equal_for(T.variant(a=T.never()))({"type": "a", "value": 1}, {"type": "a", "value": 1}),
    ]


@pytest.mark.parametrize("index", range(len(leak_cases())))
def test_no_reference_leaks(index):
    leakcheck = pytest.importorskip("leakcheck")
    leakcheck.assert_no_leaks(leak_cases()[index],
                              expect=(KeyError, ValueError, RuntimeError, AttributeError))
