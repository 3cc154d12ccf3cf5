"""Leak checks of every public entry point of the ordering module, the text codec and
the bridge conversions, on their success paths and on every kind of failure: build
errors, comparison errors, pickling errors, parse failures and conversion errors.
Each case runs many times; allocated blocks, live runtime handles and the reference
counts of the objects it is given must not grow on every run."""
from __future__ import annotations

import copy
import ctypes
import datetime as dt
import pickle
import sys
import warnings

import pytest

from leakcheck import assert_no_leaks, settle
from strategies import Hostile
from vorn import _vornc_bridge as bridge
from vorn.serialization import _textcodec as tc
from vorn.types import types as T
from vorn.types import values as V
from vorn.utils import _sortkit as sk

UTC = dt.timezone.utc
I = T.integer()

# One Struct holding every kind that has values, and two values of it that differ
# only in the last field, so that a comparison walks all the others.
EVERY_KIND = T.struct(
    n=T.null(), b=T.boolean(), i=I, f=T.float_(), s=T.string(), d=T.datetime(), bl=T.blob(),
    vec=T.vector(T.float_()), mat=T.matrix(I), arr=T.array(T.string()), set=T.set_(I),
    dic=T.dict_(T.string(), T.array(I)), ref=T.ref(T.float_()),
    var=T.variant(none=T.null(), some=I),
    lst=T.recursive("L", T.variant(nil=T.null(), cons=T.struct(head=I, tail=T.rec_ref("L")))),
    fn=T.function([I], I), last=I)


def every_kind_value(last):
    nil = {"type": "nil", "value": None}
    return {
        "n": None, "b": True, "i": -2**40, "f": float("nan"), "s": "é\u4e00", "d": dt.datetime(2020, 1, 2, tzinfo=UTC),
        "bl": V.VornBlob(b"\x00\xff"), "vec": V.VornVector([1.5, -0.0]), "mat": V.VornMatrix([[1, 2], [3, 4]]),
        "arr": V.VornArray(["a", "b"]), "set": V.VornSet([3, 1]), "dic": V.VornDict({"k": V.VornArray([1])}),
        "ref": V.VornRef(2.5), "var": {"type": "some", "value": 7},
        "lst": {"type": "cons", "value": {"head": 1, "tail": {"type": "cons", "value": {"head": 2, "tail": nil}}}},
        "fn": len, "last": last,
    }


X, Y = every_kind_value(1), every_kind_value(2)
LIST = EVERY_KIND.value[14]["type"]
WITHOUT_FUNCTION = T.Type("Struct", EVERY_KIND.value[:-2])  # no fn, no last
X_WITHOUT_FUNCTION = {k: v for k, v in X.items() if k not in ("fn", "last")}


def cyclic_array():
    a = V.VornArray()
    a.append(a)
    return a


class Interrupting:
    """A value whose every comparison is interrupted."""

    def __lt__(self, other):
        raise KeyboardInterrupt

    __gt__ = __eq__ = __lt__
    __hash__ = object.__hash__


def case(fn, *args, expect=()):
    return pytest.param(fn, args, expect, id=f"{getattr(fn, '__name__', 'call')}-{len(args)}")


def built(builder, t, *values):
    """builder(t)(*values): a build and one call of what it made."""
    return builder(t)(*values)


def keyed(t, *values):
    key = sk.cy_make_vorn_key(t)
    return sorted(values, key=key), key(values[0]) == key(values[-1])


def set_keys():
    # Elements made anew each time: a reference a key kept to one would keep its block.
    key = sk.cy_make_vorn_key(T.set_(I))
    big = 2**40
    k = key({big + i for i in range(4)})
    k.__init__({big - 1})  # rebound: the elements read before are let go
    return sorted([{big + i for i in range(3)}, frozenset({big + 7}), {big * 3}], key=key), k


def key_against(other):
    return sk.CyVornKey(1, sk.cy_compare_int) < other


