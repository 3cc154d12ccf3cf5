"""Instructions per comparison, counted by valgrind's callgrind (stable on a busy
machine, unlike timings).

    .venv/bin/python bench/callgrind_counts.py [case ...|all] [--keep DIR]
                                                (default cases: struct struct5 array)
    .venv/bin/python bench/callgrind_counts.py sorted_key_list
                                                (instructions per SortedKeyList.add)
    .venv/bin/python bench/callgrind_counts.py --memory [case ...]
                                                (default cases: structs variants lists)

For each case, the comparisons that sorted() makes on a fixed list of values are
recorded once; each way of comparing ("key <", our comparer called directly,
cmp_to_key, the alternative a user would write) then replays exactly those pairs in a
C loop, deque(map(op, lefts, rights), maxlen=0), in a process of its own under
callgrind. The same process without the replay is counted too, and the difference
divided by the number of pairs is the figure printed. It includes the loop's own cost
(about what "loop overhead", operator.is_ over the same pairs, shows).

With --memory, each case of sort_phases.py (default: structs variants lists) is sorted
whole instead, as keys made beforehand against the alternative's objects made
beforehand, with callgrind's cache model: a 64 KiB first-level data cache and, as the
last level, 2 MiB (this machine's private second level). The figures per comparison
are instructions, first-level read misses and last-level read misses; the sort's
comparisons are the same on both sides, since both orders agree. A comparison that
reads more cache lines than the alternative's shows there even when its instructions
are fewer.

With --keep DIR the profiles stay in DIR for callgrind_annotate; the installed modules
are stripped, so for function names install the unstripped build first (copy
build/release/_sortkit*.so over the one in the venv's vorn/utils)."""
from __future__ import annotations

import collections
import functools
import gc
import operator
import os
import pathlib
import random
import re
import subprocess
import sys
import tempfile

HERE = pathlib.Path(__file__).resolve().parent
N = 2000  # values sorted per case


def _case_setup(case):
    """{way of comparing: (operation, left operands, right operands)} for `case`."""
    sys.path.insert(0, str(HERE))
    import sample_values as sv
    from vorn.types import types as T
    from vorn.types.values import VornArray
    from vorn.utils._sortkit import cy_compare_for, cy_equal_for, cy_make_vorn_key

    rng = random.Random(7)
    sorts = {
        "struct": (sv.PERSON, lambda: sv.people(rng, N), operator.itemgetter("name", "age")),
        "struct5": (sv.FIVE_FIELDS, lambda: sv.five_field_structs(rng, N),
                    operator.itemgetter(*sv.FIVE_FIELD_NAMES)),
        "array": (T.array(T.integer()), lambda: sv.int_arrays(rng, N), None),
        "vornarray": (T.array(T.integer()), lambda: [VornArray(a) for a in sv.int_arrays(rng, N)], None),
        "variant": (sv.OPTION, lambda: sv.options(rng, N), lambda v: (v["type"], v["value"])),
        "dict": (sv.STR_INT_DICT, lambda: sv.str_int_dicts(rng, N), lambda d: tuple(d.items())),
        "set": (T.set_(T.integer()), lambda: sv.int_sets(rng, N), sorted),
        "linked": (sv.INT_LIST, lambda: sv.linked_lists(rng, N), sv.heads),
        "integer": (T.integer(), lambda: sv.ints(rng, N), None),
    }
    if case == "eq_struct":
        xs, ys = sv.people(random.Random(3), N), sv.people(random.Random(3), N)
        return {"equality fn": (cy_equal_for(sv.PERSON), xs, ys), "dict ==": (operator.eq, xs, ys),
                "loop overhead": (operator.is_, xs, ys)}
    t, make, alt_key = sorts[case]
    values = make()
    compare = cy_compare_for(t)
    pairs = []

    def recording(i, j):
        pairs.append((i, j))
        return compare(values[i], values[j])
    sorted(range(len(values)), key=functools.cmp_to_key(recording))

    def replay(objs):
        return [objs[i] for i, _ in pairs], [objs[j] for _, j in pairs]
    key = cy_make_vorn_key(t)
    to_key = functools.cmp_to_key(compare)
    alternative = values if alt_key is None else [alt_key(v) for v in values]
    return {"key <": (operator.lt, *replay([key(v) for v in values])),
            "comparer": (compare, *replay(values)),
            "cmp_to_key <": (operator.lt, *replay([to_key(v) for v in values])),
            "alternative <": (operator.lt, *replay(alternative)),
            "loop overhead": (operator.is_, *replay(values))}


ADDS = 20_000  # Structs added per SortedKeyList case, as bench_composites.py adds


def _adds(way):
    """What bench_composites.py times for SortedKeyList.add: adds ADDS Structs to a
    SortedKeyList of our keys ("ours"), or their itemgetter tuples to a SortedList
    ("alternative"); with way "-", only makes the values."""
    sys.path.insert(0, str(HERE))
    import sample_values as sv
    from sortedcontainers import SortedKeyList, SortedList
    from vorn.utils._sortkit import cy_make_vorn_key
    people = sv.people(random.Random(12), ADDS)
    key, getter = cy_make_vorn_key(sv.PERSON), operator.itemgetter("name", "age")
    if way == "ours":
        s = SortedKeyList(key=key)
        for p in people:
            s.add(p)
    elif way == "alternative":
        s = SortedList()
        for p in people:
            s.add(getter(p))
    print(ADDS)


