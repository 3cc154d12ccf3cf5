"""The scalar orders: Boolean, Integer, Float and String comparison and Float equality."""
from __future__ import annotations

import math
import warnings

import pytest

from vorn.types import types as T
from vorn.utils import _sortkit as sk

nan, inf = math.nan, math.inf


class Truthy:
    def __init__(self, value):
        self.value = value

    def __bool__(self):
        return self.value


class Boom:
    def __bool__(self):
        raise ZeroDivisionError("no truth")


@pytest.mark.parametrize("x, y, expected", [
    (False, True, -1), (True, False, 1), (True, True, 0), (None, False, 0),
    ([1], 0, 1), ([], [0], -1), (Truthy(True), Truthy(False), 1), ("", "a", -1),
])
def test_compare_bool(x, y, expected):
    assert sk.cy_compare_bool(x, y) == expected


def test_compare_bool_propagates_truth_errors_and_checks_x_first():
    with pytest.raises(ZeroDivisionError):
        sk.cy_compare_bool(Boom(), True)
    with pytest.raises(ZeroDivisionError):
        sk.cy_compare_bool(True, Boom())


class IntLike:
    def __init__(self, value):
        self.value = value

    def __int__(self):
        return self.value


class IntSub(int):
    pass


@pytest.mark.parametrize("x, y, expected", [
    (-2**63, 2**63 - 1, -1), (1.9, 1, 0), (-1.9, -1, 0), (True, 0, 1), (IntLike(5), 4, 1),
    (IntSub(3), 3, 0), (7, 7, 0),
])
def test_compare_int(x, y, expected):
    assert sk.cy_compare_int(x, y) == expected


INT_DIGITS = [0, 1, -1, 2**30 - 1, 2**30, -(2**30), 2**60 - 1, 2**60, -(2**60), 2**62 + 2**31 + 5,
              -(2**62) - 3, 2**63 - 1, -(2**63) + 1, -(2**63)]


@pytest.mark.parametrize("x", INT_DIGITS)
def test_ints_of_one_to_three_digits_order_as_python_does(x):
    key = sk.cy_make_vorn_key(T.integer())
    for y in INT_DIGITS:
        expected = (x > y) - (x < y)
        assert sk.cy_compare_int(x, y) == expected
        assert (key(x) < key(y), key(x) == key(y)) == (expected < 0, expected == 0)


@pytest.mark.parametrize("x, y, error, message", [
    (2**63, 0, OverflowError, None),
    (0, -2**63 - 1, OverflowError, None),
    ("1", 2, TypeError, "an integer is required"),
    (None, 2, TypeError, "an integer is required"),
    (IntLike("3"), 2, TypeError, "__int__ returned non-int (type str)"),
    (1, IntLike(1.5), TypeError, "__int__ returned non-int (type float)"),
])
def test_compare_int_errors(x, y, error, message):
    with pytest.raises(error) as info:
        sk.cy_compare_int(x, y)
    if message:
        assert str(info.value) == message


def test_compare_int_strict_subclass_from_int_warns():
    with pytest.warns(DeprecationWarning) as record:
        assert sk.cy_compare_int(IntLike(IntSub(4)), 3) == 1
    assert str(record[0].message) == (
        "__int__ returned non-int (type IntSub).  The ability to return an instance of a strict "
        "subclass of int is deprecated, and may be removed in a future version of Python.")
    with warnings.catch_warnings():
        warnings.simplefilter("error", DeprecationWarning)
        with pytest.raises(DeprecationWarning):
            sk.cy_compare_int(IntLike(IntSub(4)), 3)


def test_compare_int_converts_y_only_after_x():
    calls = []

    class Spy:
        def __init__(self, name, value):
            self.name, self.value = name, value

        def __int__(self):
            calls.append(self.name)
            return self.value

    with pytest.raises(TypeError):
        sk.cy_compare_int("bad", Spy("y", 1))
    assert calls == []
    sk.cy_compare_int(Spy("x", 1), Spy("y", 2))
    assert calls == ["x", "y"]


class FloatLike:
    def __float__(self):
        return 2.5


class IndexLike:
    def __index__(self):
        return 3


@pytest.mark.parametrize("x, y, expected", [
    (nan, nan, 0), (nan, inf, 1), (-inf, nan, -1), (-0.0, 0.0, -1), (0.0, -0.0, 1),
    (-0.0, -0.0, 0), (1, 2.5, -1), (inf, 1e308, 1), (FloatLike(), 2.5, 0), (IndexLike(), 2.9, 1),
    (-nan, nan, 0), (nan, -inf, 1),
])
def test_compare_float(x, y, expected):
    assert sk.cy_compare_float(x, y) == expected


@pytest.mark.parametrize("x, y, expected", [
    (nan, nan, True), (0.0, -0.0, False), (-0.0, -0.0, True), (1, 1.0, True), (nan, 1.0, False),
    (1.0, nan, False), (inf, inf, True), (FloatLike(), 2.5, True),
])
def test_equal_float(x, y, expected):
    assert sk.cy_equal_float(x, y) is expected


@pytest.mark.parametrize("fn", [sk.cy_compare_float, sk.cy_equal_float])
@pytest.mark.parametrize("x, y, error", [("1.0", 1.0, TypeError), (1.0, None, TypeError),
                                         (10**400, 1.0, OverflowError)])
def test_float_conversion_errors(fn, x, y, error):
    with pytest.raises(error):
        fn(x, y)


@pytest.mark.parametrize("x, y, expected", [
    ("abc", "abd", -1), ("ab", "a", 1), ("a", "a", 0), ("z", "\u00e9", -1), ("", "a", -1),
    ("\U0001f600", "\uffff", 1),
])
def test_compare_string(x, y, expected):
    assert sk.cy_compare_string(x, y) == expected


class StrSub(str):
    pass


@pytest.mark.parametrize("x, y, message", [
    (1, "a", "Argument 'x' has incorrect type (expected str, got int)"),
    ("a", b"a", "Argument 'y' has incorrect type (expected str, got bytes)"),
    (StrSub("a"), "a", "Argument 'x' has incorrect type (expected str, got StrSub)"),
    (1, 2, "Argument 'x' has incorrect type (expected str, got int)"),
])
def test_compare_string_type_check(x, y, message):
    with pytest.raises(TypeError) as info:
        sk.cy_compare_string(x, y)
    assert str(info.value) == message


def test_compare_string_none_fails_in_comparison():
    with pytest.raises(TypeError, match="'<' not supported"):
        sk.cy_compare_string(None, "a")


@pytest.mark.parametrize("fn", [sk.cy_compare_bool, sk.cy_compare_int, sk.cy_compare_float,
                                sk.cy_compare_string, sk.cy_equal_float])
def test_keywords_and_results_are_small_ints(fn):
    a, b = ("a", "b") if fn is sk.cy_compare_string else (1, 2)
    assert fn(y=b, x=a) == fn(a, b) == fn(a, y=b)
    result = fn(a, b)
    if fn is not sk.cy_equal_float:
        assert type(result) is int and result is result + 0  # the cached small int
