"""Keys of Struct and Variant values keep the comparer's walk over nested exact dicts,
down through recursive types, and order by it while those dicts are unchanged. Each
test holds a key's order against the comparer's, result for result and exception for
exception, also where the walk must hand over: changed dicts, values the walk cannot
read, a recursion limit reached part way, and comparers changed through the collector."""
from __future__ import annotations

import copy
import functools
import gc
import math
import operator
import random
import sys

import pytest

from outcomes import key_order, outcome
from vorn.types import types as T
from vorn.utils._sortkit import cy_compare_for, cy_make_vorn_key

I, S, F = T.integer(), T.string(), T.float_()
INT_LIST = T.recursive("L", T.variant(nil=T.null(), cons=T.struct(head=I, tail=T.rec_ref("L"))))
FLOAT_LIST = T.recursive("L", T.variant(nil=T.null(), cons=T.struct(head=F, tail=T.rec_ref("L"))))
PERSON = T.struct(name=S, age=I)
NIL = {"type": "nil", "value": None}


class Sub(int):
    pass


class SubStr(str):
    pass


def linked(heads, end=NIL):
    cell = end
    for h in reversed(heads):
        cell = {"type": "cons", "value": {"head": h, "tail": cell}}
    return cell


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


AT_COPY = "".join(["a", "t"])  # equal to the case name "at", another object


def people_in_places(rng):
    return [{"who": {"name": rng.choice(["a", "b", "é", "😀"]), "age": rng.randint(0, 2)},
             "where": rng.choice([{"type": "home", "value": None}, {"type": "at", "value": rng.randint(0, 2)},
                                  {"type": "at", "value": "x"}, {"type": "near", "value": rng.randint(0, 2)},
                                  {"type": AT_COPY, "value": rng.randint(0, 2)}])} for _ in range(80)]


def tagged_arrays(rng):
    return [{"tag": rng.choice("ab"), "items": [rng.randint(0, 2) for _ in range(rng.randint(0, 3))]}
            for _ in range(60)]


def named_records(rng):
    """Names that agree in their first characters, hold NULs, mix character widths,
    lengths up to 7 and past them, are equal in two objects, or are no exact str;
    numbers at and past the ends of 64 bits."""
    names = ["", "a", "a\0", "a\0b", "abc", "abc\0\0\0\0z", "abcdefg", "abcdefg\0", "abcdefgh", "abcdefgh1",
             "abcdefgh2", "abcdefghij", "".join(["abcdefgh", "ij"]), "é", "éa",
             "ĕ", "aĕ", "ĕĕĕĕa", "ĕĕĕĕb", "😀", "a😀", "😀😀a", "😀😀b", SubStr("a"), "a" * 40, "a" * 39 + "b"]
    numbers = [0, 1, -1, 2**63 - 1, -(2**63), 2**60 - 1, 2**60, -(2**60), 2**61 + 2**30 + 7, -(2**63) + 1,
               2**63, 2**90, True, Sub(1), 0.5]
    return [{"name": rng.choice(names), "n": rng.choice(numbers if rng.random() < 0.3 else numbers[:10])}
            for _ in range(120)]


def scalar_records(rng):
    """Flat records: long names equal in separate objects (so the order goes on to the
    next field), floats at their edges, a Null field, and fields past 64 bits."""
    names = ["abcdefghij", "".join(["abcdefgh", "ij"]), "abcdefghik", "abc", "abcdefg", "é"]
    floats = [0.0, -0.0, 1.5, math.nan, -math.inf, math.inf]
    return [{"name": rng.choice(names), "x": rng.choice(floats), "z": rng.choice([None, 1]),
             "n": rng.choice([0, 1, 2**64]) if rng.random() < 0.2 else rng.randint(0, 1)}
            for _ in range(120)]


PLACE = T.variant(home=T.null(), at=I, near=I)
TRIP = T.variant(home=T.null(), at=I, elsewhere=S, elsewhen=F)


