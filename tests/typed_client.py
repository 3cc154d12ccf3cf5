"""A client of the three modules and the stand-in bridge written as a typed application
would write it, using them as the API reference and the examples do; the typing tests
check it with `mypy --strict` and run it."""
from __future__ import annotations

import asyncio
import bisect
import copy
import math
import pickle
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

from sortedcontainers import SortedKeyList, SortedList

from vorn import _pfnlink
from vorn import _vornc_bridge as bridge
from vorn.serialization import _textcodec as tc
from vorn.types import types as T
from vorn.types.values import VornArray, VornRef
from vorn.utils import _sortkit as sk

if TYPE_CHECKING:
    from vorn._vornc_bridge import PlatformFunction
    from vorn.utils._sortkit import Comparer, EqualityFunction, IdentityFunction, TypeDescriptor, VornKey

PERSON = T.struct(name=T.string(), age=T.integer())
INT_LIST = T.recursive("L", T.variant(nil=T.null(), cons=T.struct(head=T.integer(), tail=T.rec_ref("L"))))
Person = dict[str, Any]


@dataclass
class Directory:
    """People kept in Vorn order, looked up by bisection."""

    key: type[VornKey]
    people: list[Person]

    @classmethod
    def of(cls, people: list[Person]) -> Directory:
        key = sk.cy_make_vorn_key(PERSON)
        return cls(key, sorted(people, key=key))

    def insert(self, person: Person) -> None:
        bisect.insort(self.people, person, key=self.key)

    def position(self, person: Person) -> int:
        return bisect.bisect_left(self.people, self.key(person), key=self.key)


def scalar_orders() -> None:
    assert sk.cy_compare_bool(False, True) == -1
    assert sk.cy_compare_int(-2**63, 2**63 - 1) == -1
    assert sk.cy_compare_float(math.nan, math.inf) == 1 and sk.cy_compare_float(-0.0, 0) == -1
    assert sk.cy_equal_float(math.nan, math.nan) is True
    assert sk.cy_compare_string("z", "é") == -1


def oldest_first(people: list[Person]) -> list[Person]:
    compare: Comparer = sk.cy_compare_for(T.integer())
    by_age = sk.cy_make_vorn_key(T.integer())
    ages = [p["age"] for p in people]
    ages.sort(key=by_age, reverse=True)
    assert compare(ages[0], ages[-1]) >= 0 and compare.__qualname__ == "cy_compare_for.<locals>.compare_int"
    return sorted(people, key=lambda p: by_age(p["age"]), reverse=True)


def dedupe(values: list[list[float]]) -> list[list[float]]:
    equal: EqualityFunction = sk.cy_equal_for(T.array(T.float_()))
    kept: list[list[float]] = []
    for v in values:
        if not any(equal(v, k) for k in kept):
            kept.append(v)
    return kept


def cons(head: int, tail: dict[str, Any]) -> dict[str, Any]:
    return {"type": "cons", "value": {"head": head, "tail": tail}}


def recursive_types() -> None:
    nil: dict[str, Any] = {"type": "nil", "value": None}
    compare = sk.cy_compare_for(INT_LIST)
    assert compare(cons(1, cons(2, nil)), cons(1, nil)) == -1  # cases order by name: cons < nil

    # A caller's type context binds a scope the descriptor only refers to.
    bound: dict[str, Comparer] = {"L": sk.cy_compare_for(T.integer())}
    assert sk.cy_compare_for(T.array(T.rec_ref("L")), bound)([1], [2]) == -1 and list(bound) == ["L"]

    nested = T.recursive(1, T.array(T.rec_ref(1)))
    a, b = VornArray(), VornArray()
    a.append(a)
    b.append(b)
    ctx: dict[int, set[int]] = {}
    assert sk.cy_compare_for(nested)(a, b, ctx) == 0 and ctx
    assert sk.cy_equal_for(nested)(a, b)


def identity() -> None:
    same: IdentityFunction = sk.cy_is_for(T.ref(T.integer()))
    r = VornRef(1)
    assert same(r, r) and not same(r, VornRef(1)) and sk.cy_equal_for(T.ref(T.integer()))(r, VornRef(1))
    assert sk.cy_is_for(T.float_())(0.0, -0.0)


