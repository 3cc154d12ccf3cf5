"""The native shortcuts of the composite functions, each against what the general path
would do: field slots and key images of exact dicts, exact dicts walked in C, Dict
equality by one lookup or none (read beside), Sets of scalars sorted natively, and
results of user components passed on through the native protocol."""
from __future__ import annotations

import functools
import gc
import math
import random
import subprocess
import sys
import textwrap

import pytest

from outcomes import key_order, outcome
from vorn.types import types as T
from vorn.utils._sortkit import (CyVornKey, cy_compare_for, cy_compare_int, cy_equal_for, cy_is_for,
                                 cy_make_vorn_key)

I, S, F = T.integer(), T.string(), T.float_()
PERSON = T.struct(name=S, age=I)
calls: list = []


class Colliding:
    """A dict key hashed like the str "name", whose == is Python code (logged)."""

    def __hash__(self):
        return hash("name")

    def __eq__(self, other):
        calls.append(other)
        return False


def reference_reads(x, y, names):
    """The item reads of the general path: x[name], then y[name], field by field."""
    for n in names:
        x[n], y[n]


@pytest.mark.parametrize("builder", [cy_compare_for, cy_equal_for, cy_is_for])
def test_field_reads_make_the_same_eq_calls_as_subscription(builder):
    # A dict holding a key that is not a str may make a lookup of "name" call that
    # key's ==; a field read from the slot where the name was found must not skip it.
    x = {Colliding(): 0, "name": "a", "age": 1}
    y = {Colliding(): 0, "name": "a", "age": 2}
    fn = builder(PERSON)
    for _ in range(3):
        calls.clear()
        fn(x, y)
        ours = len(calls)
        calls.clear()
        reference_reads(x, y, ["name", "age"])
        assert ours == len(calls) > 0


def test_dict_equality_looks_up_twice_where_a_key_can_tell():
    # `key in y`, then `y[key]`: each lookup of "name" asks the colliding key's ==.
    x = {"name": 1, "other": 2}
    y = {Colliding(): 0, "name": 1}
    equal = cy_equal_for(T.dict_(S, I))
    calls.clear()
    assert equal(x, y) is False
    ours = len(calls)
    calls.clear()
    for k in x:
        if k not in y:
            break
        y[k]
    assert ours == len(calls) > 0  # a probe may meet the colliding key more than once


def test_struct_keys_follow_their_dicts_when_they_change():
    key = cy_make_vorn_key(PERSON)
    a, b = {"name": "a", "age": 1}, {"name": "b", "age": 1}
    ka, kb = key(a), key(b)
    assert ka < kb
    a["name"] = "c"  # a key keeps what it read only while the dict is unchanged
    assert kb < ka
    del a["name"]
    with pytest.raises(KeyError):
        ka < kb


@pytest.mark.parametrize("extra", [{}, {1: 0}, {"name2": 0}])
def test_struct_keys_order_as_the_comparer_does(extra):
    rng = random.Random(5)
    # Dicts of str keys only get key images; with an int key among them they do not.
    people = [{**extra, "name": rng.choice(["a", "b", "ab", "é", "€", "😀", ""]),
               "age": rng.choice([0, 1, 2**62, -2**62])} for _ in range(300)]
    assert sorted(people, key=cy_make_vorn_key(PERSON)) == sorted(people, key=functools.cmp_to_key(cy_compare_for(PERSON)))


def test_struct_keys_with_a_field_out_of_native_range_use_the_comparer():
    key = cy_make_vorn_key(PERSON)
    with pytest.raises(OverflowError):
        key({"name": "a", "age": 2**64}) < key({"name": "a", "age": 1})


class Growing:
    """A value comparer that adds an entry to the dict being walked."""

    def __init__(self, target):
        self.target = target

    def __call__(self, x, y, ctx=None):
        self.target[len(self.target) + 100] = 0
        return 0


