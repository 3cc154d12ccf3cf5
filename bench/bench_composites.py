"""Composite values against the shortcut a Python programmer would write: keyed sorts
against itemgetter, tuple and keyless sorts, equality and identity against dict ==,
for plain built-ins and for the value classes of vorn.types.values; the scalar sorts
against pre-made datetime.date objects of the same order; and the collector's cost.

Every row times ours and its alternatives interleaved in this process, best of several
rounds; ratio = alternative / ours (below 1 the alternative wins). A row meets its
target when its ratio against the alternative reaches it; "n/a" marks rows whose value
class runs Python code on the path, where no target applies."""
from __future__ import annotations

import collections
import datetime
import functools
import operator
import platform
import random
import sys

from sortedcontainers import SortedKeyList, SortedList

from harness import Table, race
import sample_values as sv
from vorn.types import types as T
from vorn.types.values import VornArray, VornDict, VornSet
from vorn.utils._sortkit import cy_compare_for, cy_equal_for, cy_is_for, cy_make_vorn_key

QUICK = "--quick" in sys.argv  # smaller inputs, for a smoke run
SCALE = 10 if QUICK else 1
REPEAT = 5
SCALAR_TARGET = 1 / 1.3  # keyed scalar sorts within 1.3x of sorting dates
rng = random.Random(12)
results = []  # (case, ratio, target or None)


def _status(ratio, target):
    if target is None:
        return "n/a"
    return f"{'ok  ' if ratio >= target else 'MISS'} (want >= {target:.2f})"


def row(table, case, fns, target, collector=False):
    """Times `fns` ("ours" first, then the alternative, then any more baselines) and
    adds the row; returns the times."""
    times = race(fns, repeat=REPEAT, collector=collector)
    ours = times.pop("ours")
    ratio = next(iter(times.values())) / ours
    results.append((case, ratio, target))
    table.add(case, ours, note=_status(ratio, target), **times)
    return {"ours": ours, **times}


def sort_row(table, case, t, values, alt_key, target, alternative="alternative"):
    """sorted(values, key=VornKey) against sorted(values, key=alt_key) (keyless for
    None) and against cmp_to_key over the same comparer. The data is made so that both
    orders agree, which is checked first."""
    key = cy_make_vorn_key(t)
    to_key = functools.cmp_to_key(cy_compare_for(t))
    assert sorted(values, key=key) == sorted(values, key=alt_key), case
    return row(table, case, {"ours": lambda: sorted(values, key=key),
                             alternative: lambda: sorted(values, key=alt_key),
                             "cmp_to_key": lambda: sorted(values, key=to_key)}, target)


def pairwise_row(table, case, fn, xs, ys, target, alternative="dict =="):
    """fn over 1e5 pairs against operator.eq over the same pairs."""
    assert all(map(fn, xs, ys)) and all(map(operator.eq, xs, ys)), case

    def over(f):
        return lambda: collections.deque(map(f, xs, ys), maxlen=0)
    return row(table, case, {"ours": over(fn), alternative: over(operator.eq)}, target)


def dated(t, values):
    """datetime.date objects in the order of `values` under the comparer of `t`."""
    key = cy_make_vorn_key(t)
    ranked = sorted(range(len(values)), key=lambda i: key(values[i]))
    dates = [None] * len(values)
    for r, i in enumerate(ranked):
        dates[i] = datetime.date.fromordinal(r + 1)
    return dates


