"""What the documents promise holds: docs/api.md's examples run, and the examples and
claims of docs/text-format.md are what the codec does."""
from __future__ import annotations

import copy
import math
import pathlib
import pickle
import re
import sys

import pytest

from vorn import _pfnlink as pfn
from vorn.serialization import _textcodec as tc
from vorn.types import types as T
from vorn.types import values as V
from vorn.utils import _sortkit as sk

DOCS = pathlib.Path(__file__).resolve().parent.parent / "docs"
API_BLOCKS = re.findall(r"```python\n(.*?)```", (DOCS / "api.md").read_text(), flags=re.S)
TEXT_FORMAT = (DOCS / "text-format.md").read_text()


@pytest.mark.parametrize("index", range(len(API_BLOCKS)))
def test_api_example_runs(index):
    exec(compile(API_BLOCKS[index], f"docs/api.md[python block {index}]", "exec"), {})


def test_api_reference_names_every_public_function():
    import vorn._pfnlink as pfn
    text = (DOCS / "api.md").read_text()
    public = [n for n in dir(sk) if n.startswith("cy_") or n == "CyVornKey"]
    public += ["__pyx_unpickle_CyVornKey", "_print_value", "_print_type", "_parse_value"]
    public += [n for n in dir(pfn) if callable(getattr(pfn, n)) and not n.startswith("_")
               and n != "asyncio"]
    missing = [n for n in public if f"`{n}(" not in text and f"`{n}`" not in text]
    assert not missing


def _table(heading: str) -> list[list[str]]:
    """The body rows of the first table after `heading`, as lists of cells."""
    lines = TEXT_FORMAT.split(heading, 1)[1].split("\n")
    first = next(i for i, line in enumerate(lines) if line.startswith("|"))
    rows = []
    for line in lines[first + 2:]:  # after the header and its rule
        if not line.startswith("|"):
            break
        rows.append([cell.strip() for cell in line.strip("|").split(" | ")])
    return rows


def _examples(cell: str) -> list[str]:
    return re.findall(r"`([^`]+)`", cell)


INT_LIST = T.recursive("L", T.variant(nil=T.null(), cons=T.struct(head=T.integer(), tail=T.rec_ref("L"))))

# The type each kind's canonical examples are read as.
VALUE_TYPES = {
    "Null": T.null(), "Boolean": T.boolean(), "Integer": T.integer(), "Float": T.float_(),
    "String": T.string(), "DateTime": T.datetime(), "Blob": T.blob(),
    "Vector": T.vector(T.float_()), "Matrix": T.matrix(T.integer()), "Array": T.array(T.integer()),
    "Set": T.set_(T.integer()), "Dict": T.dict_(T.string(), T.integer()), "Ref": T.ref(T.integer()),
    "Struct": T.struct(name=T.string(), age=T.integer()), "Variant": INT_LIST,
}

VALUE_ROWS = [(cells[0], text) for cells in _table("## Values") if cells[0] in VALUE_TYPES
              for text in _examples(cells[1])]


def test_every_kind_of_the_value_table_has_examples():
    assert {kind for kind, _ in VALUE_ROWS} == set(VALUE_TYPES)


@pytest.mark.parametrize("kind, text", VALUE_ROWS)
def test_canonical_example_reads_and_prints_back(kind, text):
    t = VALUE_TYPES[kind]
    assert tc._print_value(t, tc._parse_value(t, text)) == text


TYPE_TEXTS = {
    "Never": T.never(), "Null": T.null(), "Boolean": T.boolean(), "Integer": T.integer(),
    "Float": T.float_(), "String": T.string(), "DateTime": T.datetime(), "Blob": T.blob(),
    "Vector<Float>": T.vector(T.float_()), "Matrix<Integer>": T.matrix(T.integer()),
    "Array<String>": T.array(T.string()), "Set<Integer>": T.set_(T.integer()),
    "Ref<Integer>": T.ref(T.integer()), "Dict<String, Integer>": T.dict_(T.string(), T.integer()),
    "Struct{name: String, age: Integer}": T.struct(name=T.string(), age=T.integer()),
    "Variant{nil: Null, some: Integer}": T.variant(nil=T.null(), some=T.integer()),
    "Recursive L. Variant{nil: Null, cons: Struct{head: Integer, tail: L}}": INT_LIST,
    "L": T.rec_ref("L"),
    "Function(Integer, String) -> Boolean": T.function([T.integer(), T.string()], T.boolean()),
    "AsyncFunction() -> Null": T.async_function([], T.null()),
}


def test_type_table_examples_are_printed_texts():
    in_doc = [text for cells in _table("## Types") for text in _examples(cells[1])]
    assert sorted(in_doc) == sorted(TYPE_TEXTS)
    for text, t in TYPE_TEXTS.items():
        if text != "L":  # a reference prints only inside its wrapper, shown above
            assert tc._print_type(t) == text


