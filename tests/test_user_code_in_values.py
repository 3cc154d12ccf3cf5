"""What user code inside composite values sees: subclasses of the built-ins and objects
whose item reads, lengths, iteration, hashing, comparisons and number conversions are
Python code, called in a fixed order and number; dicts changed while they are compared;
field names equal but not identical; NaN and -0.0 inside composites; cyclic values.
Whatever shortcut a comparer takes for exact built-ins, these calls and results stay."""
from __future__ import annotations

import functools
import math

import pytest

from vorn.types import types as T
from vorn.types.values import VornArray
from vorn.utils._sortkit import (CyVornKey, cy_compare_for, cy_compare_string, cy_equal_for, cy_is_for,
                                 cy_make_vorn_key)

nan = math.nan
log: list = []


@pytest.fixture(autouse=True)
def fresh_log():
    log.clear()
    yield
    log.clear()


class LoggedDict(dict):
    """Item reads and lengths are Python code, logged as ("get", tag, key)."""

    def __init__(self, tag, *args, **kwargs):
        super().__init__(*args, **kwargs)
        self.tag = tag

    def __getitem__(self, key):
        log.append(("get", self.tag, key))
        return super().__getitem__(key)

    def __len__(self):
        log.append(("len", self.tag))
        return super().__len__()


class Defaulting(dict):
    """A dict subclass whose only Python code is __missing__: dict's own item read calls it."""

    def __missing__(self, key):
        log.append(("missing", key))
        return 0


class LoggedList(list):
    def __init__(self, tag, items):
        super().__init__(items)
        self.tag = tag

    def __getitem__(self, i):
        log.append(("get", self.tag, i))
        return super().__getitem__(i)

    def __len__(self):
        log.append(("len", self.tag))
        return super().__len__()


class LoggedSet(set):
    def __init__(self, tag, items):
        super().__init__(items)
        self.tag = tag

    def __iter__(self):
        log.append(("iter", self.tag))
        return super().__iter__()

    def __len__(self):
        log.append(("len", self.tag))
        return super().__len__()

    def __contains__(self, item):
        log.append(("in", self.tag))
        return super().__contains__(item)


class IntLike:
    """Not an int: converted through __int__, compared by __eq__, hashed by __hash__."""

    def __init__(self, n):
        self.n = n

    def __int__(self):
        log.append(("int", self.n))
        return self.n

    def __eq__(self, other):
        log.append(("eq", self.n))
        return self.n == (other.n if isinstance(other, IntLike) else other)

    def __hash__(self):
        log.append(("hash", self.n))
        return hash(self.n)


class FloatLike:
    """Not a float: converted through __index__ only (no __float__)."""

    def __init__(self, n):
        self.n = n

    def __index__(self):
        log.append(("index", self.n))
        return self.n


class SubInt(int):
    """An int subclass: its value is read directly; __int__, __index__ and __lt__ stay unused
    by the Integer order, while equality asks its __eq__."""

    def __int__(self):
        log.append(("int", int.__int__(self)))
        return int.__int__(self) + 100

    __index__ = __int__

    def __lt__(self, other):
        log.append(("lt", int.__int__(self)))
        return NotImplemented

    def __eq__(self, other):
        log.append(("eq", int.__int__(self)))
        return int.__eq__(self, other)

    __hash__ = int.__hash__


class SubFloat(float):
    def __float__(self):
        log.append(("float", float.__repr__(self)))
        return 42.0


class SubStr(str):
    def __eq__(self, other):
        log.append(("eq", str(self)))
        return str.__eq__(self, other)

    def __ne__(self, other):
        log.append(("ne", str(self)))
        return str.__ne__(self, other)

    def __lt__(self, other):
        log.append(("lt", str(self)))
        return str.__lt__(self, other)

    def __gt__(self, other):
        log.append(("gt", str(self)))
        return str.__gt__(self, other)

    __hash__ = str.__hash__


class HashedName(str):
    """A field name whose hash is Python code."""

    def __hash__(self):
        log.append(("hash", str(self)))
        return str.__hash__(self)

    def __eq__(self, other):
        log.append(("eq", str(self)))
        return str.__eq__(self, other)


