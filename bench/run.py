"""Runs every benchmark script of this folder (bench_*.py), in name order."""
from __future__ import annotations

import pathlib
import runpy
import sys

here = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(here))
only = sys.argv[1:]
for script in sorted(here.glob("bench_*.py")):
    if only and not any(name in script.stem for name in only):
        continue
    runpy.run_path(str(script), run_name="__main__")