def pickled_key(key):
    return pickle.loads(pickle.dumps(key)), copy.deepcopy(key), copy.copy(key)


class TaggedKey(sk.CyVornKey):
    """A key subclass with an instance dict, pickled with a third state item."""


TAGGED = TaggedKey(3, sk.cy_compare_int)
TAGGED.tag = "x"


def cvalue(t, value):
    return bridge.CValue(t, value).to_py()


def ctype(t):
    return bridge.CType(t).to_py()


BROKEN_DESCRIPTORS = [
    (T.Type("Foo"), RuntimeError),
    (T.rec_ref("nowhere"), ValueError),
    (Hostile(), ValueError),
    (T.Type("Struct", 5), TypeError),
    (T.Type("Variant", [{"name": "a"}]), KeyError),
    (T.Type("Dict", {"key": I}), KeyError),
    (T.recursive("R", T.Type("Foo")), RuntimeError),
    (T.recursive("R", T.struct(a=T.rec_ref("R"), b=T.Type("Struct", 5))), TypeError),
    (T.Type("Recursive", T.RecursivePayload("wrapper", {"id": "R"})), KeyError),
    (T.Type("Recursive", T.RecursivePayload("wrapper", {"id": [], "inner": I})), TypeError),
    (T.recursive(1, T.struct(s=T.set_(T.rec_ref(1)))), ValueError),  # Set keys build without the context
]


