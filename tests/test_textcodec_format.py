"""The Vorn text format through the codec: canonical value and type texts, the
non-canonical spellings the parser accepts, and texts it must refuse."""
from __future__ import annotations

import datetime as dt
import math
import sys

import pytest

from vorn.serialization import _textcodec as tc
from vorn.types import types as T
from vorn.types import values as V

pytestmark = pytest.mark.usefixtures("runtime_handles_balanced")

UTC = dt.timezone.utc
INT_LIST = T.recursive("L", T.variant(nil=T.null(), cons=T.struct(head=T.integer(), tail=T.rec_ref("L"))))


def cons(head, tail):
    return {"type": "cons", "value": {"head": head, "tail": tail}}


NIL = {"type": "nil", "value": None}

CANONICAL = [
    (T.null(), None, "null"),
    (T.boolean(), True, "true"),
    (T.boolean(), False, "false"),
    (T.integer(), -7, "-7"),
    (T.integer(), 0, "0"),
    (T.integer(), -2**63, "-9223372036854775808"),
    (T.float_(), 1.0, "1.0"),
    (T.float_(), -0.0, "-0.0"),
    (T.float_(), 0.1, "0.1"),
    (T.float_(), 1e300, "1e+300"),
    (T.float_(), 5e-324, "5e-324"),
    (T.float_(), 123456789.0, "123456789.0"),
    (T.float_(), math.nan, "nan"),
    (T.float_(), math.inf, "inf"),
    (T.float_(), -math.inf, "-inf"),
    (T.string(), "", '""'),
    (T.string(), 'say "hi"\\', r'"say \"hi\"\\"'),
    (T.string(), "a\nb\tc\rd", r'"a\nb\tc\rd"'),
    (T.string(), "\x00\x01\x1f\x7f\x80\x9f", r'"\u{0}\u{1}\u{1f}\u{7f}\u{80}\u{9f}"'),
    (T.string(), "\xa0é€😀", '"\xa0é€😀"'),
    (T.datetime(), dt.datetime(2024, 5, 1, 12, 30, tzinfo=UTC), "2024-05-01T12:30:00Z"),
    (T.datetime(), dt.datetime(1, 1, 1, tzinfo=UTC), "0001-01-01T00:00:00Z"),
    (T.datetime(), dt.datetime(9999, 12, 31, 23, 59, 59, 999999, tzinfo=UTC), "9999-12-31T23:59:59.999999Z"),
    (T.datetime(), dt.datetime(2024, 1, 1, 1, 0, 0, 5, tzinfo=dt.timezone(dt.timedelta(hours=2))),
     "2023-12-31T23:00:00.000005Z"),
    (T.blob(), V.VornBlob(b""), 'x""'),
    (T.blob(), V.VornBlob(b"\x00\xffA"), 'x"00ff41"'),
    (T.vector(T.float_()), V.VornVector([1.0, 2.5]), "vec[1.0, 2.5]"),
    (T.matrix(T.integer()), V.VornMatrix([[1, 2], [3, 4]]), "mat[[1, 2], [3, 4]]"),
    (T.matrix(T.integer()), V.VornMatrix([]), "mat[]"),
    (T.matrix(T.integer()), V.VornMatrix([[], []]), "mat[[], []]"),
    (T.array(T.integer()), V.VornArray([1, 2, 3]), "[1, 2, 3]"),
    (T.array(T.array(T.integer())), [[], [1]], "[[], [1]]"),
    (T.set_(T.integer()), V.VornSet([2, 1]), "#{2, 1}"),
    (T.set_(T.integer()), V.VornSet(), "#{}"),
    (T.dict_(T.string(), T.integer()), V.VornDict({"a": 1, "b": 2}), '{"a" => 1, "b" => 2}'),
    (T.dict_(T.string(), T.integer()), V.VornDict(), "{}"),
    (T.ref(T.integer()), V.VornRef(3), "ref(3)"),
    (T.struct(name=T.string(), age=T.integer()), {"age": 36, "name": "Ada"}, '{name: "Ada", age: 36}'),
    (T.struct(), {}, "{}"),
    (T.struct([("first name", T.string()), ("null", T.null())]), {"first name": "A", "null": None},
     '{"first name": "A", null: null}'),
    (T.variant(none=T.null(), some=T.integer()), {"type": "some", "value": 3}, "some(3)"),
    (T.variant(none=T.null(), some=T.integer()), {"type": "none", "value": None}, "none"),
    (T.variant([("no value", T.null())]), {"type": "no value", "value": None}, '"no value"'),
    (INT_LIST, cons(1, cons(2, NIL)), "cons({head: 1, tail: cons({head: 2, tail: nil})})"),
    (T.recursive(7, T.array(T.rec_ref(7))), [[], [[]]], "[[], [[]]]"),
]


@pytest.mark.parametrize("t, value, text", CANONICAL)
def test_canonical_text_and_back(t, value, text):
    assert tc._print_value(t, value) == text
    assert tc._print_value(t, tc._parse_value(t, text)) == text


