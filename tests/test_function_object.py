"""The native function objects that the builders return: names, defaults,
signatures, keyword arguments, method binding, pickling and copying."""
from __future__ import annotations

import copy
import inspect
import pickle

import pytest

from vorn.types import types as T
from vorn.utils import _sortkit as sk
from vorn.utils._sortkit import cy_compare_for


def test_attributes_of_a_built_comparer():
    f = cy_compare_for(T.array(T.integer()))
    assert f.__name__ == "compare_array"
    assert f.__qualname__ == "cy_compare_for.<locals>.compare_array"
    assert f.__module__ == "vorn.utils._sortkit" and f.__doc__ is None
    assert f.__defaults__ == (None,) and f.__kwdefaults__ is None
    assert repr(f).startswith("<function cy_compare_for.<locals>.compare_array at 0x")
    f.__name__ = "renamed"
    assert f.__name__ == "renamed"
    with pytest.raises(TypeError):
        f.__qualname__ = 1


@pytest.mark.parametrize("fn, text", [
    (lambda: cy_compare_for(T.integer()), "(x, y, _ctx=None)"),
    (lambda: cy_compare_for(T.null()), "(_x, _y, _ctx=None)"),
    (lambda: cy_compare_for(T.struct(a=T.integer())), "(x, y, ctx=None)"),
    (lambda: sk.cy_compare_for, "(type_val, type_ctx=None)"),
    (lambda: sk.cy_make_vorn_key, "(type_val)"),
])
def test_signature(fn, text):
    assert str(inspect.signature(fn())) == text


@pytest.mark.parametrize("call, expected", [
    (lambda f: f(1, 2), -1),
    (lambda f: f(2, 1, None), 1),
    (lambda f: f(x=1, y=1), 0),
    (lambda f: f(1, y=2, _ctx={}), -1),
])
def test_keyword_arguments(call, expected):
    assert call(cy_compare_for(T.integer())) == expected


@pytest.mark.parametrize("call, message", [
    (lambda f: f(1), r"^compare_int\(\) takes at least 2 positional arguments \(1 given\)$"),
    (lambda f: f(1, 2, 3, 4), r"^compare_int\(\) takes at most 3 positional arguments \(4 given\)$"),
    (lambda f: f(1, 2, z=3), r"^compare_int\(\) got an unexpected keyword argument 'z'$"),
    (lambda f: f(1, 2, x=3), r"^compare_int\(\) got multiple values for keyword argument 'x'$"),
])
def test_argument_errors(call, message):
    with pytest.raises(TypeError, match=message):
        call(cy_compare_for(T.integer()))


def test_bound_as_a_method():
    class Holder:
        compare = cy_compare_for(T.null())
    h = Holder()
    assert h.compare(1) == 0  # self is the first argument
    assert Holder.compare(1, 2) == 0


def test_closures_do_not_pickle_but_copy_as_themselves():
    f = cy_compare_for(T.array(T.integer()))
    with pytest.raises((pickle.PicklingError, AttributeError)):
        pickle.dumps(f)
    assert copy.copy(f) is f and copy.deepcopy(f) is f


def test_module_functions_pickle_by_name():
    assert pickle.loads(pickle.dumps(sk.cy_compare_int)) is sk.cy_compare_int
