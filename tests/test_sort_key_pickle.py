"""Pickling and copying of keys: __reduce__, __setstate__, __pyx_unpickle_CyVornKey
and the layout checksums."""
from __future__ import annotations

import copy
import pickle

import pytest

from vorn.types import types as T
from vorn.utils import _sortkit as sk
from vorn.utils._sortkit import CyVornKey, __pyx_unpickle_CyVornKey as unpickle, cy_make_vorn_key

c = sk.cy_compare_int  # a comparer pickle reaches by name


class Sub(CyVornKey):
    """A subclass without __slots__: its instances have a __dict__."""


def test_reduce_forms():
    fresh = CyVornKey.__new__(CyVornKey)
    assert fresh.__reduce__() == (unpickle, (CyVornKey, 230660886, (None, None)))
    k = CyVornKey(5, c)
    assert k.__reduce__() == (unpickle, (CyVornKey, 230660886, None), (c, 5))
    half = CyVornKey(None, c)
    assert half.__reduce__()[2] == (c, None)


def test_reduce_appends_a_non_empty_dict():
    s = Sub(1, c)
    assert s.__reduce__() == (unpickle, (Sub, 230660886, None), (c, 1))
    s.tag = "x"
    assert s.__reduce__() == (unpickle, (Sub, 230660886, None), (c, 1, {"tag": "x"}))
    copied = copy.copy(s)
    assert type(copied) is Sub and copied.tag == "x" and copied.value == 1


def test_reduce_looks_up_the_unpickler(monkeypatch):
    monkeypatch.delattr(sk, "__pyx_unpickle_CyVornKey")
    with pytest.raises(NameError, match="__pyx_unpickle_CyVornKey"):
        CyVornKey(1, c).__reduce__()


@pytest.mark.parametrize("make", [
    lambda: CyVornKey(5, c),
    lambda: CyVornKey([1, [2]], c),
    lambda: CyVornKey.__new__(CyVornKey),
    lambda: Sub("v", c),
])
@pytest.mark.parametrize("round_trip", [
    lambda k: pickle.loads(pickle.dumps(k)),
    lambda k: pickle.loads(pickle.dumps(k, protocol=0)),
    copy.copy,
    copy.deepcopy,
])
def test_round_trips(make, round_trip):
    k = make()
    k2 = round_trip(k)
    assert type(k2) is type(k) and k2 is not k
    assert k2.value == k.value and k2.__reduce__()[1:] == k.__reduce__()[1:]
    if round_trip is copy.deepcopy and isinstance(k.value, list):
        assert k2.value is not k.value
    if round_trip is copy.copy:
        assert k2.value is k.value


def test_key_with_a_built_comparer_cannot_be_pickled_but_copies():
    K = cy_make_vorn_key(T.integer())
    k = K(3)
    with pytest.raises((pickle.PicklingError, AttributeError)):
        pickle.dumps(k)
    k2 = copy.deepcopy(k)
    assert type(k2) is K and k2.value == 3 and (k2 < K(4)) is True


@pytest.mark.parametrize("checksum", [230660886, 0x7694639, 0x4d8273f])
def test_accepted_checksums(checksum):
    k = unpickle(CyVornKey, checksum, (c, 7))
    assert type(k) is CyVornKey and k.value == 7 and (k < CyVornKey(8, c)) is True
    assert unpickle(Sub, checksum, None).value is None


@pytest.mark.parametrize("checksum, shown", [(1, "0x1"), (0xabc, "0xabc"), (-1, "0x-1")])
def test_incompatible_checksum(checksum, shown):
    expected = (f"Incompatible checksums ({shown} vs (0xdbf9b16, 0x4d8273f, 0x7694639) = "
                "(_compare, value))")
    with pytest.raises(pickle.PickleError) as info:
        unpickle(CyVornKey, checksum, (c, 1))
    assert str(info.value) == expected


@pytest.mark.parametrize("args, error, match", [
    ((CyVornKey, 2**40, None), OverflowError, None),
    ((CyVornKey, "x", None), TypeError, "an integer is required"),
    ((CyVornKey, 230660886, [c, 1]), TypeError,
     r"^Argument '__pyx_state' has incorrect type \(expected tuple, got list\)$"),
    ((int, 230660886, None), TypeError, "not a subtype"),
    ((CyVornKey, 230660886, (c,)), IndexError, None),
    ((CyVornKey, 230660886, (c, 1, {"a": 1})), AttributeError, None),
])
def test_unpickle_errors(args, error, match):
    with pytest.raises(error, match=match):
        unpickle(*args)


def test_unpickle_argument_count():
    with pytest.raises(TypeError, match=r"takes exactly 3 positional arguments \(2 given\)"):
        unpickle(CyVornKey, 1)
    k = unpickle(__pyx_type=CyVornKey, __pyx_checksum=230660886, __pyx_state=(c, 2))
    assert k.value == 2


def test_setstate():
    k = CyVornKey(1, max)
    assert k.__setstate__((c, 2)) is None and k.value == 2 and (k < CyVornKey(3, c)) is True
    with pytest.raises(TypeError, match=r"^Expected tuple, got list$"):
        k.__setstate__([c, 3])
    with pytest.raises(TypeError, match="cannot pass None into a C function argument that is declared 'not None'"):
        k.__setstate__(None)
    with pytest.raises(IndexError):
        k.__setstate__((min,))
    assert k.__reduce__()[2] == (min, 2)  # the first assignment stays made
    k.__setstate__((c, 4, {}))  # a false third item is ignored
    with pytest.raises(AttributeError):
        k.__setstate__((c, 4, {"x": 1}))
    s = Sub(1, c)
    s.__setstate__((c, 5, {"x": 1}))
    assert s.x == 1 and s.value == 5