def round_trip(key: sk.CyVornKey) -> sk.CyVornKey:
    restored: sk.CyVornKey = pickle.loads(pickle.dumps(key))
    assert restored == key and copy.deepcopy(key) == key
    return restored


def sorting() -> None:
    people: list[Person] = [{"name": "Alan", "age": 41}, {"name": "Ada", "age": 36}]
    directory = Directory.of(people)
    directory.insert({"name": "Ada", "age": 12})
    assert [p["age"] for p in directory.people] == [12, 36, 41]
    assert directory.position({"name": "Ada", "age": 36}) == 1

    ranked: SortedKeyList[Person, VornKey] = SortedKeyList(people, key=directory.key)
    ranked.add({"name": "Grace", "age": 85})
    assert ranked[-1]["name"] == "Grace"
    assert ranked.bisect_key_left(directory.key({"name": "B", "age": 0})) == 2

    queue: SortedList[set[int]] = SortedList(key=sk.cy_make_vorn_key(T.set_(T.integer())))
    for s in ({3, 1}, {1, 2}, set()):
        queue.add(s)
    assert [sorted(s) for s in queue] == [[], [1, 2], [1, 3]]

    assert [p["age"] for p in oldest_first(people)] == [41, 36]
    assert len(dedupe([[float("nan")], [float("nan")], [0.0], [-0.0]])) == 3  # NaN == NaN, -0.0 != 0.0

    key = sk.CyVornKey(3, sk.cy_compare_int)
    assert round_trip(key).value == 3
    restored = sk.__pyx_unpickle_CyVornKey(directory.key, 230660886, (sk.cy_compare_for(PERSON), people[0]))
    assert isinstance(restored, directory.key) and restored == sk.CyVornKey(people[0], sk.cy_compare_for(PERSON))
    value: object = directory.key({"name": "Ada", "age": 1}).value
    assert isinstance(value, dict)


def text_format(t: TypeDescriptor = PERSON) -> None:
    assert tc._print_type(t) == "Struct{name: String, age: Integer}"
    text: str = tc._print_value(t, {"name": "Ada", "age": 36})
    assert tc._parse_value(t, text) == {"name": "Ada", "age": 36}
    try:
        tc._parse_value(T.integer(), "12 apples")
    except ValueError as e:
        assert str(e) == "vorn-c parse failed for: 12 apples"


def add(a: int, b: int) -> int:
    return a + b


async def slow_double(x: int) -> int:
    await asyncio.sleep(0)
    return 2 * x


def platform_functions() -> None:
    I = T.integer()
    functions: list[PlatformFunction] = [
        {"name": "add", "fn": add, "inputs": [I, I], "output": I},
        {"name": "slow_double", "fn": slow_double, "type": "async", "inputs": [I], "output": I},
        {"name": "untyped", "fn": add},
    ]
    registry = bridge.Registry()
    registry.register(functions)
    assert registry.call("add", [2, 40]) == 42
    assert registry.call("slow_double", [21]) == 42
    assert registry.call("untyped", [1, 2], arg_types=[I, I], ret_type=I) == 3
    registry.call_many(3, "add", (1, 1))
    assert [e["name"] for e in registry.entries()] == ["add", "slow_double", "untyped"]
    held = bridge.CValue(T.array(I), [1, 2])
    assert held.kind == "Array" and held.text() == "[1, 2]"
    assert str(bridge.CType(I)) == "Integer" and bridge.CType(I).to_py() == I
    address: int | None = registry.address
    assert address is not None and not registry.freed

    _pfnlink.clear_platform_state()
    try:
        registry.call("add", [1, 1])
    except bridge.PlatformError as e:
        assert "has no Python dispatch state" in str(e)
    registry.free()
    types_alive, values_alive = bridge.live_handles()
    assert types_alive >= 0 and values_alive >= 0


def main() -> None:
    scalar_orders()
    sorting()
    recursive_types()
    identity()
    text_format()
    platform_functions()


if __name__ == "__main__":
    main()
