"""The Vorn text format: printing values and types, parsing text back, and what the
codec refuses."""
import datetime as dt
import math

from vorn import _vornc_bridge as bridge
from vorn.serialization import _textcodec as tc
from vorn.types import types as T
from vorn.types import values as V

person = T.struct(name=T.string(), born=T.datetime(), tags=T.set_(T.string()), photo=T.blob())
ada = {"name": 'Ada "the first"', "born": dt.datetime(1815, 12, 10, tzinfo=dt.timezone.utc),
       "tags": V.VornSet(["math", "poetry"]), "photo": V.VornBlob(b"\x89PNG")}
print("type :", tc._print_type(person))
text = tc._print_value(person, ada)
print("value:", text)
print("back :", tc._parse_value(person, text))

int_list = T.recursive("L", T.variant(nil=T.null(), cons=T.struct(head=T.integer(), tail=T.rec_ref("L"))))
print("\n" + tc._print_type(int_list))
print(tc._print_value(int_list, {"type": "cons", "value": {"head": 1, "tail": {"type": "nil", "value": None}}}))

floats = T.array(T.float_())
print("\nfloats print shortest and exactly:", tc._print_value(floats, [0.1, -0.0, 1e300, math.nan, -math.inf]))
print("control characters are escaped:  ", tc._print_value(T.string(), "tab\t nul\x00 bell\x07"))
print("a Dict, a Matrix, a Ref:         ", tc._print_value(T.dict_(T.string(), T.integer()), V.VornDict({"a": 1})),
      tc._print_value(T.matrix(T.integer()), V.VornMatrix([[1, 2], [3, 4]])),
      tc._print_value(T.ref(T.integer()), V.VornRef(3)))
print("whitespace and field order are free when parsing:",
      tc._parse_value(T.struct(a=T.integer(), b=T.integer()), "{ b: 2,\n a: 1 }"))

for t, bad in [(T.integer(), "12 garbage"), (T.integer(), "1\x00"), (T.array(T.integer()), "[1, 2" + ", 3" * 60)]:
    try:
        tc._parse_value(t, bad)
    except ValueError as e:
        shown = repr(str(e))
        print("refused:", shown[:72] + ("..." if len(shown) > 72 else ""))
try:
    tc._print_value(T.function([], T.null()), print)
except RuntimeError as e:
    print("refused:", e, "(Function values have no text)")
print("runtime handles alive after all this (types, values):", bridge.live_handles())