@pytest.mark.parametrize("text, t", [
    ("#{1, 1}", T.set_(T.integer())),
    ("{1 => 2, 1 => 3}", T.dict_(T.integer(), T.integer())),
])
def test_repeated_elements_and_keys_are_refused(text, t):
    assert f"`{text}`" in TEXT_FORMAT
    with pytest.raises(ValueError):
        tc._parse_value(t, text)


@pytest.mark.parametrize("t, value, comes_back_equal", [
    (T.array(T.float_()), [math.nan], True),
    (T.dict_(T.integer(), T.float_()), {1: math.nan}, True),
    (T.set_(T.float_()), {math.nan}, False),
    (T.set_(T.array(T.float_())), V.VornSet([[math.nan]]), False),
    (T.dict_(T.float_(), T.integer()), {math.nan: 1}, False),
    (T.set_(T.integer()), [1, 1, 2], False),
])
def test_round_trip_and_its_documented_exceptions(t, value, comes_back_equal):
    text = tc._print_value(t, value)
    back = tc._parse_value(t, text)
    assert bool(sk.cy_equal_for(t)(value, back)) is comes_back_equal
    if "nan" in text:
        assert tc._print_value(t, back) == text  # the text itself comes back


@pytest.mark.parametrize("t, value, text, quoted", [
    (T.string(), "\x00\x7f\x85", r'"\u{0}\u{7f}\u{85}"', [r"\u{0}", r"\u{7f}", r"\u{85}"]),
    (T.struct([("first name", T.string())]), {"first name": "Ada"}, '{"first name": "Ada"}',
     ['{"first name": "Ada"}']),
    (T.variant([("no payload", T.null())]), {"type": "no payload", "value": None}, '"no payload"',
     ['"no payload"']),
])
def test_prose_examples(t, value, text, quoted):
    assert all(f"`{q}`" in TEXT_FORMAT for q in quoted)
    assert tc._print_value(t, value) == text


API = " ".join((DOCS / "api.md").read_text().split())  # line breaks as spaces
PERSON = T.struct(name=T.string(), age=T.integer())
KEY = sk.cy_make_vorn_key(T.integer())


class _TripleItems:
    def items(self):
        return [(1, 2, 3)]


class _LongList(list):
    def __len__(self):
        return 5


# (a message api.md quotes, less any leading "… ", the call, the exception it raises)
QUOTED_ERRORS = [
    ("cy_compare_int() takes exactly 2 positional arguments (3 given)",
     lambda: sk.cy_compare_int(1, 2, 3), TypeError),
    ("got an unexpected keyword argument 'z'", lambda: sk.cy_compare_int(1, 2, z=3), TypeError),
    ("got multiple values for keyword argument 'x'", lambda: sk.cy_compare_int(1, 2, x=3), TypeError),
    ("takes no arguments (1 given)", lambda: pfn.clear_platform_state(1), TypeError),
    ("takes no keyword arguments", lambda: pfn.clear_platform_state(a=1), TypeError),
    ("__init__() takes exactly 2 positional arguments (1 given)",
     lambda: sk.CyVornKey(1, value=2), TypeError),
    ("__init__() takes exactly 2 positional arguments (3 given)", lambda: KEY(1, 2), TypeError),
    ("Unknown type encountered during type printing: ", lambda: sk.cy_compare_for(T.Type("Odd")), RuntimeError),
    ("cy_compare_for: unresolved Recursive ref(", lambda: sk.cy_compare_for(T.rec_ref(7)), ValueError),
    ("Attempted to compare values of type .Function", lambda: sk.cy_is_for(T.function([], T.null())),
     RuntimeError),
    ("Attempted to compare values of type .Never", lambda: sk.cy_equal_for(T.never())(1, 1), RuntimeError),
    ("an integer is required", lambda: sk.cy_compare_int("1", 1), TypeError),
    ("must be real number", lambda: sk.cy_compare_float("1", 1.0), TypeError),
    ("too many values to unpack (expected 2)",
     lambda: sk.cy_compare_for(T.dict_(T.integer(), T.integer()))(_TripleItems(), _TripleItems()), ValueError),
    ("__len__() should return >= 0",
     lambda: sk.cy_compare_for(T.array(T.integer()))(type("L", (list,), {"__len__": lambda s: -1})(),
                                                      []), ValueError),
    ("Argument 'other' has incorrect type (expected vorn.utils._sortkit.CyVornKey, got ",
     lambda: sk.CyVornKey(1, sk.cy_compare_int) < None, TypeError),
    ("Incompatible checksums (", lambda: sk.__pyx_unpickle_CyVornKey(sk.CyVornKey, 1, None),
     pickle.PickleError),
    ("Argument 'text' has incorrect type ", lambda: tc._parse_value(T.integer(), b"1"), TypeError),
    ("vorn-c parse failed for: ", lambda: tc._parse_value(T.integer(), "1\x00"), ValueError),
    ("vorn-c vorn_print_value returned NULL", lambda: tc._print_value(T.function([], T.null()), len),
     RuntimeError),
    ("unknown Vorn type kind ", lambda: tc._print_type(T.Type("Odd")), TypeError),
    ("expected a Vorn type descriptor, got ", lambda: tc._print_type(5), TypeError),
]


