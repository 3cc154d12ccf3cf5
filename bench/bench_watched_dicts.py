"""What a program pays for changing dicts that keys have read. From 3.12 on, a key
watches the dicts of its value (a dict watcher), and every later change to one of them
calls the module's watcher once; the dict stays watched while it lives. Each row
changes 100k times a dict that a key has read and, as the baseline, a fresh dict of
the same shape that no key has read: ratio = baseline / watched (below 1: what the
watching costs each change)."""
from __future__ import annotations

import platform

from harness import Table, race
from vorn.types import types as T
from vorn.utils._sortkit import cy_make_vorn_key

PERSON = T.struct(name=T.string(), age=T.integer())
N = 100_000


class Person:
    def __init__(self, name, age):
        self.name = name
        self.age = age


def item_stores(d):
    def run():
        for i in range(N):
            d["age"] = i
    return run


def attribute_stores(o):
    def run():
        for i in range(N):
            o.age = i
    return run


def pop_and_put_back(d):
    def run():
        for _ in range(N // 2):
            v = d.pop("age")
            d["age"] = v
    return run


def main():
    print(f"CPython {platform.python_version()}")
    key = cy_make_vorn_key(PERSON)
    table = Table(f"{N // 1000}k changes to a dict a key has read (watched) against one no key has read")
    table.header()
    for case, make, change in [
        ("d['age'] = i", lambda: {"name": "a", "age": 1}, item_stores),
        ("pop and store again", lambda: {"name": "a", "age": 1}, pop_and_put_back),
        ("o.age = i (instance dict)", lambda: Person("a", 1), attribute_stores),
    ]:
        watched, plain = make(), make()
        if isinstance(plain, Person):
            vars(plain)  # its instance dict made, as the key's value makes the other's
        kept = key(vars(watched) if isinstance(watched, Person) else watched)  # noqa: F841 - stamps the dict
        times = race({"watched": change(watched), "not watched": change(plain)}, repeat=5)
        table.add(case, times["watched"], **{"not watched": times["not watched"]})


if __name__ == "__main__":
    main()
