"""Sorting Vorn values with the native key class, against cmp_to_key over the same
native comparer, the pure-Python builders, and keyless sorted() where the raw values
sort natively (the floor)."""
from __future__ import annotations

import functools
import math
import random
import sys

from sortedcontainers import SortedList

from harness import Table, measure
import pure_ordering
import sample_values as sv
from vorn.types import types as T
from vorn.utils._sortkit import cy_compare_for, cy_make_vorn_key

QUICK = "--quick" in sys.argv  # smaller inputs, for a smoke run
SCALE = 10 if QUICK else 1
rng = random.Random(1234)


CASES = [
    # (name, type, values, sorts natively, scalar). Floats with NaN have no native
    # order, so their floor is timed on the same list with each NaN replaced.
    ("200k Integers", T.integer(), sv.ints(rng, 200_000 // SCALE), True, True),
    ("200k Floats (NaN, -0.0)", T.float_(), sv.floats(rng, 200_000 // SCALE), True, True),
    ("200k Strings", T.string(), sv.strings(rng, 200_000 // SCALE), True, True),
    ("100k Structs {name, age}", T.struct(name=T.string(), age=T.integer()),
     sv.people(rng, 100_000 // SCALE), False, False),
    ("20k Arrays of 10 Integers", T.array(T.integer()), sv.int_arrays(rng, 20_000 // SCALE), True, False),
    ("1k Sets of 4 Sets of 4 Integers", T.set_(T.set_(T.integer())),
     sv.sets_of_sets(rng, 1_000 // SCALE), False, False),
]

# Targets: (floor at most, vs cmp_to_key at least, vs pure Python at least).
SCALAR_TARGETS = (2.5, 3.0, 4.0)
COMPOSITE_TARGETS = (None, 2.0, 10.0)


def _check(case, ours, to_key, pure, floor, targets):
    max_floor, min_cmp, min_pure = targets
    notes = [f"cmp_to_key {to_key / ours:.1f}x (want >= {min_cmp})",
             f"pure {pure / ours:.1f}x (want >= {min_pure})"]
    ok = to_key / ours >= min_cmp and pure / ours >= min_pure
    if max_floor is not None and floor is not None:
        notes.append(f"floor {ours / floor:.2f}x slower (want <= {max_floor})")
        ok = ok and ours / floor <= max_floor
    print(f"   {'ok  ' if ok else 'MISS'} {case}: " + "; ".join(notes))
    return ok


def main():
    table = Table("sorted() of Vorn values: ours = sorted(key=cy_make_vorn_key(t))")
    table.header()
    results = []
    for name, t, values, native, scalar in CASES:
        key = cy_make_vorn_key(t)
        to_key = functools.cmp_to_key(cy_compare_for(t))
        pure_key = pure_ordering.make_vorn_key(t)
        assert sorted(values, key=key) == sorted(values, key=to_key)
        repeat = 3
        ours = measure(lambda: sorted(values, key=key), repeat=repeat)
        baselines = {
            "cmp_to_key": measure(lambda: sorted(values, key=to_key), repeat=repeat),
            "pure": measure(lambda: sorted(values, key=pure_key), repeat=repeat),
        }
        floor = None
        if native:
            plain = [0.5 if isinstance(v, float) and math.isnan(v) else v for v in values]
            floor = baselines["keyless floor"] = measure(lambda: sorted(plain), repeat=repeat)
        table.add(name, ours, **baselines)
        results.append((name, ours, baselines["cmp_to_key"], baselines["pure"], floor,
                        SCALAR_TARGETS if scalar else COMPOSITE_TARGETS))

    table = Table("SortedList(key=...) of 20k Structs, inserted one by one")
    table.header()
    people = sv.people(rng, 20_000 // SCALE)
    t = T.struct(name=T.string(), age=T.integer())

    def inserts(key):
        def run():
            s = SortedList(key=key)
            for p in people:
                s.add(p)
            return s
        return run
    ours = measure(inserts(cy_make_vorn_key(t)), repeat=3)
    to_key = measure(inserts(functools.cmp_to_key(cy_compare_for(t))), repeat=3)
    pure = measure(inserts(pure_ordering.make_vorn_key(t)), repeat=3)
    table.add("20k SortedList.add", ours, cmp_to_key=to_key, pure=pure)
    results.append(("20k SortedList.add", ours, to_key, pure, None, COMPOSITE_TARGETS))

    print("\n== targets")
    all_ok = all([_check(*r) for r in results])
    print("all targets met" if all_ok else "some targets missed")


if __name__ == "__main__":
    main()
