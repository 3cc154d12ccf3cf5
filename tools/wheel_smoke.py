"""Smoke test of an installed vorn wheel, which `tools/wheels smoke` runs in a fresh
virtual environment from outside the source tree: each of the three modules on a small
case, over the stand-ins, and none of the test machinery present."""
from __future__ import annotations

import pathlib
import sys

import vorn
from vorn import _vornc_bridge as bridge
from vorn.serialization import _textcodec as tc
from vorn.types import types as T
from vorn.utils import _sortkit as sk

where = pathlib.Path(vorn.__file__).resolve()
assert "site-packages" in where.parts, f"vorn was imported from {where}, not from the installed wheel"

# vorn.utils._sortkit: a comparer, an equality function and a sort key of a Struct type.
person = T.struct([("name", T.string()), ("age", T.integer())])
people = [{"name": "b", "age": 2}, {"name": "a", "age": 3}, {"name": "a", "age": 1}]
assert sk.cy_compare_for(person)(people[0], people[1]) == 1
assert sk.cy_equal_for(person)(people[1], dict(people[1]))
assert sorted(people, key=sk.cy_make_vorn_key(person)) == [people[2], people[1], people[0]]

# vorn.serialization._textcodec: print and parse through the C runtime.
numbers = T.array(T.float_())
text = tc._print_value(numbers, [1.5, -0.0, 1e300])
assert tc._parse_value(numbers, text) == [1.5, -0.0, 1e300], text
assert tc._print_type(T.dict_(T.string(), person)).startswith("Dict<")

# vorn._pfnlink: the runtime (played by the stand-in bridge's driver) calls Python.
registry = bridge.Registry()
registry.register([{"name": "add", "fn": lambda a, b: a + b, "inputs": [T.integer()] * 2,
                    "output": T.integer()}])
assert registry.call("add", [2, 40]) == 42
registry.free()

# A release build carries no test machinery.
assert not hasattr(bridge, "_testing"), "the release wheel has vorn._vornc_bridge._testing"

print(f"vorn {vorn.__version__} on CPython {sys.version.split()[0]}: smoke test passed")