PAIR = T.struct(a=T.integer(), b=T.integer())
BUILDERS = {"compare": cy_compare_for, "equal": cy_equal_for, "identity": cy_is_for}


def key_compare(t):
    """`<` of two keys of `t`, as sorted() asks it."""
    key = cy_make_vorn_key(t)
    return lambda x, y: key(x) < key(y)


# ---- Structs: item reads -----------------------------------------------------------------

@pytest.mark.parametrize("builder", BUILDERS.values(), ids=BUILDERS)
@pytest.mark.parametrize("x_b, y_b, reads", [
    (2, 2, [("get", "x", "a"), ("get", "y", "a"), ("get", "x", "b"), ("get", "y", "b")]),
    (2, 3, [("get", "x", "a"), ("get", "y", "a"), ("get", "x", "b"), ("get", "y", "b")]),
])
def test_struct_fields_read_in_order_from_dict_subclasses(builder, x_b, y_b, reads):
    x, y = LoggedDict("x", a=1, b=x_b), LoggedDict("y", a=1, b=y_b)
    builder(PAIR)(x, y)
    assert log == reads


@pytest.mark.parametrize("builder", BUILDERS.values(), ids=BUILDERS)
def test_struct_stops_reading_at_the_first_difference(builder):
    builder(PAIR)(LoggedDict("x", a=0, b=1), LoggedDict("y", a=1, b=1))
    assert log == [("get", "x", "a"), ("get", "y", "a")]


def test_struct_reads_from_one_subclass_beside_a_plain_dict():
    assert cy_compare_for(PAIR)({"a": 1, "b": 2}, LoggedDict("y", a=1, b=1)) == 1
    assert log == [("get", "y", "a"), ("get", "y", "b")]


@pytest.mark.parametrize("name, builder, expected", [
    ("compare", cy_compare_for, 1), ("equal", cy_equal_for, False), ("identity", cy_is_for, False),
    ("key", key_compare, False)])
def test_missing_field_of_a_dict_subclass_goes_through_missing(name, builder, expected):
    x, y = Defaulting(a=1, b=5), Defaulting(a=1)
    assert builder(PAIR)(x, y) == expected
    assert log == [("missing", "b")]
    with pytest.raises(KeyError, match="'b'"):
        builder(PAIR)({"a": 1, "b": 5}, {"a": 1})


def test_keys_read_struct_fields_on_every_comparison():
    t = T.struct(a=T.integer())
    values = [LoggedDict(i, a=n) for i, n in enumerate([3, 1, 2, 2])]
    out = sorted(values, key=cy_make_vorn_key(t))
    reads, pairs = log[:], []
    counting = functools.cmp_to_key(lambda x, y: pairs.append((x.tag, y.tag)) or cy_compare_for(t)(x, y))
    log.clear()
    assert sorted(values, key=counting) == out and [v.tag for v in out] == [1, 2, 3, 0]
    assert reads == log == [("get", tag, "a") for pair in pairs for tag in pair]


# ---- Field names equal but not identical --------------------------------------------------

def test_field_names_equal_but_not_identical():
    name = "".join(["na", "me"])  # equal to the literal "name", another object
    t = T.struct([(name, T.integer())])
    for builder, expected in [(cy_compare_for, -1), (cy_equal_for, False), (cy_is_for, False)]:
        f = builder(t)
        assert f({"name": 1}, {"name": 2}) == expected
        assert f({"".join(["n", "ame"]): 1}, {"name": 1}) in (0, True)


@pytest.mark.parametrize("builder", BUILDERS.values(), ids=BUILDERS)
def test_field_name_with_its_own_hash_is_hashed_on_every_read(builder):
    t = T.struct([(HashedName("a"), T.integer())])
    f = builder(t)
    x, y = {"a": 1}, {"a": 1}
    f(x, y)
    hashes = [entry for entry in log if entry[0] == "hash"]
    assert hashes == [("hash", "a")] * 2
    log.clear()
    f(x, y)
    assert [entry for entry in log if entry[0] == "hash"] == [("hash", "a")] * 2


def test_field_name_of_another_type_found_by_hash_and_equality():
    t = T.struct([(1, T.integer())])
    assert cy_compare_for(t)({1.0: 5}, {True: 6}) == -1
    assert cy_equal_for(t)({1.0: 5}, {1: 5}) is True


