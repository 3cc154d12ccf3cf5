"""The type stubs hold: stubtest finds them faithful to the modules, and `mypy --strict`
accepts the README's and the API reference's examples and a typed client."""
from __future__ import annotations

import pathlib
import re
import subprocess
import sys

import pytest

pytest.importorskip("mypy", reason="mypy is a test dependency (make install installs it)")

ROOT = pathlib.Path(__file__).resolve().parent.parent
MODULES = ["vorn.utils._sortkit", "vorn._pfnlink", "vorn.serialization._textcodec"]


def _mypy(*args: str, cwd: pathlib.Path) -> subprocess.CompletedProcess[str]:
    # Run away from the source tree, so that the installed package is what is checked.
    return subprocess.run([sys.executable, "-m", *args], cwd=cwd, capture_output=True, text=True,
                          timeout=600)


def test_stubtest_finds_the_stubs_faithful(tmp_path):
    result = _mypy("mypy.stubtest", "--mypy-config-file", "/dev/null", *MODULES, cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def _python_blocks(document: str) -> list[str]:
    return re.findall(r"```python\n(.*?)```", (ROOT / document).read_text(), flags=re.S)


def test_strict_mypy_accepts_the_examples_and_a_typed_client(tmp_path):
    files = []
    for document in ("README.md", "docs/api.md"):
        for i, block in enumerate(_python_blocks(document)):
            if "_vornc_bridge" in block:
                continue  # the stand-in bridge (the runtime's driver) has no stubs
            path = tmp_path / f"{pathlib.Path(document).stem.replace('-', '_')}_example_{i}.py"
            path.write_text(block)
            files.append(str(path))
    files.append(str(ROOT / "tests" / "typed_client.py"))
    result = _mypy("mypy", "--strict", "--cache-dir", str(tmp_path / "cache"), *files, cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_the_typed_client_runs():
    import typed_client  # beside this file, like the suite's other helpers
    typed_client.main()


@pytest.mark.parametrize("name", ["Comparer", "EqualityFunction", "IdentityFunction", "VornKey"])
def test_type_check_only_names_are_absent_at_run_time_and_marked(name):
    from vorn.utils import _sortkit as sk
    assert not hasattr(sk, name)
    stub = (ROOT / "python" / "vorn" / "utils" / "_sortkit.pyi").read_text()
    assert re.search(rf"@type_check_only\nclass {name}\(", stub)
