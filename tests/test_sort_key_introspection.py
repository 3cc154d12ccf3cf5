"""What introspection shows of key classes and keys: signatures for inspect and help(),
and a repr with the class's qualified name and the value's repr that never loops."""
from __future__ import annotations

import inspect
import pydoc

import pytest

from vorn.types import types as T
from vorn.utils import _sortkit as sk


def test_signature_of_the_key_class():
    assert str(inspect.signature(sk.CyVornKey)) == "(value, compare_fn)"
    assert "CyVornKey(value, compare_fn)" in pydoc.render_doc(sk.CyVornKey, renderer=pydoc.plaintext)
    # The signature lines stay out of the docstring itself.
    assert sk.CyVornKey.__doc__.startswith("Key wrapper for Vorn values used in sorted() and SortedContainers.")


def test_signature_of_made_classes_and_subclasses():
    assert str(inspect.signature(sk.cy_make_vorn_key(T.integer()))) == "(value)"

    class Sub(sk.CyVornKey):
        pass

    assert str(inspect.signature(Sub)) == "(value, compare_fn)"


class Custom(sk.CyVornKey):
    pass


@pytest.mark.parametrize("make, expected", [
    (lambda: sk.CyVornKey(3, sk.cy_compare_int), "CyVornKey(3)"),
    (lambda: sk.CyVornKey("a'b", None), 'CyVornKey("a\'b")'),
    (lambda: sk.CyVornKey.__new__(sk.CyVornKey), "CyVornKey(None)"),
    (lambda: sk.cy_make_vorn_key(T.array(T.integer()))([1, 2]), "cy_make_vorn_key.<locals>.VornKey([1, 2])"),
    (lambda: Custom({"a": 1}, None), "Custom({'a': 1})"),
])
def test_repr_shows_qualified_class_name_and_value(make, expected):
    assert repr(make()) == expected


def test_repr_of_a_key_inside_its_own_value_does_not_loop():
    inner: list = []
    key = sk.CyVornKey(inner, sk.cy_compare_int)
    inner.append(key)
    assert repr(key) == "CyVornKey([CyVornKey(...)])"
    # Two keys holding each other.
    a, b = sk.CyVornKey(None, None), sk.CyVornKey(None, None)
    a.__init__([b], None)
    b.__init__([a], None)
    assert repr(a) == "CyVornKey([CyVornKey([CyVornKey(...)])])"
    assert repr([a, key]) == "[" + repr(a) + ", " + repr(key) + "]"


class Raising:
    def __repr__(self):
        raise ValueError("no repr")


class Rebinding:
    """A value whose repr rebinds the key holding it, dropping itself."""

    def __init__(self):
        self.key = None

    def __repr__(self):
        self.key.__init__("other", None)
        return "Rebinding()"


def test_repr_errors_propagate_and_leave_no_guard_behind():
    key = sk.CyVornKey(Raising(), None)
    for _ in range(2):
        with pytest.raises(ValueError, match="no repr"):
            repr(key)
    key.__init__(5, None)
    assert repr(key) == "CyVornKey(5)"


def test_repr_survives_a_value_that_rebinds_the_key():
    value = Rebinding()
    key = sk.CyVornKey(value, None)
    value.key = key
    del value
    assert repr(key) == "CyVornKey(Rebinding())"
    assert repr(key) == "CyVornKey('other')"