# ---- Arrays: item reads and lengths --------------------------------------------------------

def test_array_compare_reads_lengths_then_items_in_order():
    x, y = LoggedList("x", [1, 2, 3]), LoggedList("y", [1, 5])
    assert cy_compare_for(T.array(T.integer()))(x, y) == -1
    assert log == [("len", "x"), ("len", "y"), ("get", "x", 0), ("get", "y", 0),
                   ("get", "x", 1), ("get", "y", 1)]


def test_array_equality_reads_lengths_then_items_in_order():
    x, y = LoggedList("x", [1, 2]), LoggedList("y", [1, 3])
    assert cy_equal_for(T.array(T.integer()))(x, y) is False
    assert log == [("len", "x"), ("len", "y"), ("get", "x", 0), ("get", "y", 0),
                   ("get", "x", 1), ("get", "y", 1)]
    log.clear()
    assert cy_equal_for(T.array(T.integer()))(LoggedList("x", [1]), LoggedList("y", [1, 2])) is False
    assert log == [("len", "x"), ("len", "y")]


@pytest.mark.parametrize("make", [list, VornArray, tuple], ids=["list", "VornArray", "tuple"])
def test_arrays_without_python_code_compare_as_lists(make):
    c = cy_compare_for(T.array(T.integer()))
    e = cy_equal_for(T.array(T.integer()))
    assert (c(make([1, 2]), make([1, 2, 0])), c(make([2]), make([1, 5])), c(make([]), make([]))) == (-1, 1, 0)
    assert (e(make([1, 2]), make([1, 2])), e(make([1]), make([2]))) == (True, False)


# ---- Scalars inside composites: conversions and comparisons -------------------------------

def test_integers_that_are_not_ints_convert_through_int_each_time():
    t = T.array(T.integer())
    assert cy_compare_for(t)([IntLike(1), IntLike(2)], [IntLike(1), IntLike(3)]) == -1
    assert log == [("int", 1), ("int", 1), ("int", 2), ("int", 3)]


def test_int_subclasses_are_read_as_ints_without_their_methods():
    t = T.struct(a=T.integer())
    assert cy_compare_for(t)({"a": SubInt(1)}, {"a": SubInt(2)}) == -1
    out = sorted([SubInt(3), SubInt(-1)], key=cy_make_vorn_key(T.integer()))
    assert log == []
    assert [int.__int__(v) for v in out] == [-1, 3]


def test_integer_equality_asks_the_values_own_eq():
    t = T.struct(a=T.integer(), b=T.integer())
    assert cy_equal_for(t)({"a": SubInt(1), "b": 2}, {"a": 1, "b": 3}) is False
    assert log == [("eq", 1)]
    log.clear()
    assert cy_is_for(t)({"a": IntLike(1), "b": 2}, {"a": IntLike(1), "b": 2}) is True
    assert log == [("eq", 1)]


def test_floats_that_are_not_floats_convert_through_index():
    t = T.array(T.float_())
    assert cy_compare_for(t)([FloatLike(1)], [FloatLike(2)]) == -1
    assert cy_equal_for(t)([FloatLike(3)], [FloatLike(3)]) is True
    assert log == [("index", 1), ("index", 2), ("index", 3), ("index", 3)]


def test_float_subclasses_are_read_as_floats():
    t = T.struct(f=T.float_())
    assert cy_compare_for(t)({"f": SubFloat(1.0)}, {"f": SubFloat(2.0)}) == -1
    assert cy_equal_for(t)({"f": SubFloat(-0.0)}, {"f": SubFloat(0.0)}) is False
    assert log == []


def test_str_subclass_is_asked_by_its_own_comparisons():
    t = T.struct(s=T.string())
    assert cy_compare_for(t)({"s": SubStr("a")}, {"s": "a"}) == 0
    assert log == [("lt", "a"), ("gt", "a")]
    log.clear()
    # On the right, its reflected operations run first.
    assert cy_compare_for(t)({"s": "a"}, {"s": SubStr("b")}) == -1
    assert log == [("gt", "b")]
    log.clear()
    assert cy_equal_for(t)({"s": SubStr("a")}, {"s": "a"}) is True
    assert cy_is_for(t)({"s": SubStr("a")}, {"s": "b"}) is False
    assert log == [("eq", "a"), ("eq", "a")]
    with pytest.raises(TypeError, match="expected str, got SubStr"):
        sorted(["a", SubStr("b")], key=lambda v: CyVornKey(v, cy_compare_string))


