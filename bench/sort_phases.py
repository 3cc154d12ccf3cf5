"""Where a keyed sort's time goes, against the alternative a user would write:
making the keys, sorting keys made beforehand, and the whole sorted() call; and the
bytes each key takes (tracemalloc, as requested of the allocator).

    .venv/bin/python bench/sort_phases.py [case ...]     (default: every case)

Times are in ms (CPU time, best of five, interleaved, collector paused), ours / the
alternative's; "sort" compares the comparisons alone, since both sides sort objects
made beforehand. The keyless alternatives make nothing."""
from __future__ import annotations

import operator
import pathlib
import random
import sys
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


def main(names):
    table = cases(random.Random(11))
    print(f"{'case':12} {'make (ms)':>16} {'sort (ms)':>16} {'whole (ms)':>16}   sort ratio  whole ratio"
          f"  {'bytes a key':>14}")
    for name in names or table:
        t, make, alt = table[name]
        values = make()
        key = cy_make_vorn_key(t)
        keys = list(map(key, values))
        alts = list(map(alt, values)) if alt else list(values)
        times = race({
            "make": lambda: list(map(key, values)),
            "make alt": (lambda: list(map(alt, values))) if alt else (lambda: None),
            "sort": lambda: sorted(keys),
            "sort alt": lambda: sorted(alts),
            "whole": lambda: sorted(values, key=key),
            "whole alt": (lambda: sorted(values, key=alt)) if alt else (lambda: sorted(values)),
        })
        ms = {k: v * 1e3 for k, v in times.items()}
        size = bytes_each(lambda: list(map(key, values)), len(values))
        alt_size = bytes_each((lambda: list(map(alt, values))) if alt else (lambda: None), len(values))
        print(f"{name:12} {ms['make']:7.1f} /{ms['make alt']:7.1f} {ms['sort']:7.1f} /{ms['sort alt']:7.1f} "
              f"{ms['whole']:7.1f} /{ms['whole alt']:7.1f}   {ms['sort alt'] / ms['sort']:10.2f} "
              f"{ms['whole alt'] / ms['whole']:12.2f}  {size:5.0f} /{alt_size:5.0f}", flush=True)


if __name__ == "__main__":
    main(sys.argv[1:])