@pytest.mark.parametrize("fn, args, expect", [
    # Scalar orders, with each conversion error.
    case(sk.cy_compare_bool, True, None),
    case(sk.cy_compare_bool, Hostile(), 1, expect=ValueError),
    case(sk.cy_compare_int, 2**40, -3),
    case(sk.cy_compare_int, 2**63, 0, expect=OverflowError),
    case(sk.cy_compare_int, "1", 2, expect=TypeError),
    case(sk.cy_compare_float, float("nan"), 1),
    case(sk.cy_compare_float, 2**2000, 1.0, expect=OverflowError),
    case(sk.cy_compare_float, "x", 1.0, expect=TypeError),
    case(sk.cy_compare_string, "a", "ab"),
    case(sk.cy_compare_string, None, "a", expect=TypeError),
    case(sk.cy_compare_string, b"a", "a", expect=TypeError),
    case(sk.cy_equal_float, -0.0, 0.0),
    case(sk.cy_equal_float, 1.0, [], expect=TypeError),
    case(lambda: sk.cy_compare_int(1), expect=TypeError),
    case(lambda: sk.cy_compare_for(I, None, 3), expect=TypeError),
    case(lambda: sk.cy_equal_for(type_val=I, ctx={}), expect=TypeError),
    # Builds and calls of every kind.
    *[case(built, builder, EVERY_KIND, X, Y) for builder in (sk.cy_compare_for, sk.cy_equal_for)],
    case(built, sk.cy_is_for, WITHOUT_FUNCTION, X, Y),  # extra fields are not read
    case(built, sk.cy_compare_for, T.recursive("A", T.array(T.rec_ref("A"))), cyclic_array(), cyclic_array()),
    case(built, sk.cy_equal_for, T.recursive("A", T.array(T.rec_ref("A"))), cyclic_array(), cyclic_array()),
    case(sk.cy_compare_for, LIST, {"L": len}),
    # Build errors, of every builder; the type context is restored on each.
    *[case(builder, t, {"R": len}, expect=error) for t, error in BROKEN_DESCRIPTORS
      for builder in (sk.cy_compare_for, sk.cy_equal_for, sk.cy_is_for)],
    case(sk.cy_is_for, T.function(), expect=RuntimeError),
    case(sk.cy_compare_for, T.recursive("R", I), 5, expect=(AttributeError, TypeError)),
    # Comparison errors.
    *[case(built, builder, T.struct(a=I, b=I), {"a": 1, "b": 2}, {"a": 1}, expect=KeyError)
      for builder in (sk.cy_compare_for, sk.cy_equal_for, sk.cy_is_for)],
    *[case(built, builder, LIST, {"type": "nil", "value": None}, {"type": "nil"}, expect=KeyError)
      for builder in (sk.cy_compare_for, sk.cy_equal_for, sk.cy_is_for)],
    case(built, sk.cy_compare_for, LIST, {"type": "odd", "value": 1}, {"type": "odd", "value": 1}, expect=KeyError),
    *[case(built, builder, T.array(T.never()), [1], [2], expect=RuntimeError)
      for builder in (sk.cy_compare_for, sk.cy_equal_for)],
    case(built, sk.cy_compare_for, T.array(I), [1, 2, 3], [1, 2, "x"], expect=TypeError),
    case(built, sk.cy_equal_for, T.array(T.float_()), [1.0, 2.0], [1.0, "x"], expect=TypeError),
    case(built, sk.cy_compare_for, T.dict_(I, I), V.VornDict({1: 2}), {1: 2, 3: 4}.keys(), expect=AttributeError),
    case(built, sk.cy_compare_for, T.set_(I), V.VornSet([1, 2]), [Hostile(), 1], expect=ValueError),
    case(built, sk.cy_compare_for, T.array(T.string()), [Interrupting()], [Interrupting()], expect=KeyboardInterrupt),
    case(built, sk.cy_equal_for, T.set_(T.string()), [Interrupting()], [Interrupting()], expect=KeyboardInterrupt),
    *[case(built, builder, T.matrix(I), V.VornMatrix([[1]]), [[1]], expect=AttributeError)
      for builder in (sk.cy_compare_for, sk.cy_equal_for)],
    *[case(built, builder, T.blob(), Hostile(), b"", expect=ValueError)
      for builder in (sk.cy_compare_for, sk.cy_equal_for, sk.cy_is_for)],
    *[case(built, builder, T.datetime(), 1.5, 2.5, expect=AttributeError)
      for builder in (sk.cy_compare_for, sk.cy_is_for)],
    case(built, sk.cy_compare_for, T.ref(I), V.VornRef(1), 5, expect=AttributeError),
    case(built, sk.cy_equal_for, T.ref(I), V.VornRef(1), V.VornRef("x"), expect=()),
    # Keys, their comparisons, hashing and pickling.
    case(keyed, EVERY_KIND, X, Y, X),
    case(keyed, T.array(I), [1], ["x"], expect=TypeError),
    case(set_keys),
    case(sk.cy_make_vorn_key, T.rec_ref(1), expect=ValueError),
    case(key_against, 5, expect=TypeError),
    case(key_against, None, expect=TypeError),
    case(lambda: hash(sk.CyVornKey([1], sk.cy_compare_int)), expect=TypeError),
    case(lambda: sk.CyVornKey(1), expect=TypeError),
    case(lambda: sk.CyVornKey(value=1, compare_fn=len, other=2), expect=TypeError),
    case(pickled_key, sk.CyVornKey(3, sk.cy_compare_int)),
    case(pickled_key, TAGGED),
    case(pickled_key, sk.cy_make_vorn_key(I)(3), expect=(pickle.PicklingError, AttributeError)),
    case(lambda k: k.__setstate__([len, 1]), sk.CyVornKey(1, len), expect=TypeError),
    case(lambda k: k.__setstate__(None), sk.CyVornKey(1, len), expect=TypeError),
    case(lambda k: k.__setstate__((len,)), sk.CyVornKey(1, len), expect=IndexError),
    case(lambda k: k.__setstate__((len, 1, {"a": 1})), sk.CyVornKey(1, len), expect=AttributeError),
    case(sk.__pyx_unpickle_CyVornKey, sk.CyVornKey, 0x4d8273f, (len, 1)),
    case(sk.__pyx_unpickle_CyVornKey, TaggedKey, 0xdbf9b16, (len, 1, {"tag": 2})),
    case(sk.__pyx_unpickle_CyVornKey, sk.CyVornKey, 1, None, expect=pickle.PickleError),
    case(sk.__pyx_unpickle_CyVornKey, sk.CyVornKey, 2**40, None, expect=OverflowError),
    case(sk.__pyx_unpickle_CyVornKey, int, 0xdbf9b16, None, expect=TypeError),
    case(sk.__pyx_unpickle_CyVornKey, sk.CyVornKey, 0xdbf9b16, [len, 1], expect=TypeError),
    # Text codec paths the codec's own tests leave out.
    case(tc._print_type, EVERY_KIND),
    case(tc._print_value, WITHOUT_FUNCTION, X_WITHOUT_FUNCTION),
    case(lambda: tc._parse_value(T.array(LIST), tc._print_value(T.array(LIST), [X["lst"]] * 3))),
    case(tc._parse_value, T.array(LIST), "[cons({head: 1, tail: cons({head: 2, tail: nil})}), cons({head: 1})]",
         expect=ValueError),
    case(tc._print_value, T.array(LIST), [X["lst"], {"type": "cons", "value": {"head": 1}}], expect=ValueError),
    case(tc._print_type, Hostile(), expect=ValueError),
    # Bridge conversions, with failures deep inside partly converted values.
    case(ctype, EVERY_KIND),
    case(cvalue, EVERY_KIND, X),
    case(cvalue, EVERY_KIND, every_kind_value("x"), expect=TypeError),
    case(cvalue, T.array(LIST), [X["lst"]] * 20 + [{"type": "cons", "value": {"head": 2**64, "tail": None}}],
         expect=OverflowError),
    case(cvalue, T.dict_(T.string(), T.array(I)), {"a": [1], "b": [2, "x"]}, expect=TypeError),
    case(cvalue, T.struct(a=I), {"a": 1, "b": 2}, expect=ValueError),
    case(cvalue, T.variant(a=I), {"type": "b", "value": 1}, expect=ValueError),
    case(cvalue, T.array(T.string()), ["a", Interrupting()], expect=TypeError),
    case(cvalue, T.recursive("A", T.array(T.rec_ref("A"))), cyclic_array(), expect=RecursionError),
    case(ctype, T.struct([("a", I), ("a", T.string())]), expect=ValueError),
    case(ctype, T.array(T.Type("Bogus")), expect=TypeError),
    case(lambda: bridge.CValue(I, bridge.CValue(T.string(), "x")), expect=TypeError),
])
def test_no_leaks(fn, args, expect):
    assert_no_leaks(lambda: fn(*args), expect=expect, watch=args)


