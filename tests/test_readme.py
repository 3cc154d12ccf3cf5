"""The README's Python examples run as written, and the tour it points users to runs
without the test extras."""
from __future__ import annotations

import pathlib
import re
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
README = ROOT / "README.md"
BLOCKS = re.findall(r"```python\n(.*?)```", README.read_text(), flags=re.S)


@pytest.mark.parametrize("index", range(len(BLOCKS)))
def test_readme_example_runs(index):
    exec(compile(BLOCKS[index], f"README.md[python block {index}]", "exec"), {})


def test_tour_runs_without_sortedcontainers(tmp_path):
    # A None entry in sys.modules makes the import fail as in an install without it.
    script = ("import runpy, sys; sys.modules['sortedcontainers'] = None; "
              f"runpy.run_path({str(ROOT / 'examples' / 'tour.py')!r}, run_name='__main__')")
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                         cwd=tmp_path, timeout=120)
    assert out.returncode == 0, out.stderr
    assert "skipped (pip install sortedcontainers to see it)" in out.stdout
