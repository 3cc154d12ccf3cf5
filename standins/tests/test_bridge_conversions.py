"""vorn._vornc_bridge conversions: type descriptors and Python values to runtime
handles and back for every kind, clear errors for values that do not fit their
type, and hostile input (deep, cyclic) refused without a crash."""
from __future__ import annotations

import datetime as dt
import math

import numpy as np
import pytest

from vorn import _vornc_bridge as bridge
from vorn.types import types as T
from vorn.types import values as V

pytestmark = pytest.mark.usefixtures("runtime_handles_balanced")

UTC = dt.timezone.utc
PERSON = T.struct(name=T.string(), age=T.integer())


def round_trip(t, value):
    return bridge.CValue(t, value).to_py()


def test_capsules_carry_their_signatures():
    capi = bridge.__pyx_capi__
    import ctypes
    get_name = ctypes.pythonapi.PyCapsule_GetName
    get_name.restype, get_name.argtypes = ctypes.c_char_p, [ctypes.py_object]
    assert {name: get_name(c).decode() for name, c in capi.items()} == {
        "py_type_to_c": "VornType *(PyObject *)",
        "py_value_to_c": "VornValue *(PyObject *, VornType *)",
        "c_value_to_py": "PyObject *(VornValue *, VornType *)",
        "_c_type_tag_to_py_type": "PyObject *(VornType *)",
    }


ALL_TYPES = [
    T.never(), T.null(), T.boolean(), T.integer(), T.float_(), T.string(), T.datetime(), T.blob(),
    T.vector(T.float_()), T.matrix(T.integer()), T.array(T.string()), T.set_(T.integer()),
    T.dict_(T.string(), T.array(T.integer())), T.ref(T.blob()), PERSON, T.struct(),
    T.variant(nil=T.null(), some=T.integer()),
    T.recursive("L", T.variant(nil=T.null(), cons=T.struct(head=T.integer(), tail=T.rec_ref("L")))),
    T.recursive(3, T.array(T.rec_ref(3))), T.recursive(-2**70, T.array(T.rec_ref(-2**70))),
    T.function([T.integer(), T.string()], T.boolean()), T.async_function([], T.null()),
]


@pytest.mark.parametrize("t", ALL_TYPES, ids=lambda t: t.type)
def test_type_round_trip(t):
    assert bridge.CType(t).to_py() == t


@pytest.mark.parametrize("t, error, message", [
    (object(), TypeError, "expected a Vorn type descriptor, got object"),
    (T.Type("Int"), TypeError, "unknown Vorn type kind 'Int'"),
    (T.Type(3), TypeError, "unknown Vorn type kind 3"),
    (T.struct([("a", T.integer()), ("a", T.string())]), ValueError, "Struct type has two members of the same name"),
    (T.struct([("a", 3)]), TypeError, "expected a Vorn type descriptor, got int"),
    (T.Type("Struct", [{"name": 1, "type": T.integer()}]), TypeError, "Struct member names must be str, got int"),
    (T.Type("Array", None), TypeError, "expected a Vorn type descriptor, got NoneType"),
    (T.Type("Dict", {"key": T.integer()}), KeyError, "value"),
    (T.recursive((1, 2), T.null()), TypeError, "Recursive scope id must be a str or an int, got tuple"),
    (T.recursive(True, T.null()), TypeError, "Recursive scope id must be a str or an int, got bool"),
])
def test_bad_type_descriptors(t, error, message):
    with pytest.raises(error) as e:
        bridge.CType(t)
    assert message in str(e.value)


def test_deep_and_cyclic_type_descriptors_raise_recursion_error():
    t = T.integer()
    for _ in range(100_000):
        t = T.array(t)
    with pytest.raises(RecursionError):
        bridge.CType(t)
    cyclic = T.Type("Array")
    cyclic.value = cyclic
    with pytest.raises(RecursionError):
        bridge.CType(cyclic)


VALUES = [
    (T.null(), None),
    (T.boolean(), True),
    (T.integer(), 2**63 - 1),
    (T.integer(), -2**63),
    (T.float_(), -0.0),
    (T.float_(), math.inf),
    (T.string(), "a\x00b\ud7ff\U0010ffff"),
    (T.datetime(), dt.datetime(2024, 5, 1, 12, 30, 0, 1, tzinfo=UTC)),
    (T.datetime(), dt.datetime(1, 1, 1, tzinfo=UTC)),
    (T.blob(), V.VornBlob(b"\x00\x01")),
    (T.vector(T.integer()), V.VornVector([1, 2])),
    (T.matrix(T.float_()), V.VornMatrix([[1.0, 2.0], [3.0, 4.0]])),
    (T.array(T.integer()), V.VornArray([1, 2, 3])),
    (T.set_(T.string()), V.VornSet(["a", "b"])),
    (T.dict_(T.integer(), T.string()), V.VornDict({1: "a", 2: "b"})),
    (PERSON, {"name": "Ada", "age": 36}),
    (T.variant(nil=T.null(), some=T.integer()), {"type": "some", "value": 5}),
    (T.recursive("L", T.array(T.rec_ref("L"))), V.VornArray([V.VornArray([]), V.VornArray([])])),
]


