"""The type stubs hold: stubtest finds them faithful to the modules, `mypy --strict`
accepts the README's and the API reference's examples and a typed client, and refuses
the mistakes that fail at run time."""
from __future__ import annotations

import pathlib
import re
import subprocess
import sys

import pytest

pytest.importorskip("mypy", reason="mypy is a test dependency (make install installs it)")

ROOT = pathlib.Path(__file__).resolve().parent.parent
MODULES = ["vorn.utils._sortkit", "vorn._pfnlink", "vorn.serialization._textcodec", "vorn._vornc_bridge"]

# Lines a strict check must refuse, each with the error code it gets: each one fails at
# run time, or hands back a result of another type than the line expects.
REFUSED = [
    ('sk.cy_compare_for("Integer")', "arg-type"),
    ("sk.cy_make_vorn_key(None)", "arg-type"),
    ('sk.cy_compare_string(None, "a")', "arg-type"),
    ('sk.cy_compare_int("1", 2)', "arg-type"),
    ("sk.CyVornKey(1, 5)", "arg-type"),
    ("sk.cy_compare_for(T.integer())(1, 2).upper()", "attr-defined"),
    ("sk.cy_equal_for(T.integer())(1, 2).upper()", "attr-defined"),
    ("sk.cy_is_for(T.integer())(1, 2).upper()", "attr-defined"),
    ("tc._parse_value(T.integer(), None)", "arg-type"),
    ('tc._print_type("Integer")', "arg-type"),
    ('bridge.CValue("Integer", 1)', "arg-type"),
    ('bridge.Registry().register([{"name": "f", "fn": print, "type": "Async"}])', "typeddict-item"),
    ('bridge.Registry().register([{"name": "f", "function": print}])', "typeddict-unknown-key"),
]
REFUSED_HEADER = """\
from vorn import _vornc_bridge as bridge
from vorn.serialization import _textcodec as tc
from vorn.types import types as T
from vorn.utils import _sortkit as sk
"""


def _run(*args: str, cwd: pathlib.Path) -> subprocess.CompletedProcess[str]:
    # Run away from the source tree, so that the installed package is what is checked.
    return subprocess.run([sys.executable, "-m", *args], cwd=cwd, capture_output=True, text=True,
                          timeout=1200)


def test_stubtest_finds_the_stubs_faithful(tmp_path):
    result = _run("mypy.stubtest", "--mypy-config-file", "/dev/null", *MODULES, cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def _python_blocks(document: str) -> list[str]:
    return re.findall(r"```python\n(.*?)```", (ROOT / document).read_text(), flags=re.S)


@pytest.fixture(scope="module")
def strict_check(tmp_path_factory):
    """One `mypy --strict` run over the documents' examples, the typed client and the
    refused lines: the errors it reports, as {file name: [(line, code), ...]}."""
    tmp = tmp_path_factory.mktemp("strict")
    files = []
    for document in ("README.md", "docs/api.md"):
        for i, block in enumerate(_python_blocks(document)):
            path = tmp / f"{pathlib.Path(document).stem.replace('-', '_')}_example_{i}.py"
            path.write_text(block)
            files.append(str(path))
    files.append(str(ROOT / "tests" / "typed_client.py"))
    refused = tmp / "refused.py"
    refused.write_text(REFUSED_HEADER + "".join(line + "\n" for line, _ in REFUSED))
    files.append(str(refused))
    result = _run("mypy", "--strict", "--cache-dir", str(tmp / "cache"), *files, cwd=tmp)
    errors: dict[str, list[tuple[int, str]]] = {}
    for name, line, code in re.findall(r"^(?:.*/)?([^/:]+):(\d+): error: .*\[([a-z-]+)\]$", result.stdout, re.M):
        errors.setdefault(name, []).append((int(line), code))
    return errors, result.stdout + result.stderr


def test_strict_mypy_accepts_the_examples_and_a_typed_client(strict_check):
    errors, output = strict_check
    assert set(errors) <= {"refused.py"}, output


def test_strict_mypy_refuses_the_mistakes(strict_check):
    errors, output = strict_check
    first = REFUSED_HEADER.count("\n") + 1
    expected = [(first + i, code) for i, (_, code) in enumerate(REFUSED)]
    assert sorted(errors.get("refused.py", [])) == expected, output


def test_the_typed_client_runs():
    import typed_client  # beside this file, like the suite's other helpers
    typed_client.main()


@pytest.mark.parametrize("module, stub, name", [
    ("vorn.utils._sortkit", "python/vorn/utils/_sortkit.pyi", "TypeDescriptor"),
    ("vorn.utils._sortkit", "python/vorn/utils/_sortkit.pyi", "Comparer"),
    ("vorn.utils._sortkit", "python/vorn/utils/_sortkit.pyi", "EqualityFunction"),
    ("vorn.utils._sortkit", "python/vorn/utils/_sortkit.pyi", "IdentityFunction"),
    ("vorn.utils._sortkit", "python/vorn/utils/_sortkit.pyi", "VornKey"),
    ("vorn._vornc_bridge", "standins/vornc_bridge/_vornc_bridge.pyi", "PlatformFunction"),
])
def test_type_check_only_names_are_absent_at_run_time_and_marked(module, stub, name):
    import importlib
    assert not hasattr(importlib.import_module(module), name)
    assert re.search(rf"@type_check_only\nclass {name}\(", (ROOT / stub).read_text())