def child(case, way):
    gc.disable()
    if case == "sorted_key_list":
        _adds(way)
        return
    ways = _case_setup(case)
    if way != "-":
        op, lefts, rights = ways[way]
        collections.deque(map(op, lefts, rights), maxlen=0)
    print(len(next(iter(ways.values()))[1]))


def _count(case, way, keep=None):
    """(instructions of the whole process, number of pairs); the profile is kept in the
    folder `keep` if given, for callgrind_annotate."""
    with tempfile.TemporaryDirectory() as tmp:
        label = re.sub(r"\W+", "_", way).strip("_") or "none"
        out = pathlib.Path(keep or tmp) / f"callgrind.{case}.{label}.out"
        run = subprocess.run(
            ["valgrind", "-q", "--tool=callgrind", f"--callgrind-out-file={out}",
             sys.executable, __file__, "--child", case, way],
            env={**os.environ, "PYTHONHASHSEED": "0"}, capture_output=True, text=True, check=True)
        for line in out.read_text().splitlines():
            if line.startswith(("summary:", "totals:")):
                return int(line.split()[1]), int(run.stdout.split()[-1])
    raise RuntimeError(f"no instruction total for {case} {way}")


CASES = ["struct", "struct5", "array", "vornarray", "variant", "dict", "set", "linked", "integer",
         "eq_struct", "sorted_key_list"]


MEMORY_EVENTS = {"Ir": "instructions", "D1mr": "L1 read misses", "DLmr": "LL read misses"}


def memory_child(case, way, sort):
    """Makes the values, then our keys or the alternative's objects; sorts them when
    `sort` is "sort". With way "count", prints how many comparisons the sort makes."""
    import sort_phases
    from vorn.utils._sortkit import cy_make_vorn_key
    gc.disable()
    t, make, alt_key = sort_phases.cases(random.Random(11))[case]
    values = make()
    if way == "ours":
        key = cy_make_vorn_key(t)
        objs = [key(v) for v in values]
    else:
        objs = list(values) if alt_key is None else [alt_key(v) for v in values]
    if way == "count":
        count = 0

        def counting(x, y):
            nonlocal count
            count += 1
            return -1 if x < y else 1 if y < x else 0
        objs.sort(key=functools.cmp_to_key(counting))
        print(count)
    elif sort == "sort":
        objs.sort()


def _memory_count(case, way, sort):
    with tempfile.TemporaryDirectory() as tmp:
        out = pathlib.Path(tmp) / "callgrind.out"
        subprocess.run(
            ["valgrind", "-q", "--tool=callgrind", "--cache-sim=yes", "--D1=65536,8,64",
             "--LL=2097152,16,64", f"--callgrind-out-file={out}", sys.executable, __file__,
             "--memory-child", case, way, sort],
            env={**os.environ, "PYTHONHASHSEED": "0"}, capture_output=True, text=True, check=True)
        text = out.read_text()
        events = next(line.split()[1:] for line in text.splitlines() if line.startswith("events:"))
        totals = next(line.split()[1:] for line in text.splitlines() if line.startswith(("summary:", "totals:")))
        return {e: int(v) for e, v in zip(events, totals)}


def memory_main(cases):
    sys.path.insert(0, str(HERE))
    for case in cases or ["structs", "variants", "lists"]:
        comparisons = int(subprocess.run([sys.executable, __file__, "--memory-child", case, "count", "-"],
                                         capture_output=True, text=True, check=True).stdout.split()[-1])
        print(f"== {case}: per comparison of a whole sort, over {comparisons} comparisons", flush=True)
        print(f"   {'':<14}" + "".join(f"{name:>16}" for name in MEMORY_EVENTS.values()))
        for way in ("ours", "alternative"):
            made, sorted_ = _memory_count(case, way, "-"), _memory_count(case, way, "sort")
            print(f"   {way:<14}" + "".join(f"{(sorted_[e] - made[e]) / comparisons:16.2f}" for e in MEMORY_EVENTS),
                  flush=True)


def main(args):
    if "--memory" in args:
        memory_main([a for a in args if a != "--memory"])
        return
    keep = None
    if "--keep" in args:  # --keep DIR: keep the profiles there
        i = args.index("--keep")
        keep, args = args[i + 1], args[:i] + args[i + 2:]
        pathlib.Path(keep).mkdir(parents=True, exist_ok=True)
    cases = CASES if args == ["all"] else args or ["struct", "struct5", "array"]
    for case in cases:
        adds = case == "sorted_key_list"
        ways = ["ours", "alternative"] if adds else list(_case_setup(case))
        base, pairs = _count(case, "-", keep)
        unit = "add" if adds else "comparison"
        print(f"== {case}: instructions per {unit}, over {pairs} {unit}s", flush=True)
        for way in ways:
            total, _ = _count(case, way, keep)
            print(f"   {way:<16} {(total - base) / pairs:8.0f}", flush=True)


if __name__ == "__main__":
    if sys.argv[1:2] == ["--child"]:
        child(*sys.argv[2:4])
    elif sys.argv[1:2] == ["--memory-child"]:
        sys.path.insert(0, str(HERE))
        memory_child(*sys.argv[2:5])
    else:
        main(sys.argv[1:])