@pytest.mark.parametrize("t, value", VALUES, ids=lambda x: getattr(x, "type", None))
def test_value_round_trip(t, value):
    back = round_trip(t, value)
    assert back == value
    assert type(back) is type(value)


def test_values_come_back_as_the_value_classes():
    back = round_trip(T.struct(a=T.array(T.integer()), r=T.ref(T.integer()), s=T.set_(T.integer())),
                      {"a": [1], "r": V.VornRef(2), "s": {3}})
    assert type(back["a"]) is V.VornArray and type(back["s"]) is V.VornSet
    assert type(back["r"]) is V.VornRef and back["r"].value == 2


def test_datetimes_come_back_in_utc():
    paris = dt.timezone(dt.timedelta(hours=2))
    back = round_trip(T.datetime(), dt.datetime(2024, 5, 1, 14, 30, tzinfo=paris))
    assert back == dt.datetime(2024, 5, 1, 12, 30, tzinfo=UTC) and back.tzinfo is UTC


@pytest.mark.parametrize("t, value, expected", [
    (T.blob(), b"\x01\x02", V.VornBlob(b"\x01\x02")),
    (T.blob(), bytearray(b"x"), V.VornBlob(b"x")),
    (T.array(T.integer()), (1, 2), V.VornArray([1, 2])),
    (T.array(T.integer()), range(3), V.VornArray([0, 1, 2])),
    (T.set_(T.integer()), frozenset([4]), V.VornSet([4])),
    (T.dict_(T.string(), T.integer()), {"a": 1}, V.VornDict({"a": 1})),
    (T.vector(T.integer()), [1, 2], V.VornVector([1, 2])),
    (T.matrix(T.integer()), [[1, 2], [3, 4]], V.VornMatrix([[1, 2], [3, 4]])),
    (T.float_(), 3, 3.0),
    (T.integer(), True, 1),
    (T.integer(), np.int64(-5), -5),
    (T.variant(nil=T.null()), {"type": "nil"}, {"type": "nil", "value": None}),
])
def test_accepted_python_shapes(t, value, expected):
    assert round_trip(t, value) == expected


def test_numpy_matrices_and_vectors():
    m = round_trip(T.matrix(T.float_()), np.arange(6, dtype=np.float64).reshape(2, 3))
    assert (m.rows, m.cols) == (2, 3) and m.tolist() == [[0.0, 1.0, 2.0], [3.0, 4.0, 5.0]]
    m = round_trip(T.matrix(T.integer()), V.VornMatrix(np.zeros((0, 4), dtype=np.int64)))
    assert (m.rows, m.cols) == (0, 4)
    v = round_trip(T.vector(T.boolean()), V.VornVector(np.array([True, False])))
    assert list(v) == [True, False]


@pytest.mark.parametrize("t, value, error, message", [
    (T.integer(), "3", TypeError, "expected int for Integer, got str"),
    (T.integer(), 3.0, TypeError, "expected int for Integer, got float"),
    (T.integer(), 2**63, OverflowError, "outside the signed 64-bit range"),
    (T.integer(), -2**63 - 1, OverflowError, "outside the signed 64-bit range"),
    (T.float_(), "1.0", TypeError, "expected float for Float, got str"),
    (T.float_(), 2**1024, OverflowError, "too large"),
    (T.boolean(), 1, TypeError, "expected bool for Boolean, got int"),
    (T.null(), 0, TypeError, "expected None for Null, got int"),
    (T.never(), None, TypeError, "the Never type has no values"),
    (T.string(), b"x", TypeError, "expected str for String, got bytes"),
    (T.string(), "\ud800", UnicodeEncodeError, "surrogates not allowed"),
    (T.blob(), "x", TypeError, "expected a VornBlob or bytes for Blob, got str"),
    (T.datetime(), dt.datetime(2024, 1, 1), ValueError, "must be timezone-aware"),
    (T.datetime(), dt.date(2024, 1, 1), TypeError, "expected datetime.datetime for DateTime, got datetime.date"),
    (T.array(T.integer()), "abc", TypeError, "expected a list for Array, got str"),
    (T.array(T.integer()), {1: 2}, TypeError, "expected a list for Array, got dict"),
    (T.array(T.integer()), [1, "2"], TypeError, "expected int for Integer, got str"),
    (T.set_(T.integer()), "ab", TypeError, "expected a VornSet or set for Set, got str"),
    (T.dict_(T.string(), T.integer()), [("a", 1)], TypeError, "expected a dict or VornDict for Dict, got list"),
    (T.dict_(T.string(), T.integer()), {"a": "b"}, TypeError, "expected int for Integer, got str"),
    (T.ref(T.integer()), 3, TypeError, "expected a VornRef for Ref, got int"),
    (T.vector(T.integer()), "ab", TypeError, "expected a VornVector for Vector, got str"),
    (T.matrix(T.integer()), [[1, 2], [3]], ValueError, "Matrix rows differ in length"),
    (T.matrix(T.integer()), np.zeros(3), ValueError, "a Matrix needs a 2-dimensional array"),
    (PERSON, {"name": "Ada"}, ValueError, "Struct value is missing field 'age'"),
    (PERSON, {"name": "Ada", "age": 1, "extra": 2}, ValueError, "Struct value has field 'extra'"),
    (PERSON, ["Ada", 36], TypeError, "expected a dict for Struct, got list"),
    (T.variant(a=T.null()), {"type": "b", "value": None}, ValueError, "Variant type has no case 'b'"),
    (T.variant(a=T.null()), {"value": None}, ValueError, 'Variant value has no "type" key'),
    (T.variant(a=T.null()), {"type": 1}, TypeError, "Variant case name must be str, got int"),
    (T.variant(a=T.integer()), {"type": "a"}, TypeError, "expected int for Integer, got NoneType"),
    (T.array(T.rec_ref("X")), [1], TypeError, "Recursive reference to scope 'X' outside its wrapper"),
    (T.function([], T.null()), 3, TypeError, "expected a callable for a Function value, got int"),
])
def test_values_that_do_not_fit_their_type(t, value, error, message):
    with pytest.raises(error) as e:
        bridge.CValue(t, value)
    assert message in str(e.value)


