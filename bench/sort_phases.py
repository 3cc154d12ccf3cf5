"""Where a keyed sort's time goes, against the alternative a user would write:
making the keys, sorting keys made beforehand, freeing sorted keys, and the whole
sorted() call; and the bytes each key takes (tracemalloc, as requested of the
allocator).

    .venv/bin/python bench/sort_phases.py [case ...]     (default: every case)

Times are in ms (CPU time, best of five, interleaved, collector paused), ours / the
alternative's; "sort" compares the comparisons alone, since both sides sort objects
made beforehand. "make" frees the keys too, in the order they were made; "free"
frees keys already sorted, as sorted() frees its keys once it has sorted them, when
neighbours in the list lie anywhere in memory. The keyless alternatives make and
free nothing."""
from __future__ import annotations

import gc
import operator
import pathlib
import random
import sys
import time
import tracemalloc

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import sample_values as sv  # noqa: E402
from harness import race  # noqa: E402

from vorn.types import types as T  # noqa: E402
from vorn.types.values import VornArray  # noqa: E402
from vorn.utils._sortkit import cy_make_vorn_key  # noqa: E402


def cases(rng):
    return {
        "structs": (sv.PERSON, lambda: sv.people(rng, 100_000), operator.itemgetter("name", "age")),
        # The same, each value with a str of its own as its name: the tuples' strs are
        # then not shared, and no longer in the cache when the tuples are compared.
        "structs_own_names": (sv.PERSON, lambda: sv.people(rng, 100_000, own_names=True),
                              operator.itemgetter("name", "age")),
        "structs5": (sv.FIVE_FIELDS, lambda: sv.five_field_structs(rng, 100_000),
                     operator.itemgetter(*sv.FIVE_FIELD_NAMES)),
        "lists": (T.array(T.integer()), lambda: sv.int_arrays(rng, 20_000), None),
        "vornarrays": (T.array(T.integer()), lambda: [VornArray(a) for a in sv.int_arrays(rng, 20_000)], None),
        "variants": (sv.OPTION, lambda: sv.options(rng, 100_000), lambda v: (v["type"], v["value"])),
        "dicts": (sv.STR_INT_DICT, lambda: sv.str_int_dicts(rng, 100_000), lambda d: tuple(d.items())),
        "sets": (T.set_(T.integer()), lambda: sv.int_sets(rng, 20_000), sorted),
        "recursive": (sv.INT_LIST, lambda: sv.linked_lists(rng, 100_000), sv.heads),
    }


def bytes_each(make_keys, n):
    """Bytes allocated per value by make_keys(), beyond the list that holds the keys."""
    tracemalloc.start()
    keys = make_keys()
    held, _ = tracemalloc.get_traced_memory()
    tracemalloc.stop()
    return (held - sys.getsizeof(keys)) / n if keys is not None else 0.0


def free_sorted(makes, repeat=5):
    """Best CPU time of freeing, in sorted order, the objects each of ``makes`` returns,
    made and sorted anew each round (interleaved, collector paused); 0 where one
    makes nothing."""
    best = dict.fromkeys(makes, float("inf"))
    for _ in range(repeat):
        for name, make in makes.items():
            gc.collect()
            gc.disable()
            try:
                made = make()
                if made is None:
                    best[name] = 0.0
                    continue
                made.sort()
                start = time.process_time()
                del made[:]
                best[name] = min(best[name], time.process_time() - start)
            finally:
                gc.enable()
    return best


def main(names):
    table = cases(random.Random(11))
    print(f"{'case':18} {'make (ms)':>16} {'sort (ms)':>16} {'free (ms)':>16} {'whole (ms)':>16}"
          f"   sort ratio  whole ratio  {'bytes a key':>14}")
    for name in names or table:
        t, make, alt = table[name]
        values = make()
        key = cy_make_vorn_key(t)

        def make_keys():
            return list(map(key, values))

        def make_alts():
            return list(map(alt, values)) if alt else None

        keys = make_keys()
        alts = make_alts() if alt else list(values)
        times = race({
            "make": make_keys,
            "make alt": make_alts,
            "sort": lambda: sorted(keys),
            "sort alt": lambda: sorted(alts),
            "whole": lambda: sorted(values, key=key),
            "whole alt": (lambda: sorted(values, key=alt)) if alt else (lambda: sorted(values)),
        })
        times |= free_sorted({"free": make_keys, "free alt": make_alts})
        ms = {k: v * 1e3 for k, v in times.items()}
        size = bytes_each(make_keys, len(values))
        alt_size = bytes_each(make_alts, len(values))
        print(f"{name:18} {ms['make']:7.1f} /{ms['make alt']:7.1f} {ms['sort']:7.1f} /{ms['sort alt']:7.1f} "
              f"{ms['free']:7.1f} /{ms['free alt']:7.1f} {ms['whole']:7.1f} /{ms['whole alt']:7.1f}   "
              f"{ms['sort alt'] / ms['sort']:10.2f} {ms['whole alt'] / ms['whole']:12.2f}  "
              f"{size:5.0f} /{alt_size:5.0f}", flush=True)


if __name__ == "__main__":
    main(sys.argv[1:])
