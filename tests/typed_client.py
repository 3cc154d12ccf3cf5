"""A client of the ordering module written as a typed application would write it; the
typing tests check it with `mypy --strict` and run it."""
from __future__ import annotations

import bisect
import copy
import pickle
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

from sortedcontainers import SortedKeyList

from vorn.types import types as T
from vorn.utils import _sortkit as sk

if TYPE_CHECKING:
    from vorn.utils._sortkit import Comparer, EqualityFunction, VornKey

PERSON = T.struct(name=T.string(), age=T.integer())
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


def oldest_first(people: list[Person]) -> list[Person]:
    compare: Comparer = sk.cy_compare_for(T.integer())
    by_age = sk.cy_make_vorn_key(T.integer())
    ages = [p["age"] for p in people]
    ages.sort(key=by_age, reverse=True)
    assert compare(ages[0], ages[-1]) >= 0
    return sorted(people, key=lambda p: by_age(p["age"]), reverse=True)


def dedupe(values: list[list[float]]) -> list[list[float]]:
    equal: EqualityFunction = sk.cy_equal_for(T.array(T.float_()))
    kept: list[list[float]] = []
    for v in values:
        if not any(equal(v, k) for k in kept):
            kept.append(v)
    return kept


def round_trip(key: sk.CyVornKey) -> sk.CyVornKey:
    restored: sk.CyVornKey = pickle.loads(pickle.dumps(key))
    assert restored == key and copy.deepcopy(key) == key
    return restored


def main() -> None:
    people: list[Person] = [{"name": "Alan", "age": 41}, {"name": "Ada", "age": 36}]
    directory = Directory.of(people)
    directory.insert({"name": "Ada", "age": 12})
    assert [p["age"] for p in directory.people] == [12, 36, 41]
    assert directory.position({"name": "Ada", "age": 36}) == 1

    ranked: SortedKeyList[Person, VornKey] = SortedKeyList(people, key=directory.key)
    ranked.add({"name": "Grace", "age": 85})
    assert ranked[-1]["name"] == "Grace"
    assert ranked.bisect_key_left(directory.key({"name": "B", "age": 0})) == 2

    assert [p["age"] for p in oldest_first(people)] == [41, 36]
    assert len(dedupe([[float("nan")], [float("nan")], [0.0], [-0.0]])) == 3  # NaN == NaN, -0.0 != 0.0

    key = sk.CyVornKey(3, sk.cy_compare_int)
    assert round_trip(key).value == 3
    value: object = directory.key({"name": "Ada", "age": 1}).value
    assert isinstance(value, dict)


if __name__ == "__main__":
    main()
