"""A failure inside a composite value keeps its exception exactly and gains one note
naming where it happened, from the failing part outwards."""
from __future__ import annotations

import pytest

from vorn.serialization import _textcodec as tc
from vorn.types import types as T
from vorn.types import values as V
from vorn.utils import _sortkit as sk

I, S = T.integer(), T.string()
PERSON = T.struct([("name", S), ("age", I)])
SHAPE = T.variant([("dot", T.null()), ("person", PERSON)])


def person(name, age):
    return {"name": name, "age": age}


COMPARE, EQUAL, IS = (sk.cy_compare_for, "comparing"), (sk.cy_equal_for, "testing equality of"), \
    (sk.cy_is_for, "testing identity of")
ALL, ORDER_AND_EQUALITY = [COMPARE, EQUAL, IS], [COMPARE, EQUAL]

# (builders, type, x, y, path): x against y fails at `path`, a field missing (KeyError
# everywhere) or an int where a str is ordered (TypeError in a comparer). Identity
# reads into Structs and Variants only: other composites are identical as objects.
FAILURES = [
    (ORDER_AND_EQUALITY, T.array(PERSON), [person("a", 1), person("b", 2)], [person("a", 1), {"name": "b"}],
     "field 'age' of element 1"),
    (ORDER_AND_EQUALITY, T.dict_(S, T.array(PERSON)), {"k": [person("a", 1)]}, {"k": [{"name": "a"}]},
     "field 'age' of element 0 of the entry of key 'k'"),
    (ALL, SHAPE, {"type": "person", "value": person("a", 1)}, {"type": "person", "value": {"name": "a"}},
     "field 'age' of case 'person'"),
    (ALL, T.struct([("p", PERSON)]), {"p": person("a", 1)}, {"p": {"name": "a"}}, "field 'age' of field 'p'"),
    (ORDER_AND_EQUALITY, T.ref(PERSON), V.VornRef(person("a", 1)), V.VornRef({"name": "a"}),
     "field 'age' of the referenced value"),
    ([COMPARE], T.array(T.array(S)), [["a"], ["b", "c"]], [["a"], ["b", 3]], "element 1 of element 1"),
    ([COMPARE], T.array(PERSON), [person("a", 1)], [person(5, 1)], "field 'name' of element 0"),
]


@pytest.mark.parametrize("build, verb, t, x, y, path", [
    pytest.param(build, verb, t, x, y, path, id=f"{verb.split()[-1]}-{i}")
    for i, (builders, t, x, y, path) in enumerate(FAILURES) for build, verb in builders])
def test_a_failure_inside_a_composite_names_its_path(build, verb, t, x, y, path):
    with pytest.raises((TypeError, KeyError)) as caught:
        build(t)(x, y)
    assert caught.value.__notes__ == [f"while {verb} {path}"]


def test_the_exception_itself_is_the_leafs_own():
    with pytest.raises(TypeError) as leaf:
        sk.cy_compare_for(S)("a", 5)
    with pytest.raises(TypeError) as inside:
        sk.cy_compare_for(T.array(PERSON))([person("a", 1)], [person(5, 1)])
    assert type(inside.value) is type(leaf.value) and inside.value.args == leaf.value.args
    assert not hasattr(leaf.value, "__notes__")


@pytest.mark.parametrize("build", [sk.cy_compare_for, sk.cy_equal_for, sk.cy_is_for])
def test_success_adds_no_note(build):
    assert build(T.struct([("p", PERSON)]))({"p": person("a", 1)}, {"p": person("a", 2)}) in (-1, False)


class Raising(dict):
    """A Struct value whose field reads raise an error that already has a note."""

    def __getitem__(self, name):
        err = LookupError(name)
        err.add_note("a note of the caller's")
        raise err


@pytest.mark.parametrize("build", [sk.cy_compare_for, sk.cy_equal_for, sk.cy_is_for])
def test_notes_made_by_others_are_left_alone(build):
    with pytest.raises(LookupError) as caught:
        build(T.struct([("p", PERSON)]))({"p": person("a", 1)}, {"p": Raising()})
    assert caught.value.__notes__[0] == "a note of the caller's"
    assert caught.value.__notes__[1].endswith(" field 'name' of field 'p'")


@pytest.mark.parametrize("key, note", [
    (sk.CyVornKey(1, 5), "not callable"),
    (sk.CyVornKey(1, lambda a, b: None), "returned None"),
])
def test_a_keys_faulty_comparer_is_named(key, note):
    with pytest.raises(TypeError) as caught:
        key < key  # noqa: B015
    assert note in caught.value.__notes__[0]


@pytest.mark.parametrize("t, v, path", [
    (T.array(PERSON), [person("a", 1), person("b", "x")], "field 'age' of element 1"),
    (T.array(PERSON), [person("a", 1), {"name": "b"}], "field 'age' of element 1"),
    (T.dict_(S, T.array(PERSON)), {"k": [person("a", 1.5)]}, "field 'age' of element 0 of value of entry 0"),
    (T.matrix(I), [[1, 2], [3, "x"]], "element (1, 1)"),
    (SHAPE, {"type": "person", "value": person(1, 2)}, "field 'name' of case 'person'"),
])
def test_a_print_that_fails_inside_a_composite_names_its_path(t, v, path):
    with pytest.raises((TypeError, ValueError)) as caught:
        tc._print_value(t, v)
    assert caught.value.__notes__ == [f"while converting {path}"]