KEPT = []
TARGET = T.integer()  # what the third case leaks references to


COUNTS_BLOCKS = pytest.mark.skipif(sys.getallocatedblocks() == 0,
                                   reason="the allocator in use (PYTHONMALLOC=malloc) counts no blocks")


@pytest.mark.parametrize("leaky, watch", [
    pytest.param(lambda: KEPT.append([0]), (), marks=COUNTS_BLOCKS),  # allocated blocks
    (lambda: KEPT.append(bridge.CType(I)), ()),                        # runtime handles (and blocks)
    (lambda: ctypes.pythonapi.Py_IncRef(ctypes.py_object(TARGET)), (TARGET,)),  # references only
])
def test_the_check_sees_a_leak(leaky, watch):
    with pytest.raises(AssertionError, match="leak suspected"):
        assert_no_leaks(leaky, watch=watch)
    KEPT.clear()


def test_a_warning_on_every_call_is_shown_once_and_no_leak():
    # pytest keeps each deprecation warning it is shown, so the check shows the case's
    # once, and gives none of its own (3.14 deprecates sys._clear_type_cache).
    with warnings.catch_warnings(record=True) as shown:
        warnings.simplefilter("error")
        settle()
        assert_no_leaks(lambda: warnings.warn("given on every call", DeprecationWarning))
    assert [str(w.message) for w in shown] == ["given on every call"]
