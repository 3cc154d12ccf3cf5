"""Instructions per comparison, counted by valgrind's callgrind (stable on a busy
machine, unlike timings).

    .venv/bin/python bench/callgrind_counts.py [case ...|all] [--keep DIR]
                                                (default cases: struct struct5 array)

For each case, the comparisons that sorted() makes on a fixed list of values are
recorded once; each way of comparing ("key <", our comparer called directly,
cmp_to_key, the alternative a user would write) then replays exactly those pairs in a
C loop, deque(map(op, lefts, rights), maxlen=0), in a process of its own under
callgrind. The same process without the replay is counted too, and the difference
divided by the number of pairs is the figure printed. It includes the loop's own cost
(about what "loop overhead", operator.is_ over the same pairs, shows).

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


def child(case, way):
    gc.disable()
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
         "eq_struct"]


def main(args):
    keep = None
    if "--keep" in args:  # --keep DIR: keep the profiles there
        i = args.index("--keep")
        keep, args = args[i + 1], args[:i] + args[i + 2:]
        pathlib.Path(keep).mkdir(parents=True, exist_ok=True)
    cases = CASES if args == ["all"] else args or ["struct", "struct5", "array"]
    for case in cases:
        ways = list(_case_setup(case))
        base, pairs = _count(case, "-", keep)
        print(f"== {case}: instructions per comparison, over {pairs} comparisons", flush=True)
        for way in ways:
            total, _ = _count(case, way, keep)
            print(f"   {way:<16} {(total - base) / pairs:8.0f}", flush=True)


if __name__ == "__main__":
    if sys.argv[1:2] == ["--child"]:
        child(*sys.argv[2:4])
    else:
        main(sys.argv[1:])
