"""Faults found in the native shortcuts of the composite functions, each pinned by the
case that showed it: field values held across user code, int results that collide
with the native protocol's markers, comparers and equality functions standing in for
each other, and exact dicts whose keys change during a walk."""
from __future__ import annotations

import pytest

from leakcheck import assert_no_leaks
from vorn.types import types as T
from vorn.utils._sortkit import CyVornKey, cy_compare_for, cy_equal_for, cy_is_for

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


class Data:
    def __init__(self, data):
        self._data = data


EDGE_RESULTS = [-2**31, -2**31 + 1, 2**31 - 1]


@pytest.mark.parametrize("r", EDGE_RESULTS)
@pytest.mark.parametrize("t, x, y", [
    (T.struct(a=T.rec_ref("U")), {"a": 1}, {"a": 2}),
    (T.array(T.rec_ref("U")), [1], [2]),
    (T.vector(T.rec_ref("U")), Data([1]), Data([2])),
    (T.array(T.struct(a=T.rec_ref("U"))), [{"a": 1}], [{"a": 2}]),
    (T.variant(v=T.struct(a=T.rec_ref("U"))), {"type": "v", "value": {"a": 1}}, {"type": "v", "value": {"a": 2}}),
])
def test_integer_results_at_the_ends_of_32_bits_pass_through(r, t, x, y):
    compare = cy_compare_for(t, {"U": lambda a, b, ctx=None: r})
    assert compare(x, y) == r
    assert (CyVornKey(x, compare) < CyVornKey(y, compare)) is (r < 0)
    assert_no_leaks(lambda: compare(x, y))


class Box:
    def __init__(self, value):
        self.value = value


@pytest.mark.parametrize("inner", [cy_equal_for(I), cy_is_for(I)])
@pytest.mark.parametrize("a, b", [(1, 1), (1, 2)])
def test_comparers_pass_on_an_equality_functions_result_as_it_is(inner, a, b):
    # An equality function bound where a comparer is expected: its True or False is
    # what comparers that return a component's result unchanged hand back.
    expected = inner(a, b)
    ctx = {"U": inner}
    assert cy_compare_for(T.variant(v=T.rec_ref("U")), ctx)({"type": "v", "value": a},
                                                            {"type": "v", "value": b}) is expected
    assert cy_compare_for(T.ref(T.rec_ref("U")), ctx)(Box(a), Box(b)) is expected
    dict_compare = cy_compare_for(T.dict_(I, T.rec_ref("U")), ctx)
    assert dict_compare({0: a}, {0: b}) is (expected if expected else 0)
    assert_no_leaks(lambda: dict_compare({0: a}, {0: b}))


@pytest.mark.parametrize("a, b", [(1, 1), (1, 2), (2, 1)])
def test_equality_functions_pass_on_a_comparers_result_as_it_is(a, b):
    compare = cy_compare_for(I)
    expected = compare(a, b)
    ctx = {"U": compare}
    assert cy_equal_for(T.ref(T.rec_ref("U")), ctx)(Box(a), Box(b)) is expected
    assert cy_equal_for(T.variant(v=T.rec_ref("U")), ctx)({"type": "v", "value": a},
                                                          {"type": "v", "value": b}) is expected


@pytest.mark.parametrize("builder", [cy_compare_for, cy_equal_for])
def test_exact_dict_walk_raises_when_its_keys_change_at_one_size(builder):
    # The first value comparison swaps a key of x for a new one: x.items() raises at
    # the step that meets more entries than x had, though its size never changed.
    x, y = {"a": 1, "b": 2}, {"a": 1, "b": 2}

    def swap(a, b, ctx=None):
        if "a" in x:
            del x["a"]
            x["c"] = 3
        return builder(I)(a, b)

    with pytest.raises(RuntimeError, match="dictionary keys changed during iteration"):
        builder(T.dict_(T.string(), T.rec_ref("U")), {"U": swap})(x, y)


class Person:
    """Instances whose vars() are dicts sharing their keys with the class (split tables)."""

    def __init__(self, name, age):
        self.name, self.age = name, age


def store_age(p, age):
    p.age = age  # run often enough for the interpreter to specialise the store


MUTATIONS = {
    "attribute store": lambda p: [store_age(p, a) for a in (3, 4, 5)],
    "attribute delete and store": lambda p: (delattr(p, "age"), store_age(p, 5)),
    "item store": lambda p: vars(p).__setitem__("age", 5),
    "update": lambda p: vars(p).update(age=5),
    "dict.__init__": lambda p: dict.__init__(vars(p), age=5),
    "pop and setdefault": lambda p: (vars(p).pop("age"), vars(p).setdefault("age", 5)),
    "clear and update": lambda p: (vars(p).clear(), vars(p).update(name="b", age=5)),
}


@pytest.mark.parametrize("mutate", MUTATIONS.values(), ids=MUTATIONS.keys())
def test_struct_keys_of_instance_dicts_follow_every_change(mutate):
    from vorn.utils._sortkit import cy_make_vorn_key

    person = T.struct(name=T.string(), age=I)
    compare, key = cy_compare_for(person), cy_make_vorn_key(person)
    for _ in range(20):
        store_age(Person("x", 0), 1)
    p = Person("b", 1)
    other = {"name": "b", "age": 3}
    kp, ko = key(vars(p)), key(other)
    assert kp < ko
    mutate(p)
    assert compare(vars(p), other) == 1
    assert kp > ko and not kp < ko
    assert cy_equal_for(person)(vars(p), {"name": "b", "age": 5}) is True