class Truth:
    """A result object whose truth is Python code."""

    def __init__(self, value):
        self.value = value

    def __bool__(self):
        log.append(("bool", self.value))
        return self.value


class OddEq(int):
    def __eq__(self, other):
        return Truth(int(self) == int(other))

    __hash__ = int.__hash__


def test_truth_of_component_results_is_asked_once_per_field():
    t = T.struct(a=T.integer(), b=T.integer())
    assert cy_equal_for(t)({"a": OddEq(1), "b": OddEq(2)}, {"a": 1, "b": 2}) is True
    assert log == [("bool", True), ("bool", True)]


# ---- Variants: case names ------------------------------------------------------------------

def test_variant_case_names_compared_by_python_comparison():
    t = T.variant(a=T.integer(), b=T.integer())
    c = cy_compare_for(t)
    assert c({"type": SubStr("a"), "value": 1}, {"type": "a", "value": 2}) == -1
    # The case found by hash and equality with the name in the type.
    assert log == [("lt", "a"), ("gt", "a"), ("eq", "a")]
    log.clear()
    assert c({"type": SubStr("b"), "value": 1}, {"type": "a", "value": 2}) == 1
    assert log == [("lt", "b"), ("gt", "b")]


@pytest.mark.parametrize("builder", [cy_equal_for, cy_is_for], ids=["equal", "identity"])
def test_variant_case_names_compared_by_ne(builder):
    t = T.variant(a=T.integer(), b=T.integer())
    assert builder(t)({"type": SubStr("a"), "value": 1}, {"type": "a", "value": 1}) is True
    assert log[0] == ("ne", "a")


def test_variant_case_name_equal_but_not_identical():
    t = T.variant(none=T.null(), some=T.integer())
    tag = "".join(["so", "me"])
    assert cy_compare_for(t)({"type": tag, "value": 1}, {"type": "some", "value": 2}) == -1
    assert cy_equal_for(t)({"type": tag, "value": 1}, {"type": "some", "value": 1}) is True
    assert cy_compare_for(t)({"type": "none", "value": None}, {"type": tag, "value": 0}) == -1


def test_variant_read_from_dict_subclasses():
    t = T.variant(a=T.integer())
    assert cy_compare_for(t)(LoggedDict("x", type="a", value=1), LoggedDict("y", type="a", value=1)) == 0
    assert log == [("get", "x", "type"), ("get", "y", "type"), ("get", "x", "value"), ("get", "y", "value")]


# ---- Sets --------------------------------------------------------------------------------

def test_set_of_set_subclasses_iterates_each_side_as_sorted_does():
    assert cy_compare_for(T.set_(T.integer()))(LoggedSet("x", [3, 1]), LoggedSet("y", [1, 2])) == 1
    seen = log[:]
    log.clear()
    sorted(LoggedSet("x", [3, 1]))
    sorted(LoggedSet("y", [1, 2]))
    assert seen == log and ("iter", "x") in log


def test_set_elements_that_are_not_ints_convert_as_often_in_a_subclass():
    t = T.set_(T.integer())
    c = cy_compare_for(t)
    items = [IntLike(n) for n in (5, 3, 9, 1)]
    assert c(set(items[:3]), set(items[1:])) == 1
    plain = [entry for entry in log if entry[0] == "int"]
    log.clear()
    assert c(LoggedSet("x", items[:3]), LoggedSet("y", items[1:])) == 1
    assert [entry for entry in log if entry[0] == "int"] == plain


def test_set_equality_matches_by_membership_of_the_right_side():
    e = cy_equal_for(T.set_(T.integer()))
    assert e(LoggedSet("x", [1, 2]), LoggedSet("y", [2, 1])) is True
    assert log == [("len", "x"), ("len", "y"), ("iter", "x"), ("in", "y"), ("in", "y")]


