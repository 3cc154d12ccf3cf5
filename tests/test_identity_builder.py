"""cy_is_for: the identity functions it returns, by kind, and its build errors."""
from __future__ import annotations

import datetime as dt
import math

import pytest

from vorn.types import types as T
from vorn.types.values import VornArray, VornBlob, VornDict, VornMatrix, VornRef, VornSet, VornVector
from vorn.utils import _sortkit as sk

nan = math.nan
LOCALS = "cy_is_for.<locals>."

SURFACE = [
    (T.never(), "is_never", "is_never", "_x, _y, _ctx"),
    (T.null(), "lambda10", "<lambda>", "_x, _y, _ctx"),
    (T.boolean(), "lambda11", "<lambda>", "x, y, _ctx"),
    (T.integer(), "lambda12", "<lambda>", "x, y, _ctx"),
    (T.float_(), "is_float", "is_float", "x, y, _ctx"),
    (T.string(), "lambda13", "<lambda>", "x, y, _ctx"),
    (T.datetime(), "lambda14", "<lambda>", "x, y, _ctx"),
    (T.blob(), "is_blob", "is_blob", "x, y, _ctx"),
    (T.vector(T.integer()), "lambda16", "<lambda>", "x, y, _ctx"),
    (T.matrix(T.integer()), "lambda17", "<lambda>", "x, y, _ctx"),
    (T.array(T.integer()), "lambda18", "<lambda>", "x, y, _ctx"),
    (T.set_(T.integer()), "lambda19", "<lambda>", "x, y, _ctx"),
    (T.dict_(T.integer(), T.integer()), "lambda20", "<lambda>", "x, y, _ctx"),
    (T.ref(T.integer()), "lambda21", "<lambda>", "x, y, _ctx"),
    (T.struct(a=T.integer()), "is_struct", "is_struct", "x, y, ctx"),
    (T.variant(a=T.integer()), "is_variant", "is_variant", "x, y, ctx"),
]


@pytest.mark.parametrize("t, name, qual, params", SURFACE, ids=lambda v: getattr(v, "type", None))
def test_function_surface(t, name, qual, params):
    f = sk.cy_is_for(t)
    assert (f.__name__, f.__qualname__, f.__module__) == (name, LOCALS + qual, "vorn.utils._sortkit")
    assert f.__doc__ is None and f.__defaults__ == (None,)
    assert f.__text_signature__ == "(" + params + "=None)"
    assert sk.cy_is_for(t) is not f
    with pytest.raises(TypeError, match=rf"^{name}\(\) takes at least 2 positional arguments \(1 given\)$"):
        f(1)


def test_builder_surface_and_errors():
    assert sk.cy_is_for.__doc__ == ("Create an identity comparer for a given type.\n\n"
                                    "    type_ctx maps recursive scope ids to their comparers.\n    ")
    with pytest.raises(TypeError):
        sk.cy_is_for()
    with pytest.raises(TypeError):
        sk.cy_is_for(T.null(), None, 1)
    with pytest.raises(RuntimeError, match=r"^Attempted to compare values of type \.Function$"):
        sk.cy_is_for(T.function())
    # is_async_function_type is never asked, so AsyncFunction is an unknown kind here.
    with pytest.raises(RuntimeError, match="^Unknown type encountered during type printing: AsyncFunction$"):
        sk.cy_is_for(T.async_function())
    with pytest.raises(RuntimeError, match=r"^Attempted to compare values of type \.Never$"):
        sk.cy_is_for(T.never())(1, 1)


UTC = dt.timezone.utc
CONTAINERS = [
    (T.vector(T.integer()), lambda: VornVector([1])),
    (T.matrix(T.integer()), lambda: VornMatrix([[1]])),
    (T.array(T.integer()), lambda: VornArray([1])),
    (T.set_(T.integer()), lambda: VornSet([1])),
    (T.dict_(T.integer(), T.integer()), lambda: VornDict([(1, 1)])),
    (T.ref(T.integer()), lambda: VornRef(1)),
]


@pytest.mark.parametrize("t, make", CONTAINERS, ids=lambda v: getattr(v, "type", None))
def test_containers_are_identical_only_to_themselves(t, make):
    f = sk.cy_is_for(t)
    v = make()
    assert f(v, v) is True
    assert f(v, make()) is False


