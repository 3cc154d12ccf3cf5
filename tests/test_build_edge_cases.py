"""Builds observed from the inside: functions reached while half-built, and the order
in which descriptors and values are read where errors make it visible."""
from __future__ import annotations

import gc

import pytest

from vorn.types import types as T
from vorn.utils import _sortkit as sk


@pytest.mark.parametrize("builder, qualname, outer, value", [
    (sk.cy_compare_for, "cy_compare_for.<locals>.compare_struct",
     lambda last: T.struct(a=T.integer(), b=last), {"a": 1, "b": 1}),
    (sk.cy_compare_for, "cy_compare_for.<locals>.compare_array", T.array, [1]),
    (sk.cy_compare_for, "cy_compare_for.<locals>.compare_ref", T.ref, None),
    (sk.cy_compare_for, "cy_compare_for.<locals>.compare_dict",
     lambda last: T.dict_(T.string(), last), {}),
    (sk.cy_equal_for, "cy_equal_for.<locals>.equal_struct",
     lambda last: T.struct(a=T.integer(), b=last), {"a": 1, "b": 1}),
])
def test_function_called_during_its_own_build_raises_or_answers(monkeypatch, builder, qualname,
                                                                outer, value):
    last = T.integer()
    original = sk.is_never_type
    outcomes = []

    def spy(t):
        if t is last:
            for o in gc.get_objects():
                if type(o) is type(sk.cy_compare_int) and o.__qualname__ == qualname:
                    try:
                        outcomes.append(o(value, value))
                    except Exception as e:  # any exception will do; a crash would not
                        outcomes.append(type(e))
        return original(t)

    monkeypatch.setattr(sk, "is_never_type", spy)
    builder(outer(last))
    assert outcomes


def test_identity_variant_reads_the_case_type_before_its_name():
    with pytest.raises(KeyError) as info:
        sk.cy_is_for(T.Type("Variant", [{}]))
    assert info.value.args == ("type",)
    with pytest.raises(KeyError) as info:
        sk.cy_equal_for(T.Type("Variant", [{}]))
    assert info.value.args == ("name",)


class Id:
    def __str__(self):
        return "S"

    def __format__(self, spec):
        return "F"

    def __hash__(self):
        return 1


@pytest.mark.parametrize("builder, text", [(sk.cy_compare_for, "F"), (sk.cy_equal_for, "F"),
                                           (sk.cy_is_for, "S")])
def test_ids_and_kinds_in_build_errors(builder, text):
    name = builder.__name__
    with pytest.raises(ValueError) as info:
        builder(T.Type("Recursive", T.RecursivePayload("ref", Id())))
    assert str(info.value) == f"{name}: unresolved Recursive ref({text})"
    with pytest.raises(RuntimeError) as info:
        builder(T.Type(Id()))
    assert str(info.value) == f"Unknown type encountered during type printing: {text}"


class NoLen:
    pass


class Holder:
    def __init__(self, data):
        self._data = data


def test_vector_takes_the_first_length_before_reading_the_second_value():
    with pytest.raises(TypeError, match="has no len"):
        sk.cy_compare_for(T.vector(T.integer()))(Holder(NoLen()), object())


class Keyed(sk.CyVornKey):
    pass


def test_setstate_merges_pairs_and_takes_its_keyword():
    k = Keyed(1, sk.cy_compare_int)
    k.__setstate__((sk.cy_compare_int, 2, [("a", 1)]))
    assert (k.value, k.a) == (2, 1)
    k.__setstate__(__pyx_state=(sk.cy_compare_int, 3))
    assert k.value == 3


@pytest.mark.parametrize("builder, qualname", [
    (sk.cy_compare_for, "cy_compare_for.<locals>.compare_struct"),
    (sk.cy_equal_for, "cy_equal_for.<locals>.equal_struct"),
    (sk.cy_is_for, "cy_is_for.<locals>.is_struct"),
])
def test_field_list_damaged_during_its_build_raises(monkeypatch, builder, qualname):
    # The half-built Struct function's field list is reachable through the collector;
    # an entry that is no (name, function) pair is refused, never read blindly.
    last = T.integer()
    original = sk.is_never_type
    outcomes = []

    def spy(t):
        if t is last:
            for o in gc.get_objects():
                lists = [r for r in gc.get_referents(o) if type(r) is list]
                if type(o) is type(sk.cy_compare_int) and o.__qualname__ == qualname and lists:
                    lists[0].append(5)
                    with pytest.raises(TypeError, match="field entry"):
                        o({"a": 1, "b": 1}, {"a": 1, "b": 1})
                    outcomes.append(o)
        return original(t)

    monkeypatch.setattr(sk, "is_never_type", spy)
    with pytest.raises(TypeError, match="field entry"):
        builder(T.struct(a=T.integer(), b=last))
    assert outcomes


def _clear(obj):
    """Runs the collector's clear step on `obj`, as it does for an object of a cycle
    that something else still reaches while the cycle is torn down."""
    import ctypes
    tp_clear = ctypes.c_void_p.from_address(id(type(obj)) + 24 * ctypes.sizeof(ctypes.c_void_p)).value
    assert tp_clear
    ctypes.PYFUNCTYPE(ctypes.c_int, ctypes.py_object)(tp_clear)(obj)


@pytest.mark.parametrize("make", [lambda cls: cls(5), lambda cls: cls.__init__(cls.__new__(cls), 5)],
                         ids=["call", "__init__"])
def test_key_class_whose_init_was_cleared_raises(make):
    cls = sk.cy_make_vorn_key(T.integer())
    _clear(cls.__dict__["__init__"])
    with pytest.raises(RuntimeError, match="cleared"):
        make(cls)