def scalar_rows(table):
    out = {}
    for case, t, values in [("100k Integers", T.integer(), sv.ints(rng, 100_000 // SCALE)),
                            ("100k Floats (NaN, -0.0)", T.float_(), sv.floats(rng, 100_000 // SCALE)),
                            ("100k Strings", T.string(), sv.strings(rng, 100_000 // SCALE))]:
        key = cy_make_vorn_key(t)
        to_key = functools.cmp_to_key(cy_compare_for(t))
        dates = dated(t, values)
        out[case] = (key, to_key, values, dates)
        row(table, case, {"ours": lambda: sorted(values, key=key), "dates": lambda: sorted(dates),
                          "cmp_to_key": lambda: sorted(values, key=to_key)}, SCALAR_TARGET)
    return out


def composite_sort_rows(table):
    n = 100_000 // SCALE
    people = sv.people(rng, n)
    sort_row(table, "100k Structs {name, age}", sv.PERSON, people,
             operator.itemgetter("name", "age"), 1.0, "itemgetter")
    sort_row(table, "100k Structs of 5 fields", sv.FIVE_FIELDS, sv.five_field_structs(rng, n),
             operator.itemgetter(*sv.FIVE_FIELD_NAMES), 1.0, "itemgetter")
    arrays = sv.int_arrays(rng, 20_000 // SCALE)
    sort_row(table, "20k lists of 10 Integers", T.array(T.integer()), arrays, None, 1.0, "keyless")
    sort_row(table, "20k VornArrays of 10 Integers", T.array(T.integer()), [VornArray(a) for a in arrays],
             None, 1.0, "keyless")
    sort_row(table, "100k Variants none/some(Integer)", sv.OPTION, sv.options(rng, n),
             lambda v: (v["type"], v["value"]), 1.0, "(case, payload)")
    dicts = sv.str_int_dicts(rng, n)
    sort_row(table, "100k dicts of 3 String->Integer", sv.STR_INT_DICT, dicts,
             lambda d: tuple(d.items()), 1.0, "tuple(items)")
    sort_row(table, "100k VornDicts of 3 String->Integer", sv.STR_INT_DICT, [VornDict(d) for d in dicts],
             lambda d: tuple(d.items()), None, "tuple(items)")
    sets = sv.int_sets(rng, 20_000 // SCALE)
    sort_row(table, "20k sets of 4 Integers", T.set_(T.integer()), sets, sorted, 0.5, "key=sorted")
    sort_row(table, "20k VornSets of 4 Integers", T.set_(T.integer()), [VornSet(s) for s in sets],
             sorted, None, "key=sorted")
    sort_row(table, "100k recursive lists of 5 cells", sv.INT_LIST, sv.linked_lists(rng, n),
             sv.heads, 0.5, "flat tuple")
    return people


def sorted_list_row(table, people):
    people = people[:20_000 // SCALE]
    key = cy_make_vorn_key(sv.PERSON)
    getter = operator.itemgetter("name", "age")

    def ours():
        s = SortedKeyList(key=key)
        for p in people:
            s.add(p)

    def tuples():
        s = SortedList()
        for p in people:
            s.add(getter(p))
    row(table, "20k SortedKeyList.add of Structs", {"ours": ours, "SortedList of tuples": tuples}, 1.0)


def equality_rows(table):
    n = 100_000 // SCALE
    xs = sv.people(random.Random(3), n)
    ys = sv.people(random.Random(3), n)  # equal to xs, pair by pair, not the same objects
    pairwise_row(table, "equality of 1e5 Struct pairs", cy_equal_for(sv.PERSON), xs, ys, 1.0)
    pairwise_row(table, "identity of 1e5 Struct pairs", cy_is_for(sv.PERSON), xs, ys, 1.0)
    equal = cy_equal_for(sv.STR_INT_DICT)
    dx = {f"key {i}": i for i in range(n)}
    dy = {f"key {i}": i for i in range(n)}
    for case, x, y, target in [("equality of two dicts of 1e5 entries", dx, dy, 1.0),
                               ("equality of two VornDicts of 1e5 entries", VornDict(dx), VornDict(dy), None)]:
        assert equal(x, y) and x == y
        row(table, case, {"ours": lambda: equal(x, y), "dict ==": lambda: x == y}, target)


def collector_rows(table, scalars, struct_off):
    """The scalar Integer sort and the Struct sort with the collector on, and what the
    collector adds to each (time on / time off)."""
    key, to_key, values, dates = scalars["100k Integers"]
    on = row(table, "100k Integers, collector on", {"ours": lambda: sorted(values, key=key),
                                                   "dates": lambda: sorted(dates),
                                                   "cmp_to_key": lambda: sorted(values, key=to_key)},
             SCALAR_TARGET, collector=True)
    off = race({"ours": lambda: sorted(values, key=key), "cmp_to_key": lambda: sorted(values, key=to_key)},
               repeat=REPEAT)
    print(f"   collector on / off: ours {on['ours'] / off['ours']:.2f}x, "
          f"cmp_to_key {on['cmp_to_key'] / off['cmp_to_key']:.2f}x")
    people = struct_off
    key = cy_make_vorn_key(sv.PERSON)
    getter = operator.itemgetter("name", "age")
    row(table, "100k Structs {name, age}, collector on",
        {"ours": lambda: sorted(people, key=key), "itemgetter": lambda: sorted(people, key=getter)},
        1.0, collector=True)


def main():
    print(f"CPython {platform.python_version()}")
    if QUICK:
        print("--quick: every count below is divided by 10")
    table = Table("scalar keyed sorts against sorting pre-made datetime.date objects")
    table.header()
    scalars = scalar_rows(table)
    table = Table("composite sorts: ours = sorted(key=cy_make_vorn_key(t))")
    table.header()
    people = composite_sort_rows(table)
    sorted_list_row(table, people)
    table = Table("equality and identity of composites")
    table.header()
    equality_rows(table)
    table = Table("with the collector on")
    table.header()
    collector_rows(table, scalars, people)
    missed = [case for case, ratio, target in results if target is not None and ratio < target]
    print("\nall targets met" if not missed else f"\ntargets missed: {', '.join(missed)}")


if __name__ == "__main__":
    main()