@pytest.mark.parametrize("t, x, y, expected", [
    (T.null(), 1, "a", True),
    (T.float_(), nan, nan, True),
    (T.float_(), nan, 1.0, False),
    (T.float_(), 1.0, nan, False),
    (T.float_(), 0.0, -0.0, True),
    (T.float_(), 1, 1.0, True),
    (T.integer(), 3, 3, True),
    (T.boolean(), True, 1, True),
    (T.string(), "a", "b", False),
    (T.datetime(), dt.datetime(2020, 1, 1, tzinfo=UTC),
     dt.datetime(2020, 1, 1, 2, tzinfo=dt.timezone(dt.timedelta(hours=2))), True),
    (T.blob(), VornBlob(b"ab"), b"ab", True),
    (T.blob(), VornBlob(b"ab"), VornBlob(b"abc"), False),
    (T.blob(), VornBlob(b""), VornBlob(b""), True),
    (T.blob(), [1, 2], b"\x01\x02", True),
    (T.blob(), bytearray(b"ab"), b"ac", False),
])
def test_scalar_identity(t, x, y, expected):
    assert sk.cy_is_for(t)(x, y) is expected


def test_float_identity_conversion_errors():
    with pytest.raises(TypeError):
        sk.cy_is_for(T.float_())("x", 1.0)


def test_blob_walks_with_strict_zip():
    class Liar:
        """Claims two items but yields three."""
        def __len__(self):
            return 2

        def __iter__(self):
            return iter([1, 2, 3])
    f = sk.cy_is_for(T.blob())
    with pytest.raises(ValueError, match="zip\\(\\) argument 2 is shorter than argument 1"):
        f(Liar(), [1, 2])
    with pytest.raises(ValueError, match="zip\\(\\) argument 2 is longer than argument 1"):
        f([1, 2], Liar())
    with pytest.raises(TypeError):
        f(5, b"")


def test_blob_uses_the_current_vorn_blob_binding(monkeypatch):
    class Wrapped:
        def __init__(self, data):
            self.data = data
    f = sk.cy_is_for(T.blob())
    monkeypatch.setattr(sk, "VornBlob", Wrapped)
    assert f(Wrapped(b"a"), b"a") is True
    with pytest.raises(TypeError):  # no longer unwrapped: a VornBlob has no len()
        f(VornBlob(b"a"), VornBlob(b"a"))


def test_value_functions_returning_as_the_test_returns():
    class Odd:
        def __eq__(self, other):
            return "odd"

        def timestamp(self):
            return self
    for t in (T.boolean(), T.integer(), T.string(), T.datetime()):
        assert sk.cy_is_for(t)(Odd(), Odd()) == "odd"


def test_struct_identity_stops_at_first_difference():
    calls = []

    def spy(x, y, ctx=None):
        calls.append((x, y, ctx))
        return x == y
    f = sk.cy_is_for(T.struct(a=T.rec_ref("s"), b=T.rec_ref("s")), {"s": spy})
    assert f({"a": 1, "b": 2}, {"a": 0, "b": 2}) is False
    assert calls == [(1, 0, None)]
    ctx = object()
    assert f({"a": 1, "b": 2}, {"a": 1, "b": 2}, ctx) is True
    assert calls[-1] == (2, 2, ctx)  # the context is passed on unchanged
    assert sk.cy_is_for(T.struct())({}, {}) is True
    with pytest.raises(KeyError):
        f({"a": 1}, {"a": 1})


def test_variant_identity():
    f = sk.cy_is_for(T.variant(n=T.null(), i=T.integer(), a=T.array(T.integer())))
    assert f({"type": "n", "value": 1}, {"type": "i", "value": 1}) is False
    assert f({"type": "n", "value": 1}, {"type": "n", "value": 2}) is True
    arr = [1]
    assert f({"type": "a", "value": arr}, {"type": "a", "value": arr}) is True
    assert f({"type": "a", "value": arr}, {"type": "a", "value": [1]}) is False
    with pytest.raises(KeyError, match="'zz'"):
        f({"type": "zz", "value": 1}, {"type": "zz", "value": 1})


def test_recursive_identity_compares_to_any_depth():
    t = T.recursive(3, T.struct(v=T.float_(), next=T.variant(end=T.null(), more=T.rec_ref(3))))
    ctx = {3: "previous"}
    f = sk.cy_is_for(t, ctx)
    assert f.__name__ == "is_struct" and ctx == {3: "previous"}

    def chain(n, last):
        v = {"v": last, "next": {"type": "end", "value": None}}
        for _ in range(n):
            v = {"v": 0.0, "next": {"type": "more", "value": v}}
        return v
    assert f(chain(50, nan), chain(50, nan)) is True
    assert f(chain(50, 0.0), chain(50, -0.0)) is True
    assert f(chain(50, 1.0), chain(50, 2.0)) is False