@pytest.mark.parametrize("message, call, error", QUOTED_ERRORS, ids=[m for m, _, _ in QUOTED_ERRORS])
def test_quoted_error_is_what_the_call_raises(message, call, error):
    assert message in API
    with pytest.raises(error) as caught:
        call()
    text = str(caught.value)
    assert text.startswith(message) or text.endswith(message) or f"() {message}" in text


def test_an_index_past_the_items_is_an_index_error():
    with pytest.raises(IndexError):
        sk.cy_compare_for(T.array(T.integer()))(_LongList([1]), _LongList([1]))


@pytest.mark.parametrize("build, decided", [
    (sk.cy_compare_for, -1), (sk.cy_equal_for, False), (sk.cy_is_for, False)])
def test_a_missing_field_raises_only_where_the_walk_reaches_it(build, decided):
    assert '`cy_compare_for(person)({"name": "a"}, {"name": "b", "age": 1})` is -1' in API
    f = build(PERSON)
    assert f({"name": "a"}, {"name": "b", "age": 1}) == decided  # the first field decides
    with pytest.raises(KeyError, match="age"):
        f({"name": "a"}, {"name": "a", "age": 1})
    assert f({"name": "a", "age": 1, "extra": 0}, {"name": "a", "age": 1}) in (0, True)


def test_a_variant_without_value_beside_another_case_gets_a_result():
    option = T.variant(none=T.null(), some=T.integer())
    assert sk.cy_compare_for(option)({"type": "none"}, {"type": "some", "value": 1}) == -1
    with pytest.raises(KeyError, match="value"):
        sk.cy_compare_for(option)({"type": "some"}, {"type": "some", "value": 1})


@pytest.mark.parametrize("make", [
    lambda: KEY(3),
    lambda: sk.CyVornKey(3, sk.cy_compare_for(T.integer())),
])
def test_keys_of_local_classes_or_comparers_copy_but_do_not_pickle(make):
    key = make()
    assert copy.copy(key) == key and copy.deepcopy(key) == key
    with pytest.raises((AttributeError, pickle.PicklingError)):
        pickle.dumps(key)


def _arrays_around(n: int, leaf):
    for _ in range(n):
        leaf = T.array(leaf)
    return leaf


def _lists_around(n: int, leaf: object) -> object:
    for _ in range(n):
        leaf = [leaf]
    return leaf


@pytest.fixture
def recursion_limit():
    before = sys.getrecursionlimit()
    yield sys.setrecursionlimit
    sys.setrecursionlimit(before)


NESTED = T.recursive(1, T.array(T.rec_ref(1)))


@pytest.mark.skipif(sys.version_info[:2] == (3, 12), reason="3.12's bound on nested C calls comes first")
@pytest.mark.parametrize("n, passes", [(4096, True), (4097, False)])
def test_the_runtime_nesting_limit(recursion_limit, n, passes):
    recursion_limit(10_000)
    t = _arrays_around(n, T.integer())
    text = "[" * n + "1" + "]" * n
    runs = [lambda: tc._print_type(t), lambda: tc._parse_value(t, text),
            lambda: tc._print_value(t, _lists_around(n, 1)),
            # one more level for empty Arrays, half as many under a Recursive type
            lambda: tc._parse_value(_arrays_around(n, T.array(T.integer())), "[" * (n + 1) + "]" * (n + 1)),
            lambda: tc._print_value(NESTED, _lists_around(n // 2 - 1 + (not passes), []))]
    for run in runs:
        if passes:
            run()
        else:
            with pytest.raises((ValueError, RuntimeError)):
                run()


def test_the_conversions_bound_from_python(recursion_limit):
    deep = _arrays_around(1600, T.integer())
    if sys.version_info[:2] == (3, 11):
        recursion_limit(1000)
        with pytest.raises(RecursionError, match="while converting a Vorn type"):
            tc._print_type(_arrays_around(1000, T.integer()))
        recursion_limit(10_000)
        tc._print_type(deep)
    elif sys.version_info[:2] == (3, 12):
        recursion_limit(10_000)
        with pytest.raises(RecursionError, match="while converting a Vorn type"):
            tc._print_type(deep)
    else:
        recursion_limit(1000)
        tc._print_type(_arrays_around(4096, T.integer()))