class Hostile:
    """Every attribute lookup raises an error other than AttributeError."""

    def __getattr__(self, name):
        raise ValueError(f"hostile {name}")


@pytest.mark.parametrize("t, looked_up", [
    (T.vector(T.float_()), "tolist"),
    (T.matrix(T.float_()), "shape"),
    (T.dict_(T.string(), T.integer()), "items"),
])
def test_attribute_errors_of_values_pass_through_as_hasattr_passes_them(t, looked_up):
    # hasattr() hides only AttributeError: the value's own error is what the caller sees.
    with pytest.raises(ValueError, match=f"hostile {looked_up}"):
        bridge.CValue(t, Hostile())


def test_deep_values_raise_recursion_error():
    deep = []
    for _ in range(100_000):
        deep = [deep]
    with pytest.raises(RecursionError):
        bridge.CValue(T.recursive("L", T.array(T.rec_ref("L"))), deep)


@pytest.mark.parametrize("make", [
    lambda: (lambda a: (a.append(a), a)[1])([]),
    lambda: (lambda d: (d.__setitem__("self", d), d)[1])({}),
])
def test_cyclic_values_raise_recursion_error(make):
    cyclic = make()
    t = (T.recursive("L", T.array(T.rec_ref("L"))) if isinstance(cyclic, list)
         else T.recursive("D", T.dict_(T.string(), T.rec_ref("D"))))
    with pytest.raises(RecursionError):
        bridge.CValue(t, cyclic)


def test_recursive_type_without_progress_raises_recursion_error():
    with pytest.raises(RecursionError):
        bridge.CValue(T.recursive("L", T.rec_ref("L")), None)


def test_function_values_carry_the_callable():
    def f(x):
        return x
    t = T.struct(f=T.function([T.integer()], T.integer()))
    back = round_trip(t, {"f": f})
    assert back["f"] is f


def test_cvalue_stands_for_its_handle():
    inner = bridge.CValue(T.integer(), 7)
    outer = bridge.CValue(T.array(T.integer()), [1, inner])
    assert outer.to_py() == [1, 7]
    assert isinstance(inner._vorn_c_value, int) and inner.kind == "Integer"
    with pytest.raises(TypeError, match="CValue of type Integer does not fit type String"):
        bridge.CValue(T.string(), inner)


def test_cvalue_and_ctype_surface():
    v = bridge.CValue(py_type=PERSON, value={"name": "Ada", "age": 1})
    assert v.text() == '{name: "Ada", age: 1}'
    assert repr(v).startswith("<CValue Struct at 0x")
    t = bridge.CType(PERSON)
    assert str(t) == "Struct{name: String, age: Integer}" and t._vorn_c_type > 0
    with pytest.raises(TypeError):
        bridge.CValue(PERSON)
    with pytest.raises(TypeError):
        bridge.CType(PERSON, 1)


def test_mutation_during_conversion_does_not_crash():
    victim = [1, 2, 3]

    class Shrinking:
        def __index__(self):
            victim.clear()
            return 0

    victim.insert(0, Shrinking())
    assert round_trip(T.array(T.integer()), victim) == [0]