def test_matrix_without_rows_keeps_its_columns():
    m = V.VornMatrix([])
    m.cols = 3
    text = tc._print_value(T.matrix(T.integer()), m)
    assert text == "mat(0, 3)[]"
    back = tc._parse_value(T.matrix(T.integer()), text)
    assert (back.rows, back.cols) == (0, 3)


@pytest.mark.parametrize("t, text", [
    (T.null(), "null"), (T.boolean(), "true"), (T.integer(), "-7"), (T.float_(), "-0.0"),
    (T.string(), '"x"'), (T.array(T.integer()), "[1]"), (T.struct(a=T.integer()), "{a: 1}"),
])
def test_printed_text_holds_no_raw_control_character(t, text):
    printed = tc._print_value(t, tc._parse_value(t, text))
    assert not any(ord(c) < 0x20 or 0x7F <= ord(c) <= 0x9F for c in printed)


@pytest.mark.parametrize("t, text, value", [
    (T.integer(), "  42\n\t", 42),
    (T.float_(), "3", 3.0),
    (T.float_(), "2.5E-3", 0.0025),
    (T.array(T.integer()), "[ 1 ,2 , 3 ]", [1, 2, 3]),
    (T.string(), r'"\u{48}\u{10FFFF}\u{00e9}"', "H\U0010ffffé"),
    (T.datetime(), "2024-05-01T12:30:00.5+05:30", dt.datetime(2024, 5, 1, 7, 0, 0, 500000, tzinfo=UTC)),
    (T.datetime(), "2024-02-29T00:00:00-00:01", dt.datetime(2024, 2, 29, 0, 1, tzinfo=UTC)),
    (T.blob(), 'x"FFaa"', V.VornBlob(b"\xff\xaa")),
    (T.struct(a=T.integer(), b=T.string()), '{b: "x", a: 1}', {"a": 1, "b": "x"}),
    (T.struct([("a b", T.integer())]), '{"a b": 1}', {"a b": 1}),
    (T.variant(none=T.null(), some=T.integer()), "none(null)", {"type": "none", "value": None}),
    (T.variant(none=T.recursive("N", T.null())), "none", {"type": "none", "value": None}),
    (T.matrix(T.integer()), "mat(2, 1)[[1], [2]]", V.VornMatrix([[1], [2]])),
    (T.set_(T.integer()), "#{ }", V.VornSet()),
    (T.float_(), "2.4703282292062328e-324", 5e-324), (T.float_(), "1.7976931348623158e308", 1.7976931348623157e308),
    (T.float_(), "0e999", 0.0),
])
def test_accepted_non_canonical_texts(t, text, value):
    assert tc._print_value(t, tc._parse_value(t, text)) == tc._print_value(t, value)


@pytest.mark.parametrize("t, text", [
    (T.null(), "nullx"), (T.null(), "Null"), (T.boolean(), "True"), (T.boolean(), "1"),
    (T.integer(), "1 2"), (T.integer(), "+1"), (T.integer(), "01"), (T.integer(), "1.0"), (T.integer(), "1e3"),
    (T.integer(), "9223372036854775808"), (T.integer(), "-"), (T.integer(), ""), (T.integer(), "   "),
    (T.float_(), "1."), (T.float_(), ".5"), (T.float_(), "1e"), (T.float_(), "NaN"), (T.float_(), "-nan"),
    (T.float_(), "1e400"), (T.float_(), "-1.7976931348623159e308"), (T.float_(), "2.4703282292062327e-324"),
    (T.float_(), "infinity"),
    (T.string(), '"abc'), (T.string(), "abc"), (T.string(), '"a\nb"'), (T.string(), '"\t"'),
    (T.string(), '"\x7f"'), (T.string(), '"\x85"'), (T.string(), r'"\q"'), (T.string(), r'"\u{}"'),
    (T.string(), r'"\u{d800}"'), (T.string(), r'"\u{110000}"'), (T.string(), r'"\u{1234567}"'),
    (T.string(), r'"\u41"'), (T.string(), '"a" "b"'),
    (T.datetime(), "2024-02-30T00:00:00Z"), (T.datetime(), "2023-02-29T00:00:00Z"),
    (T.datetime(), "2024-05-01T24:00:00Z"), (T.datetime(), "2024-05-01T12:30:60Z"),
    (T.datetime(), "2024-05-01T12:30:00"), (T.datetime(), "2024-05-01 12:30:00Z"),
    (T.datetime(), "2024-05-01T12:30:00.1234567Z"), (T.datetime(), "0000-01-01T00:00:00Z"),
    (T.blob(), 'x"0"'), (T.blob(), 'x"zz"'), (T.blob(), 'b"00"'), (T.blob(), 'x "00"'),
    (T.array(T.integer()), "[1,]"), (T.array(T.integer()), "[,]"), (T.array(T.integer()), "[1 2]"),
    (T.array(T.integer()), "[1]]"), (T.array(T.integer()), "[1] x"),
    (T.vector(T.integer()), "[1]"), (T.vector(T.integer()), "vector[1]"),
    (T.set_(T.integer()), "{1}"), (T.set_(T.integer()), "# {1}"),
    (T.matrix(T.integer()), "mat[[1, 2], [3]]"), (T.matrix(T.integer()), "mat(1, 2)[[1]]"),
    (T.matrix(T.integer()), "mat(0, -1)[]"), (T.matrix(T.integer()), "[[1]]"),
    (T.dict_(T.string(), T.integer()), '{"a": 1}'), (T.dict_(T.string(), T.integer()), '{"a" = > 1}'),
    (T.ref(T.integer()), "3"), (T.ref(T.integer()), "ref 3"),
    (T.struct(a=T.integer()), "{}"), (T.struct(a=T.integer()), "{a: 1, a: 1}"),
    (T.struct(a=T.integer()), "{a: 1, b: 2}"), (T.struct(a=T.integer()), "{a 1}"), (T.struct(a=T.integer()), "{1a: 1}"),
    (T.variant(some=T.integer()), "some"), (T.variant(some=T.integer()), "other(1)"),
    (T.variant(some=T.integer()), "some()"), (T.variant(some=T.integer()), "some(1"),
    (T.never(), "null"), (T.function([], T.null()), "null"),
    (T.recursive("L", T.rec_ref("L")), "null"),
    (T.array(T.rec_ref("Unbound")), "[1]"),
])
def test_texts_that_do_not_parse(t, text):
    with pytest.raises(ValueError, match="^vorn-c parse failed for: "):
        tc._parse_value(t, text)