def test_exact_dict_walk_raises_the_iterators_error_when_a_dict_grows():
    x, y = {1: 1, 2: 2}, {1: 1, 2: 2}
    compare = cy_compare_for(T.dict_(I, T.rec_ref("V")), {"V": Growing(x)})
    with pytest.raises(RuntimeError, match="dictionary changed size during iteration"):
        compare(x, y)
    y2 = {1: 1, 2: 2}
    compare = cy_compare_for(T.dict_(I, T.rec_ref("V")), {"V": Growing(y2)})
    with pytest.raises(RuntimeError, match="dictionary changed size during iteration"):
        compare({1: 1, 2: 2}, y2)


class Sub(int):
    pass


@pytest.mark.parametrize("t, sets", [
    (T.set_(I), [{1, 2}, {2, 3}, {True, 5}, {Sub(1), 2}, {-(2**63), 2**63 - 1}, set(), {0}]),
    (T.set_(F), [{0.0, 1.5}, {-0.0, 1.5}, {math.nan, 1.0}, {math.inf}, {1, 2.0}]),
    (T.set_(S), [{"a", "b"}, {"b", "a", ""}, {"é", "a"}, {"😀"}, set()]),
])
def test_sets_sorted_natively_order_as_keys_sort_them(t, sets):
    compare = cy_compare_for(t)
    key = cy_make_vorn_key(t.value)
    for x in sets:
        for y in sets:
            xs, ys = sorted(x, key=key), sorted(y, key=key)
            expected = next(((cy_compare_for(t.value)(a, b)) for a, b in zip(xs, ys)
                             if cy_compare_for(t.value)(a, b)), (len(xs) > len(ys)) - (len(xs) < len(ys)))
            assert compare(x, y) == expected


def _element_key_class(set_compare):
    """The key class a Set comparer sorts its elements by (reachable through the
    collector), and the __init__ it has."""
    [keys] = [r for r in gc.get_referents(set_compare) if isinstance(r, type)]
    return keys, keys.__dict__["__init__"]


def _descending(keys):
    keys.__init__ = lambda self, v: CyVornKey.__init__(self, -v, cy_compare_int)


def test_a_set_comparer_sorts_with_the_key_class_its_sets_iteration_leaves():
    compare = cy_compare_for(T.set_(I))
    keys, ours = _element_key_class(compare)

    class Reversing(set):
        def __iter__(self):
            _descending(keys)
            return set.__iter__(self)
    try:
        assert compare(Reversing({1, 5}), {2, 3}) == 1  # [5, 1] against [3, 2]
        keys.__init__ = ours
        assert compare({1, 5}, Reversing({2, 3})) == -1  # [1, 5] against [3, 2]
    finally:
        keys.__init__ = ours


@pytest.mark.parametrize("first", [{1, 5}, [1, 5]], ids=["native", "general"])
def test_a_set_comparer_sorts_with_its_key_class_as_it_is_now(first):
    # The Set comparer sorts by its element key class, reachable through the collector:
    # given another __init__ after a comparison, it is what sorts the next one.
    compare = cy_compare_for(T.set_(I))
    assert compare(first, {2, 3}) == -1
    keys, ours = _element_key_class(compare)
    _descending(keys)
    try:
        assert compare({1, 5}, {2, 3}) == 1  # [5, 1] against [3, 2]
    finally:
        keys.__init__ = ours
    assert compare({1, 5}, {2, 3}) == -1


# Methods given to CyVornKey itself reach every key class: in a process of its own,
# since a __new__ assigned to a class cannot be taken back cleanly.
_GIVEN_TO_THE_BASE = """
    import sys
    from vorn.types import types as T
    from vorn.utils._sortkit import CyVornKey, cy_compare_for, cy_make_vorn_key

    class Sub(int):
        pass

    dropped = []

    def raising_new(cls, *args, **kwargs):
        raise RuntimeError(f"__new__ of {cls.__name__}")

    METHODS = {"__lt__": lambda a, b: CyVornKey.__gt__(a, b),  # every key class sorts in reverse
               "__new__": raising_new,
               "__del__": lambda self: dropped.append(self.value)}

    def give(name):
        setattr(CyVornKey, name, METHODS[name])

    def outcome(call):
        dropped.clear()
        try:
            result = call()
        except RuntimeError as e:
            result = str(e)
        return result, len(dropped)
"""