@pytest.mark.parametrize("x, y, expected", [
    ({1, 2}, {1, 3}, -1), ({3, 1}, {1, 2}, 1), (frozenset({1}), {1, 2}, -1), (set(), frozenset(), 0),
    ({-2**63, 2**63 - 1}, {0}, -1), ({True, 2}, {1, 2}, 0)])
def test_sets_of_integers(x, y, expected):
    assert cy_compare_for(T.set_(T.integer()))(x, y) == expected


def test_set_of_integers_out_of_range_raises():
    with pytest.raises(OverflowError):
        cy_compare_for(T.set_(T.integer()))({2**63, 1}, {0, 1})


def test_set_of_strings_holding_a_str_subclass_asks_its_comparisons():
    assert cy_compare_for(T.set_(T.string()))({SubStr("b"), "a"}, {"a", "c"}) == -1
    assert log and set(log) <= {("lt", "b"), ("gt", "b")}


# ---- Dicts ---------------------------------------------------------------------------------

INT_DICT = T.dict_(T.integer(), T.integer())


def test_dict_keys_with_their_own_hash_are_hashed_by_each_lookup():
    e = cy_equal_for(INT_DICT)
    x, y = {IntLike(1): 10, IntLike(2): 20}, {1: 10, 2: 20}
    log.clear()
    assert e(x, y) is True
    # Membership, then the value read: each hashes the key of x and compares it with
    # the key found in y.
    assert [entry[0] for entry in log] == ["hash", "eq", "hash", "eq"] * 2


def test_dict_equality_reads_values_of_a_dict_subclass_by_subscription():
    e = cy_equal_for(INT_DICT)
    assert e({1: 10, 2: 20}, LoggedDict("y", {1: 10, 2: 20})) is True
    assert log == [("len", "y"), ("get", "y", 1), ("get", "y", 2)]


class Mutating:
    """An Integer whose conversion (or equality) runs `action` once."""

    def __init__(self, n, action):
        self.n, self.action = n, action

    def __int__(self):
        if self.action:
            action, self.action = self.action, None
            action()
        return self.n

    def __eq__(self, other):
        return int(self) == int(other)

    __hash__ = None


def test_dict_growing_during_its_comparison_raises():
    x = {1: 1, 2: 2}
    x[1] = Mutating(1, lambda: x.__setitem__(3, 3))
    with pytest.raises(RuntimeError, match="dictionary changed size during iteration"):
        cy_compare_for(INT_DICT)(x, {1: 1, 2: 2})
    y = {1: 1, 2: 2}
    x = {1: Mutating(1, lambda: y.__setitem__(3, 3)), 2: 2}
    with pytest.raises(RuntimeError, match="dictionary changed size during iteration"):
        cy_compare_for(INT_DICT)(x, y)


def test_dict_equality_with_left_dict_growing_raises():
    x = {1: 1, 2: 2}
    x[1] = Mutating(1, lambda: x.__setitem__(3, 3))
    with pytest.raises(RuntimeError, match="dictionary changed size during iteration"):
        cy_equal_for(INT_DICT)(x, {1: 1, 2: 2})


def test_dict_equality_sees_entries_removed_from_the_right_dict():
    y = {1: 1, 2: 2}
    x = {1: Mutating(1, lambda: y.pop(2)), 2: 2}
    assert cy_equal_for(INT_DICT)(x, y) is False


def test_dict_compare_sees_a_value_replaced_in_the_right_dict():
    y = {1: 1, 2: 2}
    x = {1: Mutating(1, lambda: y.__setitem__(2, 7)), 2: 2}
    assert cy_compare_for(INT_DICT)(x, y) == -1


@pytest.mark.parametrize("builder, expected", [(cy_compare_for, 0), (cy_equal_for, True), (cy_is_for, True)])
def test_struct_sees_fields_changed_by_an_earlier_field(builder, expected):
    y = {"a": 1, "b": 2}

    def reshuffle():  # same keys, new positions and a new value for b
        value = y.pop("a")
        y.pop("b")
        y["c"] = 0
        y["b"] = 9
        y["a"] = value
    x = {"a": Mutating(1, reshuffle), "b": 9}
    assert builder(PAIR)(x, y) == expected
    y = {"a": 1, "b": 2}
    x = {"a": Mutating(1, lambda: y.pop("b")), "b": 2}
    with pytest.raises(KeyError, match="'b'"):
        builder(PAIR)(x, y)