def test_recursive_reference_resolves_to_the_innermost_scope():
    # The inner "L" shadows the outer one: the innermost list holds Strings.
    t = T.recursive("L", T.struct(n=T.integer(), more=T.array(
        T.recursive("L", T.struct(s=T.string(), more=T.array(T.rec_ref("L")))))))
    text = '{n: 1, more: [{s: "a", more: [{s: "b", more: []}]}]}'
    assert tc._print_value(t, tc._parse_value(t, text)) == text
    with pytest.raises(ValueError):
        tc._parse_value(t, '{n: 1, more: [{s: "a", more: [{n: 2, more: []}]}]}')


# Each level of this type is two steps of nesting: the Array and the Recursive reference.
@pytest.mark.parametrize("depth, parses", [(1000, True), (2000, True), (2100, False), (200_000, False)])
def test_deep_nesting_is_bounded(depth, parses):
    t = T.recursive("L", T.array(T.rec_ref("L")))
    text = "[" * depth + "]" * depth
    if parses:
        # The runtime parses it. Python then builds it, or refuses with RecursionError
        # where the interpreter's limit for native recursion is lower (3.11 and 3.12:
        # the recursion limit; 3.13: a C recursion limit of its own, some 10 000).
        try:
            value = tc._parse_value(t, text)
        except RecursionError:
            assert sys.version_info < (3, 13) or depth * 2 > 10_000
            return
        for _ in range(depth - 1):
            (value,) = value
        assert value == []
    else:
        with pytest.raises(ValueError):
            tc._parse_value(t, text)


TYPES = [
    (T.never(), "Never"), (T.null(), "Null"), (T.boolean(), "Boolean"), (T.integer(), "Integer"),
    (T.float_(), "Float"), (T.string(), "String"), (T.datetime(), "DateTime"), (T.blob(), "Blob"),
    (T.vector(T.float_()), "Vector<Float>"), (T.matrix(T.integer()), "Matrix<Integer>"),
    (T.array(T.string()), "Array<String>"), (T.set_(T.integer()), "Set<Integer>"),
    (T.dict_(T.string(), T.array(T.integer())), "Dict<String, Array<Integer>>"),
    (T.ref(T.blob()), "Ref<Blob>"),
    (T.struct(name=T.string(), age=T.integer()), "Struct{name: String, age: Integer}"),
    (T.struct(), "Struct{}"),
    (T.variant([("a b", T.null()), ("c", T.integer())]), 'Variant{"a b": Null, c: Integer}'),
    (INT_LIST, "Recursive L. Variant{nil: Null, cons: Struct{head: Integer, tail: L}}"),
    (T.recursive(1, T.array(T.rec_ref(1))), "Recursive 1. Array<1>"),
    (T.recursive("my scope", T.array(T.rec_ref("my scope"))), 'Recursive "my scope". Array<"my scope">'),
    (T.function([T.integer(), T.string()], T.boolean()), "Function(Integer, String) -> Boolean"),
    (T.async_function([], T.null()), "AsyncFunction() -> Null"),
    (T.array(T.function([T.array(T.integer())], T.null())), "Array<Function(Array<Integer>) -> Null>"),
]


@pytest.mark.parametrize("t, text", TYPES)
def test_type_text(t, text):
    assert tc._print_type(t) == text
