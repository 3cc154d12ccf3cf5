"""Random Vorn values and their types for the benchmarks: each maker takes a seeded
``random.Random`` and a count, so every run sees the same data."""
from __future__ import annotations

import math
import string

from vorn.types import types as T

PERSON = T.struct(name=T.string(), age=T.integer())
FIVE_FIELDS = T.struct(name=T.string(), age=T.integer(), score=T.float_(), city=T.string(),
                       rank=T.integer())
FIVE_FIELD_NAMES = ("name", "age", "score", "city", "rank")
OPTION = T.variant(none=T.null(), some=T.integer())
STR_INT_DICT = T.dict_(T.string(), T.integer())
INT_LIST = T.recursive("L", T.variant(nil=T.null(), cons=T.struct(head=T.integer(), tail=T.rec_ref("L"))))


def ints(rng, n):
    return [rng.randint(-2**62, 2**62) for _ in range(n)]


def floats(rng, n):
    """Uniform floats with a NaN or a -0.0 every 50 values."""
    out = [rng.uniform(-1e6, 1e6) for _ in range(n)]
    for i in range(0, n, 50):
        out[i] = math.nan if i % 100 == 0 else -0.0
    return out


def strings(rng, n):
    letters = string.ascii_letters
    return ["".join(rng.choices(letters, k=rng.randint(3, 12))) for _ in range(n)]


def people(rng, n, own_names=False):
    """{name, age} Structs; names repeat (n/20 of them), so ages often decide. With
    ``own_names``, each value has a name (a str) of its own."""
    if own_names:
        return [{"name": name, "age": rng.randint(0, 99)} for name in strings(rng, n)]
    names = strings(rng, n // 20 + 1)
    return [{"name": rng.choice(names), "age": rng.randint(0, 99)} for _ in range(n)]


def five_field_structs(rng, n):
    """Structs of FIVE_FIELDS whose first four fields repeat often, so comparisons go deep."""
    names, cities = strings(rng, 8), strings(rng, 4)
    return [{"name": rng.choice(names), "age": rng.randint(0, 3), "score": rng.choice([0.5, 1.5, -0.0]),
             "city": rng.choice(cities), "rank": rng.randint(0, 10**6)} for _ in range(n)]


def int_arrays(rng, n, length=10):
    """Lists of small Integers, so comparisons walk several elements."""
    return [[rng.randint(0, 3) for _ in range(length)] for _ in range(n)]


def options(rng, n):
    """Variants of OPTION: a fifth "none", the rest "some" with an Integer payload."""
    return [{"type": "none", "value": None} if rng.random() < 0.2 else
            {"type": "some", "value": rng.randint(0, 10**6)} for _ in range(n)]


def str_int_dicts(rng, n):
    """Dicts of three entries, keys drawn from five, values small."""
    keys = ["alpha", "beta", "gamma", "delta", "eps"]
    return [{k: rng.randint(0, 9) for k in rng.sample(keys, 3)} for _ in range(n)]


def int_sets(rng, n):
    return [set(rng.sample(range(20), 4)) for _ in range(n)]


def sets_of_sets(rng, n):
    return [frozenset(frozenset(rng.sample(range(40), 4)) for _ in range(4)) for _ in range(n)]


def linked_lists(rng, n, cells=5):
    """INT_LIST values of `cells` cons cells with small heads."""
    out = []
    for _ in range(n):
        cell = {"type": "nil", "value": None}
        for _ in range(cells):
            cell = {"type": "cons", "value": {"head": rng.randint(0, 2), "tail": cell}}
        out.append(cell)
    return out


def heads(cell):
    """The heads of an INT_LIST value as a flat tuple (the key a user would write)."""
    out = []
    while cell["type"] == "cons":
        cell = cell["value"]
        out.append(cell["head"])
        cell = cell["tail"]
    return tuple(out)