def _run_given_to_the_base(code, *args):
    script = textwrap.dedent(_GIVEN_TO_THE_BASE) + textwrap.dedent(code)
    result = subprocess.run([sys.executable, "-c", script, *args], capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    return result.stdout.split("\n")[:-1]


@pytest.mark.parametrize("method, expected, by_keys", [
    ("__lt__", "(1, 0)", "(True, 0)"),        # [5, 1] against [3, 2]
    ("__new__", "('__new__ of VornKey', 0)", "('__new__ of VornKey', 0)"),
    ("__del__", "(-1, 4)", "(True, 4)"),      # each of the four keys, as it is dropped
])
def test_a_set_comparer_sorts_natively_only_while_its_keys_would_run_no_user_code(method, expected, by_keys):
    # Sets of exact ints are sorted without their key class; of an int subclass, by it.
    # Keys of such sets, made before, hand their comparison to the comparer.
    assert _run_given_to_the_base("""
        compare = cy_compare_for(T.set_(T.integer()))
        assert compare({1, 5}, {2, 3}) == -1
        Key = cy_make_vorn_key(T.set_(T.integer()))
        k15, k23 = Key({1, 5}), Key({2, 3})
        assert k15 < k23
        give(sys.argv[1])
        print(outcome(lambda: compare({1, 5}, {2, 3})))
        print(outcome(lambda: compare({Sub(1), Sub(5)}, {Sub(2), Sub(3)})))
        # __lt__ given to the base is the keys' own; theirs says k15 > k23 by the comparer.
        print(outcome(lambda: k15 < k23))
    """, method) == [expected, expected, by_keys]


def test_made_key_classes_call_a_new_given_to_cy_vorn_key():
    assert _run_given_to_the_base("""
        Key = cy_make_vorn_key(T.struct(a=T.integer()))
        assert Key({"a": 1}).value == {"a": 1}
        give("__new__")
        print(outcome(lambda: Key({"a": 1})))
        print(outcome(lambda: Key(value={"a": 1})))
    """) == ["('__new__ of VornKey', 0)"] * 2


def _with_removals(elements, removed):
    s = set(elements) | set(removed)
    for r in removed:
        s.discard(r)
    return s


class IterSet(set):
    """A set read through its own __iter__: forces the general path."""

    def __iter__(self):
        return set.__iter__(self)


@pytest.mark.parametrize("x, y", [
    (_with_removals([1, 5], [2, 3, 4]), {1, 5}),
    (_with_removals([3, 9, 27], range(100, 112)), {3, 9, 26}),
    (frozenset(range(16)), _with_removals(range(16), [99])),
    (_with_removals(range(17), range(40, 60)), set(range(16))),
    (_with_removals([], [1, 2]), set()),
])
def test_sets_read_in_place_skip_removed_elements(x, y):
    # Removed elements leave marked slots in the table; the in-place read skips them
    # and agrees with the general path, which iterates the sets.
    compare = cy_compare_for(T.set_(I))
    expected = compare(IterSet(x), IterSet(y))
    assert compare(x, y) == expected
    assert compare(y, x) == -expected


def test_set_of_ints_out_of_native_range_raises_as_keys_do():
    with pytest.raises(OverflowError):
        cy_compare_for(T.set_(I))({2**64, 1}, {1, 2})


@pytest.mark.parametrize("result", [0.5, 2**40, -7, True, "x"])
def test_user_component_results_pass_through_as_they_are(result):
    user = lambda x, y, ctx=None: result  # noqa: E731
    ctx = {"U": user}
    assert cy_compare_for(T.ref(T.rec_ref("U")), ctx)(Box(1), Box(2)) is result
    assert cy_compare_for(T.variant(a=T.rec_ref("U")), ctx)({"type": "a", "value": 1},
                                                           {"type": "a", "value": 2}) == result
    assert cy_equal_for(T.ref(T.rec_ref("U")), ctx)(Box(1), Box(2)) == result


class Box:
    def __init__(self, value):
        self.value = value


OPTION = T.variant(none=T.null(), some=I)


def test_variant_keys_follow_their_dicts_when_they_change():
    key = cy_make_vorn_key(OPTION)
    a, b = {"type": "some", "value": 1}, {"type": "some", "value": 2}
    ka, kb = key(a), key(b)
    assert ka < kb
    a["value"] = 3
    assert kb < ka
    a["type"] = "none"
    assert ka < kb
    a["type"] = b["type"] = "other"  # equal tags naming no case
    with pytest.raises(KeyError):
        ka < kb


def test_variant_keys_order_as_the_comparer_does():
    rng = random.Random(9)
    values = [{"type": "none", "value": None} if rng.random() < 0.3 else
              {"type": "some", "value": rng.choice([0, 1, -1, 2**62, True, 1.5])} for _ in range(300)]
    values += [{1: 0, "type": "some", "value": 4}]  # not a dict of str keys: no image
    try:
        expected = sorted(values, key=functools.cmp_to_key(cy_compare_for(OPTION)))
    except TypeError:
        pytest.skip("mixed payloads")
    assert sorted(values, key=cy_make_vorn_key(OPTION)) == expected


class Meddling(str):
    """A str whose comparison runs `action` (on the list the walk is reading)."""

    action = None

    def __lt__(self, other):
        type(self).action()
        return False

    def __gt__(self, other):
        return False


@pytest.mark.parametrize("action, outcome", [
    (lambda y: y.__setitem__(2, "z"), -1),      # inline steps read the new item
    (lambda y: y.extend(["x"] * 100), -1),      # the storage moves when the list grows
    (lambda y: y.__delitem__(slice(2, None)), IndexError),  # as y[2] raises
])
def test_array_walk_rereads_the_lists_after_user_code(action, outcome):
    y = ["a", "b", "c", "e"]
    Meddling.action = staticmethod(lambda: action(y))
    x = ["a", Meddling("b"), "c", "d"]
    compare = cy_compare_for(T.array(S))
    if outcome is IndexError:
        with pytest.raises(IndexError):
            compare(x, y)
    else:
        assert compare(x, y) == outcome


class PlainArray(list):
    __slots__ = ()


class CountingArray(list):
    reads = 0

    def __getitem__(self, i):
        type(self).reads += 1
        return list.__getitem__(self, i)


class LateArray(list):
    """Gains a __getitem__ after its first comparison."""


def test_list_subclass_indexing_is_read_through_user_getitem_whenever_defined():
    compare = cy_compare_for(T.array(I))
    assert compare(PlainArray([1, 2, 3]), PlainArray([1, 2, 4])) == -1
    CountingArray.reads = 0
    assert compare(CountingArray([1, 2, 3]), CountingArray([1, 2, 4])) == -1
    assert CountingArray.reads == 6  # x[i] and y[i] for i = 0, 1, 2, through the method
    assert compare(LateArray([1, 5]), LateArray([1, 6])) == -1
    reads = []
    LateArray.__getitem__ = lambda self, i: reads.append(i) or list.__getitem__(self, i)
    assert compare(LateArray([1, 5]), LateArray([1, 6])) == -1
    assert reads == [0, 0, 1, 1]
    del LateArray.__getitem__
    reads.clear()
    assert compare(LateArray([1, 5]), LateArray([1, 6])) == -1
    assert reads == []


def _deleted(d, *keys):
    d = dict(d)
    for k in keys:
        del d[k]
    return d


class _Obj:
    pass


def _split(**items):
    """An instance __dict__: a dict that may keep its items in a shared-key table."""
    o = _Obj()
    for k, v in items.items():
        setattr(o, k, v)
    return o.__dict__


class LoudInt(int):
    calls = 0

    def __lt__(self, other):
        LoudInt.calls += 1
        return int(self) < int(other)


class IterItemsDict(dict):
    """Read through its own items(): forces the general path."""

    def items(self):
        return dict.items(self)


@pytest.mark.parametrize("x, y", [
    ({"a": 1, "b": 2}, {"a": 1, "b": 3}),
    (_deleted({"a": 1, "z": 0, "b": 2}, "z"), {"a": 1, "b": 2}),
    (_deleted({"z": 0, "a": 1, "b": 2, "c": 3}, "z", "c"), {"a": 1, "b": 2, "c": 0}),
    (_split(a=1, b=2), _split(a=1, b=2, c=3)),
    (_split(b=2, a=1), {"a": 1, "b": 2}),
    ({"a": 1, "b": LoudInt(5)}, {"a": 1, "b": 4}),
    ({"a": 1, 2: 3}, {"a": 1, "b": 3}),  # a key the String order does not take inline
    ({}, {"a": 1}),
])
def test_dicts_read_in_place_agree_with_the_stepped_walk(x, y):
    compare = cy_compare_for(T.dict_(S, I))

    def outcome(a, b):
        LoudInt.calls = 0
        try:
            return compare(a, b), LoudInt.calls
        except Exception as e:  # noqa: BLE001 - the exception is what is compared
            return type(e), LoudInt.calls
    general = outcome(IterItemsDict(x), IterItemsDict(y))
    assert outcome(x, y) == general
    assert outcome(y, x)[0] == (-general[0] if isinstance(general[0], int) else general[0])


class LoudEqInt(int):
    calls = 0

    def __eq__(self, other):
        LoudEqInt.calls += 1
        return int(self) == int(other)

    __hash__ = int.__hash__


@pytest.mark.parametrize("x, y", [
    ({"a": 1, "b": 2}, {"b": 2, "a": 1}),
    ({"a": 1, "b": 2}, {"a": 1, "c": 2}),
    (_deleted({"a": 1, "z": 0, "b": 2}, "z"), {"a": 1, "b": 2}),
    (_deleted({"a": 1, "z": 0, "b": 2}, "z"), _deleted({"b": 3, "q": 0, "a": 1}, "q")),
    (_split(a=1, b=2), {"a": 1, "b": 2}),
    ({"a": 1, "b": 2}, _split(b=2, a=1)),
    ({"a": 1, "b": LoudEqInt(2), "c": 4}, {"a": 1, "b": 2, "c": 3}),
    ({"a": 1, 7: 2}, {"a": 1, "b": 2}),
    ({"a": 1, "b": 2}, {"a": 1, 7: 2}),
    # y read beside x while their keys agree, then looked up.
    ({"".join(["a", "b"]): 1, "c": 2}, {"ab": 1, "c": 2}),
    ({"a": 1, "b": 2, "c": 3, "d": 4}, {"a": 1, "b": 2, "d": 4, "c": 3}),
    ({"ab": 1, "cd": 2}, {"cd": 2, "ab": 1}),
    ({"a": 1, "b": 2, "c": 3}, {"a": 1, "b": 2, "c": 4}),
    ({"a": 1, "b": 2}, {"a": 1, "é": 2}),
    ({"\x15": 1}, {"\u0115": 1}),  # the same first byte, in strs of two widths
    ({"a": 1, "b": 2}, _deleted({"a": 1, "z": 0, "b": 2}, "z")),
    ({"é": 1, "😀": 2}, {"".join(["é"]): 1, "".join(["😀", ""]): 2}),
])
def test_dict_equality_read_in_place_agrees_with_the_stepped_walk(x, y):
    equal = cy_equal_for(T.dict_(S, I))

    def outcome(a, b):
        LoudEqInt.calls = 0
        return equal(a, b), LoudEqInt.calls
    assert outcome(x, y) == outcome(IterItemsDict(x), y)


def test_recursive_forwarder_reads_its_cell_as_list_indexing_does():
    import gc
    compare = cy_compare_for(T.recursive("L", T.variant(
        nil=T.null(), cons=T.struct(head=I, tail=T.rec_ref("L")))))
    todo, seen, forwarder = [compare], set(), None
    while todo and forwarder is None:
        o = todo.pop()
        if id(o) in seen:
            continue
        seen.add(id(o))
        if getattr(o, "__qualname__", "").endswith("compare_recursive"):
            forwarder = o
        todo.extend(gc.get_referents(o))
    cell = next(r for r in gc.get_referents(forwarder) if type(r) is list)
    nil = {"type": "nil", "value": None}
    x = {"type": "cons", "value": {"head": 1, "tail": nil}}
    y = {"type": "cons", "value": {"head": 1, "tail": {"type": "cons", "value": {"head": 0, "tail": nil}}}}
    assert compare(x, y) == 1  # "nil" orders after "cons"
    target = cell.pop()
    with pytest.raises(IndexError, match="list index out of range"):
        compare(x, y)
    cell.append(target)
    assert compare(x, y) == 1


@pytest.mark.parametrize("size", range(18))
def test_sets_of_ints_order_as_their_sorted_lists(size):
    # Sizes up to four are sorted by a network, larger ones by insertion; sets past
    # sixteen elements, or whose table outgrows the buffer, go through the key class.
    rng = random.Random(size)
    pool = [-(2**63), -(2**40), -7, -1, 0, 1, 2, 3, 2**31, 2**62, 2**63 - 1, *range(10, 40)]
    compare = cy_compare_for(T.set_(I))
    for _ in range(40):
        x = set(rng.sample(pool, size))
        y = set(rng.sample(pool, max(0, size + rng.choice([-1, 0, 1]))))
        if rng.random() < 0.3:
            y = set(x)
            y.discard(rng.choice(pool))
            y.add(rng.choice(pool))
        expected = (sorted(x) > sorted(y)) - (sorted(x) < sorted(y))
        assert compare(x, y) == expected
        assert compare(y, x) == -expected


@pytest.mark.parametrize("t, items", [
    (I, [0, 1, -1, 2**62, -2**63, 2**63, 2**70, Sub(1), True]),
    (F, [0.0, -0.0, 1.5, math.nan, math.inf, -math.inf, 1]),
    (S, ["", "a", "b", "ab", "é", "\U0001f600", Meddling("a")]),
])
def test_array_keys_order_as_the_comparer_does(t, items):
    """Keys of Arrays walk their lists in place; an item the element order cannot read
    inline (a subclass, an int past 64 bits, a value of the wrong type) leaves the
    comparison to the comparer, with its result or its exception."""
    rng = random.Random(4)
    Meddling.action = staticmethod(lambda: None)
    compare = cy_compare_for(T.array(t))
    by_key = key_order(cy_make_vorn_key(T.array(t)))
    lists = [[rng.choice(items[:3]) for _ in range(rng.randint(0, 4))] for _ in range(40)]
    lists += [[rng.choice(items) for _ in range(rng.randint(0, 3))] for _ in range(60)]
    lists += [PlainArray(lists[5]), [None]]
    for x in lists:
        assert outcome(by_key, x, x) == outcome(compare, x, x)
        for y in rng.sample(lists, 20):
            assert outcome(by_key, x, y) == outcome(compare, x, y), (x, y)


class ShortArray(list):
    """Says it is shorter than it is: len() is what the comparer walks by."""

    def __len__(self):
        calls.append("len")
        return 1


def test_array_keys_ask_a_user_len():
    key = cy_make_vorn_key(T.array(I))
    calls.clear()
    assert not key(ShortArray([1, 5])) < key(ShortArray([1, 6]))
    assert calls == ["len", "len"]


def test_array_keys_read_through_user_getitem_once_defined():
    key = cy_make_vorn_key(T.array(I))
    a, b = key(LateArray([1, 5])), key(LateArray([1, 6]))
    assert a < b
    reads = []
    LateArray.__getitem__ = lambda self, i: reads.append(i) or list.__getitem__(self, i)
    try:
        assert a < b
        assert reads == [0, 0, 1, 1]
    finally:
        del LateArray.__getitem__