def test_struct_fields_read_again_after_a_dict_was_rebuilt():
    c = cy_compare_for(PAIR)
    x, y = {"a": 1, "b": 2}, {"a": 1, "b": 3}
    assert c(x, y) == -1
    for d in (x, y):
        saved = dict(d)
        d.clear()
        d["z"] = 0
        d.update(reversed(list(saved.items())))
    y["b"] = 1
    assert c(x, y) == 1
    del x["a"]
    with pytest.raises(KeyError, match="'a'"):
        c(x, y)


# ---- NaN and -0.0 inside composites ----------------------------------------------------------

F = T.float_()


@pytest.mark.parametrize("t, x, y, order, equal, identical", [
    (T.array(F), [nan], [float("nan")], 0, True, None),
    (T.array(F), [-0.0], [0.0], -1, False, None),
    (T.array(F), [1.0, nan], [1.0, 2.0], 1, False, None),
    (T.struct(f=F), {"f": nan}, {"f": float("nan")}, 0, True, True),
    (T.struct(f=F), {"f": 0.0}, {"f": -0.0}, 1, False, True),
    (T.struct(f=F, g=F), {"f": -0.0, "g": 1.0}, {"f": -0.0, "g": nan}, -1, False, False),
    (T.variant(v=F), {"type": "v", "value": nan}, {"type": "v", "value": 1e308}, 1, False, False),
    (T.dict_(T.string(), F), {"k": nan}, {"k": float("nan")}, 0, True, None),
    (T.dict_(T.string(), F), {"k": -0.0}, {"k": 0.0}, -1, False, None),
    # Set equality is membership: the same NaN object, and -0.0 == 0.0.
    (T.set_(F), {nan, -0.0}, {0.0, nan}, -1, True, None),
])
def test_nan_and_signed_zero_inside_composites(t, x, y, order, equal, identical):
    assert cy_compare_for(t)(x, y) == order
    assert cy_equal_for(t)(x, y) is equal
    if identical is not None:
        assert cy_is_for(t)(x, y) is identical


def test_sorting_structs_puts_nan_last_and_negative_zero_first():
    t = T.struct(f=F)
    values = [{"f": 1.0}, {"f": nan}, {"f": 0.0}, {"f": -0.0}, {"f": -1.0}]
    out = [v["f"] for v in sorted(values, key=cy_make_vorn_key(t))]
    assert out[:4] == [-1.0, -0.0, 0.0, 1.0] and math.copysign(1, out[1]) == -1 and math.isnan(out[4])


# ---- Cycles --------------------------------------------------------------------------------

LINKED = T.recursive("L", T.variant(nil=T.null(), cons=T.struct(head=T.integer(), tail=T.rec_ref("L"))))
TREE = T.recursive("N", T.struct(value=T.integer(), kids=T.array(T.rec_ref("N"))))


def ring(head):
    cell = {"type": "cons", "value": {"head": head, "tail": None}}
    cell["value"]["tail"] = cell
    return cell


def test_cyclic_lists_through_structs_only():
    # Equality records every Struct and Variant pair, so a cycle ends; the comparers
    # keep no record there, so they run into the recursion limit.
    assert cy_equal_for(LINKED)(ring(1), ring(1)) is True
    assert cy_equal_for(LINKED)(ring(1), ring(2)) is False
    with pytest.raises(RecursionError):
        cy_compare_for(LINKED)(ring(1), ring(1))


def test_cyclic_trees_through_arrays():
    def node(value):
        n = {"value": value, "kids": []}
        n["kids"].append(n)
        return n
    assert cy_compare_for(TREE)(node(1), node(1)) == 0
    assert cy_compare_for(TREE)(node(1), node(2)) == -1
    assert cy_equal_for(TREE)(node(1), node(1)) is True
    key = cy_make_vorn_key(TREE)
    assert [n["value"] for n in sorted([node(3), node(1), node(2)], key=key)] == [1, 2, 3]