def trips(rng):
    """Variants: long case names that agree in their first characters or are equal in
    two objects, Null payloads, payloads past 64 bits or of wider characters."""
    tags = ["home", "at", "elsewhere", "".join(["elsew", "here"]), "elsewhen"]
    payloads = {"home": [None, 3], "at": [0, 1, -1, 2**64],
                "elsewhere": ["", "a", "abcdefghij", "".join(["abcdefgh", "ij"]), "abcdefghik", "é", "ĕ"],
                "elsewhen": [0.0, -0.0, math.nan, 1.5]}
    out = []
    for _ in range(120):
        tag = rng.choice(tags)
        out.append({"type": tag, "value": rng.choice(payloads[tag])})
    return out


@pytest.mark.parametrize("t, make", [
    (INT_LIST, int_lists),
    (FLOAT_LIST, float_lists),
    (T.struct(who=PERSON, where=PLACE), people_in_places),
    (T.struct(tag=S, items=T.array(I)), tagged_arrays),  # the walk stops at the Array
    (T.struct(name=S, n=I), named_records),
    (T.struct(x=F, name=S, z=T.null(), n=I), scalar_records),
    (TRIP, trips),
], ids=["int lists", "float lists", "nested records", "record with an array", "strs and ints", "scalar fields",
        "variants"])
def test_nested_keys_order_as_the_comparer_does(t, make):
    rng = random.Random(3)
    compare = cy_compare_for(t)
    by_key = key_order(cy_make_vorn_key(t))
    values = make(rng)
    for x in values:
        assert outcome(by_key, x, x) == outcome(compare, x, x)
        for y in rng.sample(values, 25):
            assert outcome(by_key, x, y) == outcome(compare, x, y), (x, y)


@pytest.mark.parametrize("wrap", [lambda t: t, lambda t: T.struct(who=t)], ids=["flat", "nested"])
def test_keys_of_two_classes_order_by_the_left_keys_comparer(wrap):
    # The same fields in another order: the two keys' codes do not line up, and read
    # as one another's they would order x and y the other way.
    by_name, by_age = cy_make_vorn_key(wrap(PERSON)), cy_make_vorn_key(wrap(T.struct(age=I, name=S)))
    x, y = {"name": "b", "age": -(2**62)}, {"name": "a", "age": 0}
    if wrap(PERSON) is not PERSON:
        x, y = {"who": x}, {"who": y}
    assert not by_name(x) < by_age(y) and by_age(x) < by_name(y)


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


class Attrs:
    """An object whose instance dict serves as a Struct value, changed through the object."""

    def __init__(self, **fields):
        for name, v in fields.items():
            setattr(self, name, v)


@pytest.mark.parametrize("change, expected", [
    (lambda o: setattr(o, "age", 9), 1),
    (lambda o: setattr(o, "name", "z"), 1),
    (lambda o: setattr(o, "age", 2), 0),
    (lambda o: delattr(o, "age"), KeyError),
], ids=["field", "string field", "field made equal", "field deleted"])
@pytest.mark.parametrize("nested", [False, True], ids=["own", "nested"])
def test_keys_follow_instance_dicts_changed_through_their_objects(change, expected, nested):
    # An instance dict may keep its values in its object, where attribute assignment
    # changes them without going through the dict.
    ox, oy = Attrs(name="a", age=1), Attrs(name="a", age=2)
    x, y, t = vars(ox), vars(oy), PERSON
    if nested:
        x, y, t = vars(Attrs(who=x)), vars(Attrs(who=y)), T.struct(who=PERSON)
    key = cy_make_vorn_key(t)
    kx, ky = key(x), key(y)
    assert kx < ky
    change(ox)
    assert outcome(key_order(lambda v: {id(x): kx, id(y): ky}[id(v)]), x, y) == expected
    assert outcome(cy_compare_for(t), x, y) == expected


def _find_all(root, test):
    """The objects reachable from `root` through the collector's referents that pass `test`."""
    todo, seen, found = [root], set(), []
    while todo:
        o = todo.pop()
        if id(o) in seen:
            continue
        seen.add(id(o))
        if test(o):
            found.append(o)
        todo.extend(gc.get_referents(o))
    return found


def _find(root, test):
    """The first object reachable from `root` through the collector's referents that passes `test`."""
    found = _find_all(root, test)
    if not found:
        raise LookupError
    return found[0]


