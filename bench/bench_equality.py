"""Equality and identity functions against the pure-Python builders and, where there is
one, Python's own ``==`` on the same data (the floor)."""
from __future__ import annotations

import random
import sys
import threading

from harness import Table, measure
from pure_equality import equal_for, is_for

from vorn.types import types as T
from vorn.types.values import VornArray
from vorn.utils._sortkit import cy_equal_for, cy_is_for

random.seed(4)

PERSON = T.struct(id=T.integer(), name=T.string(), score=T.float_(), active=T.boolean())
LINKED = T.recursive("L", T.variant(nil=T.null(), cons=T.struct(head=T.integer(), tail=T.rec_ref("L"))))
RECORD = T.struct([(f"f{i}", [T.integer(), T.float_(), T.string()][i % 3]) for i in range(12)]
                  + [("inner", PERSON)])


def person(i: int) -> dict:
    return {"id": i, "name": f"person {i}", "score": i * 0.5, "active": i % 2 == 0}


def linked(n: int) -> dict:
    cell = {"type": "nil", "value": None}
    for i in range(n):
        cell = {"type": "cons", "value": {"head": i, "tail": cell}}
    return cell


def record() -> dict:
    r = {f"f{i}": [i, i * 1.5, f"s{i}"][i % 3] for i in range(12)}
    r["inner"] = person(7)
    return r


def case(table: Table, name: str, t: T.Type, x, y, floor=None, identity: bool = False) -> None:
    ours = (cy_is_for if identity else cy_equal_for)(t)
    pure = (is_for if identity else equal_for)(t)
    assert ours(x, y) is True and pure(x, y) is True
    baselines = {"pure": measure(lambda: pure(x, y))}
    if floor is not None:
        baselines["== floor"] = measure(floor)
    table.add(name, measure(lambda: ours(x, y)), **baselines)


def main() -> None:
    table = Table("equality and identity")
    table.header()

    floats = [random.random() for _ in range(1_000_000)]
    fx, fy = VornArray(floats), VornArray(float(repr(v)) for v in floats)  # equal, not the same
    assert all(a is not b for a, b in zip(fx[:10], fy[:10]))
    case(table, "Array of 1e6 Floats", T.array(T.float_()), fx, fy, floor=lambda: fx == fy)

    px = VornArray(person(i) for i in range(100_000))
    py = VornArray(person(i) for i in range(100_000))
    case(table, "Array of 1e5 Structs", T.array(PERSON), px, py, floor=lambda: px == py)

    lx, ly = linked(10_000), linked(10_000)
    case(table, "linked list of 1e4 cells", LINKED, lx, ly, floor=lambda: lx == ly)

    dx = {f"key {i}": i for i in range(100_000)}
    dy = {f"key {i}": i for i in range(100_000)}
    case(table, "Dict of 1e5 String keys", T.dict_(T.string(), T.integer()), dx, dy,
         floor=lambda: dx == dy)

    rx, ry = record(), record()
    case(table, "identity: Struct of 13 fields", RECORD, rx, ry, identity=True)
    case(table, "identity: linked list of 1e4 cells", LINKED, lx, ly, identity=True)


if __name__ == "__main__":
    # The recursive cases descend 30 000 calls: room on the stack and in the limit.
    sys.setrecursionlimit(200_000)
    threading.stack_size(512 * 1024 * 1024)
    worker = threading.Thread(target=main)
    worker.start()
    worker.join()
