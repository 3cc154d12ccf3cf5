"""Printing and parsing the Vorn text format through vorn.serialization._textcodec,
against json.dumps / json.loads of the same data in the same run. The target is a
ratio (ours / json) of at most 2 in every row."""
from __future__ import annotations

import json
import pathlib
import random
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

from harness import measure  # noqa: E402
from vorn.serialization._textcodec import _parse_value, _print_value  # noqa: E402
from vorn.types import types as T  # noqa: E402

QUICK = "--quick" in sys.argv  # smaller inputs, for a smoke run
SCALE = 10 if QUICK else 1
rng = random.Random(5)


def _integers():
    return [rng.randint(-2**62, 2**62) for _ in range(100_000 // SCALE)]


def _people():
    words = ["red", "green", "blue", "admin", "guest", "vorn", "x", "longer-tag"]
    return [{"name": f"person {i}", "age": rng.randint(0, 99), "tags": rng.sample(words, rng.randint(0, 4))}
            for i in range(10_000 // SCALE)]


def _long_string():
    words = ["lorem", "ipsum", "dolor", "sit", "amet", "naïve", "café", '"quoted"', "tab\there", "line\n"]
    return " ".join(rng.choice(words) for _ in range(200_000 // SCALE))


CASES = [
    ("100 000 Integers", T.array(T.integer()), _integers()),
    ("10 000 Structs {name, age, tags}", T.array(T.struct(name=T.string(), age=T.integer(), tags=T.array(T.string()))),
     _people()),
    ("one long String", T.string(), _long_string()),
]


def main() -> None:
    print("\n== text codec against json (ratio = ours / json; target <= 2)")
    print(f"{'case':<42} {'ours':>10} {'json':>10} {'ratio':>7}")
    for name, t, value in CASES:
        text = _print_value(t, value)
        assert _print_value(t, _parse_value(t, text)) == text
        encoded = json.dumps(value)
        rows = [
            ("print " + name, measure(lambda: _print_value(t, value)), measure(lambda: json.dumps(value))),
            ("parse " + name, measure(lambda: _parse_value(t, text)), measure(lambda: json.loads(encoded))),
        ]
        for case, ours, theirs in rows:
            print(f"{case:<42} {ours * 1e3:8.2f}ms {theirs * 1e3:8.2f}ms {ours / theirs:7.2f}", flush=True)


if __name__ == "__main__":
    main()