def _comparer_of(key_class):
    """The comparer that `key_class.__init__` binds (its first referent)."""
    return gc.get_referents(key_class.__dict__["__init__"])[0]


@pytest.mark.parametrize("t, x, y, forwarders", [
    (INT_LIST, linked([1, 1]), linked([1, 0, 0]), 1),
    # Two recursive types in one value: whichever forwarder loses its target, the key sees it.
    (T.struct(ints=INT_LIST, floats=FLOAT_LIST), {"ints": linked([1]), "floats": linked([1.0, 1.0])},
     {"ints": linked([1]), "floats": linked([1.0, 0.0, 0.0])}, 2),
], ids=["one forwarder", "two forwarders"])
def test_keys_through_a_forwarder_read_its_cell(t, x, y, forwarders):
    key = cy_make_vorn_key(t)
    found = _find_all(_comparer_of(key), lambda o: getattr(o, "__qualname__", "").endswith("compare_recursive"))
    assert len(found) == forwarders
    kx, ky = key(x), key(y)
    assert kx > ky
    for forwarder in found:
        cell = next(r for r in gc.get_referents(forwarder) if type(r) is list)
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


_COMPARER_MESSAGE = "maximum recursion depth exceeded while comparing values"


@pytest.mark.parametrize("t, x, y, headroom, messages", [
    # Equal lists walk every level; from some depth on the recursion limit stops the
    # walk part way, at the same check (and with the same message) for both.
    pytest.param(INT_LIST, linked([1, 2, 3, 4, 5]), linked([1, 2, 3, 4, 5]), 60,
                 {_COMPARER_MESSAGE, "maximum recursion depth exceeded in a recursive type"}, id="nested"),
    pytest.param(PERSON, {"name": "a", "age": 1}, {"name": "a", "age": 1}, 30, {_COMPARER_MESSAGE}, id="flat"),
    pytest.param(T.set_(I), {1, 2}, {1, 2}, 30, {_COMPARER_MESSAGE}, id="set"),
])
def test_keys_raise_recursion_error_where_the_comparer_does(t, x, y, headroom, messages):
    # The comparer is called through cmp_to_key keys, whose comparison makes the same
    # checks on the way to it as ours.
    to_key, key = functools.cmp_to_key(cy_compare_for(t)), cy_make_vorn_key(t)
    saved = sys.getrecursionlimit()
    sys.setrecursionlimit(_depth() + headroom)
    try:
        pairs = [(_outcome_at(frames, operator.lt, to_key(x), to_key(y)),
                  _outcome_at(frames, operator.lt, key(x), key(y))) for frames in range(headroom // 3, headroom - 2)]
    finally:
        sys.setrecursionlimit(saved)
    for by_comparer, by_key in pairs:
        assert by_key == by_comparer
    if sys.version_info < (3, 12):  # where the limit counts the native checks too
        assert {p[0] for p in pairs} >= {False} | {(RecursionError, m) for m in messages}


class Trap:
    """Garbage whose finaliser runs `action`: at whatever allocation next starts the
    collector."""

    def __init__(self, action):
        self.action, self.cycle = action, self

    def __del__(self):
        self.action()


@pytest.fixture
def collect_next():
    """arm(action): from its return on, the first tracked allocation starts the
    collector (on 3.11 inside that allocation; later versions collect between
    bytecodes), whose finaliser calls action(). The collector is set back after the
    test."""
    saved = gc.get_threshold()
    kept = []

    def arm(action):
        gc.collect()
        gc.disable()
        gc.set_threshold(1)  # (its argument tuple is freed before the draining)
        Trap(action)  # garbage from here on
        kept.append([(i,) for i in range(5000)])  # the next tracked allocation collects
        gc.enable()
    try:
        yield arm
    finally:
        gc.set_threshold(*saved)
        gc.enable()


def _order(a, b):
    return (a > b) - (a < b)


@pytest.mark.parametrize("t, made, other, later", [
    (T.struct(a=I, b=I), {"a": 1}, {"a": 5, "b": 0}, {"a": 9, "b": 0}),                  # a missing field
    (PLACE, {"type": "home"}, {"type": "at", "value": 0}, {"type": "at", "value": -1}),  # no payload
    (PLACE, {"type": "gone", "value": 1}, {"type": "at", "value": 0}, {"type": "at", "value": -1}),
], ids=["missing field", "missing payload", "unknown case"])
def test_a_key_orders_by_the_value_it_holds_when_the_collector_rebinds_it(collect_next, t, made, other, later):
    # Making an image allocates nothing, so no finaliser can rebind the key half way
    # and leave it with the image of a value it no longer holds.
    Key = cy_make_vorn_key(t)
    k, o = Key(dict(other)), Key(other)
    collect_next(lambda: Key.__init__(k, later))
    Key.__init__(k, made)
    gc.disable()
    assert outcome(_order, k, o) == outcome(cy_compare_for(t), k.value, o.value)


def test_a_value_changed_by_the_collector_while_its_key_is_allocated(collect_next):
    # A key is sized by its image, so the image is read before the key is allocated,
    # and the collector may run a finaliser that changes the value in between.
    Key = cy_make_vorn_key(PERSON)
    v, o = {"name": "c", "age": 1}, Key({"name": "b", "age": 5})
    ran = []
    collect_next(lambda: (v.update(name="a"), ran.append(True)))
    assert not ran
    k = Key(v)
    gc.disable()
    assert ran and k.value is v
    assert _order(k, o) == cy_compare_for(PERSON)(v, o.value) == -1


@pytest.mark.parametrize("t, v", [(PERSON, {"name": "a", "age": 1}), (I, 5)],
                         ids=["image in the key's block", "scalar"])
def test_a_class_given_another_init_while_its_key_is_allocated(collect_next, t, v):
    # On 3.11 the allocation may run a finaliser that replaces the class's __init__
    # (freeing the old one and its comparer): the key is then made as type.__call__
    # makes it, by the __init__ the class has now.
    Key = cy_make_vorn_key(t)
    seen = []
    collect_next(lambda: setattr(Key, "__init__", lambda self, value: seen.append(value)))
    k = Key(v)
    gc.disable()
    junk = [object() for _ in range(1000)]  # reuses what was freed
    if sys.version_info < (3, 12):  # the collector runs inside the allocation
        assert seen == [v] and k.value is None and k.__reduce__()[1][2] == (None, None)
    else:  # it runs between bytecodes, once the key is made
        assert not seen and k.value is v
    del junk


def test_keys_rebound_after_they_were_made_order_by_what_they_hold():
    Key = cy_make_vorn_key(INT_LIST)
    compare = cy_compare_for(INT_LIST)
    o = Key(linked([1, 2]))
    k = Key(linked([1, 2, 3]))
    for value in [linked([0] * 30), linked([1]), [1], linked([1, 2]), NIL]:
        Key.__init__(k, value)
        for x, y in [(k, o), (o, k)]:
            assert outcome(_order, x, y) == outcome(compare, x.value, y.value)
    k.__setstate__((compare, linked([2])))
    assert _order(k, o) == 1
    twin = copy.copy(k)  # made the generic way, through __setstate__
    assert twin.value is k.value and _order(twin, o) == 1 and _order(twin, k) == 0


def test_a_forwarder_target_freed_and_replaced_at_its_address_is_told_apart():
    key = cy_make_vorn_key(T.recursive("L", T.struct(head=I, next=T.variant(end=T.null(), more=T.rec_ref("L")))))
    compare = _comparer_of(key)
    forwarder = _find(compare, lambda o: getattr(o, "__qualname__", "").endswith("compare_recursive"))
    cell = next(r for r in gc.get_referents(forwarder) if type(r) is list)
    target = cell[0]
    try:
        cell[0] = cy_compare_for(T.struct(head=I, next=T.null()))
        address = id(cell[0])
        x, y = ({"head": 1, "next": {"type": "more", "value": {"head": h, "next": None}}} for h in (1, 2))
        kx, ky = key(x), key(y)
        assert kx < ky
        cell[0] = None
        for _ in range(1000):  # a function that finds every inner head equal, at the same address
            cell[0] = cy_compare_for(T.null())
            if id(cell[0]) == address:
                break
        else:
            pytest.skip("no function was made at the freed address")
        assert compare(x, y) == 0
        assert not kx < ky and not ky < kx
    finally:
        cell[0] = target


def test_a_key_made_with_a_half_built_array_comparer_raises_as_it_does(monkeypatch):
    from vorn.utils import _sortkit as sk
    last = T.integer()
    original = sk.is_never_type
    seen = []

    def spy(t):
        if t is last and not seen:
            for o in gc.get_objects():
                if type(o) is type(sk.cy_compare_int) and o.__qualname__ == "cy_compare_for.<locals>.compare_array":
                    a, b = sk.CyVornKey([1], o), sk.CyVornKey([2], o)  # no exception left set
                    seen.append((outcome(lambda p, q: (p > q) - (p < q), a, b), outcome(o, [1], [2])))
        return original(t)
    monkeypatch.setattr(sk, "is_never_type", spy)
    cy_compare_for(T.array(last))
    assert seen and seen[0][0] == seen[0][1] == RuntimeError


class _Deeper:
    """Reading any attribute calls `fn`, a few native frames further down."""

    def __init__(self, fn):
        self.fn = fn

    def __getattr__(self, name):
        return self.fn()


def _nested_structs(depth):
    """A type of Structs nested `depth` deep with its value: every step of its image
    stands for a recursion check of the comparer's."""
    t, v = T.struct(), {}
    for _ in range(depth):
        t, v = T.struct(a=t), {"a": v}
    return t, v


@pytest.mark.parametrize("shift", [0, 1, 2])
@pytest.mark.parametrize("t, x, y", [
    (INT_LIST, linked([0] * 7 + [1]), linked([0] * 7 + [2])),
    (*_nested_structs(3), _nested_structs(3)[1]),
    (*_nested_structs(8), _nested_structs(8)[1]),
    (PERSON, {"name": "a", "age": 1}, {"name": "a", "age": 2}),
    (TRIP, {"type": "at", "value": 1}, {"type": "at", "value": 2}),
    # A recursive type's forwarder with a scalar behind it: its check counts too.
    (T.variant(at=T.recursive("X", I)), {"type": "at", "value": 1}, {"type": "at", "value": 2}),
    (T.set_(I), {2**40, 2**41}, {2**40, 2**42}),
], ids=["int lists", "3 nested structs", "8 nested structs", "flat struct", "flat variant", "forwarded scalar",
        "int sets"])
def test_keys_order_as_the_comparer_does_down_to_the_end_of_the_c_stack(shift, t, x, y):
    # Each level goes deeper into the C stack (next(map(...)) recurses natively): near
    # its end the comparer's own checks raise, and the image must not answer instead.
    # A level takes several checks; starting `shift` attribute reads deeper meets every
    # number of checks left at some level.
    import threading
    key = cy_make_vorn_key(t)
    stale_value = copy.deepcopy(x)
    stale = key(stale_value)
    # Changed and changed back: its image is out of date, so the comparer orders it, on
    # the same path.
    if isinstance(stale_value, set):
        stale_value.add(int(str(stale_value.pop())))  # an equal element, another object
    else:
        stale_value["zz"] = 0
        del stale_value["zz"]
    kx, ky = key(x), key(y)  # made after the change, which from 3.12 ends every image made before it
    results = []

    def level(n):
        pair = (outcome(operator.le, kx, ky), outcome(operator.le, stale, ky))
        results.append(pair)
        if not (isinstance(pair[0], tuple) and isinstance(pair[1], tuple)) and n < 10**6:
            next(map(level, [n + 1]))

    def start(shift):
        return level(0) if shift == 0 else _Deeper(lambda: start(shift - 1)).x

    saved_limit, saved_size = sys.getrecursionlimit(), threading.stack_size()
    sys.setrecursionlimit(10**7)
    threading.stack_size(4 * 1024 * 1024)
    try:
        thread = threading.Thread(target=start, args=(shift,))
        thread.start()
        thread.join()
    finally:
        threading.stack_size(saved_size)
        sys.setrecursionlimit(saved_limit)
    assert results and results[-1][0][0] is RecursionError
    assert [r for r in results if r[0] != r[1]] == []
