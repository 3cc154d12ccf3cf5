"""What the documents promise holds: docs/api.md's examples run, and the examples and
claims of docs/text-format.md are what the codec does."""
from __future__ import annotations

import math
import pathlib
import re

import pytest

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
