"""A short tour of the three modules: runs every tour_*.py of this folder in name order."""
from __future__ import annotations

import pathlib
import runpy

here = pathlib.Path(__file__).resolve().parent
for part in sorted(here.glob("tour_*.py")):
    print(f"\n### {part.stem[5:].replace('_', ' ')}")
    runpy.run_path(str(part), run_name="__main__")
