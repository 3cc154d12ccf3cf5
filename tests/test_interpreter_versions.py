"""Where CPython versions differ underneath: ints of every size read by the fast paths
(their layout changed in 3.12), the KeyError argument, the version warning, and the
supported versions as the build declares them."""
from __future__ import annotations

import pathlib
import re
import subprocess
import sys

import pytest

from vorn.types import types as T
from vorn.utils import _sortkit as sk

# Zero, one digit, its edges, two digits, 64 bits and beyond, both signs.
INTS = [0, 1, -1, 2**30 - 1, 2**30, -(2**30), 2**60 - 1, 2**60, -(2**60), 2**63 - 1, -(2**63), 2**64,
        -(2**64), 10**40]


def sign(n: int) -> int:
    return (n > 0) - (n < 0)


@pytest.mark.parametrize("result", INTS)
def test_key_operators_read_any_int_result(result):
    a = sk.CyVornKey(1, lambda x, y: result)
    b = sk.CyVornKey(2, None)
    assert (a < b, a <= b, a > b, a >= b, a == b, a != b) == (
        result < 0, result <= 0, result > 0, result >= 0, result == 0, result != 0)


@pytest.mark.parametrize("x", INTS[:-3])
@pytest.mark.parametrize("y", INTS[:-3])
def test_integer_order_across_digit_boundaries(x, y):
    assert sk.cy_compare_int(x, y) == sign(x - y)
    assert sk.cy_compare_for(T.integer())(x, y) == sign(x - y)


@pytest.mark.parametrize("value", [2**63, -(2**63) - 1, 10**40])
def test_integer_order_refuses_ints_beyond_64_bits(value):
    with pytest.raises(OverflowError):
        sk.cy_compare_for(T.integer())(value, 0)


@pytest.mark.parametrize("result", INTS)
def test_component_results_of_any_size(result):
    # A Dict comparer passes a nonzero key result on unchanged, and goes on to the
    # values on zero; an Array comparer reads its element results as 32-bit ints.
    by_user = lambda x, y, ctx=None: result  # noqa: E731
    compare_dict = sk.cy_compare_for(T.dict_(T.rec_ref("K"), T.integer()), {"K": by_user})
    out = compare_dict({"a": 1}, {"b": 2})
    assert out == (-1 if result == 0 else result)
    compare_array = sk.cy_compare_for(T.array(T.rec_ref("K")), {"K": by_user})
    if -(2**31) <= result < 2**31:
        assert compare_array([0], [0]) == result
    else:
        with pytest.raises(OverflowError):
            compare_array([0], [0])


@pytest.mark.parametrize("case", ["missing", ("a", "tuple"), 7])
def test_missing_variant_case_raises_key_error_with_the_case_alone(case):
    compare = sk.cy_compare_for(T.variant(known=T.integer()))
    value = {"type": case, "value": 1}
    with pytest.raises(KeyError) as info:
        compare(value, dict(value))
    assert info.value.args == (case,)


def test_import_gives_no_version_warning():
    # Each module compares the running interpreter with the one it was built for.
    code = "import vorn.utils._sortkit, vorn._pfnlink, vorn.serialization._textcodec"
    result = subprocess.run([sys.executable, "-W", "error", "-c", code], capture_output=True, text=True,
                            timeout=120)
    assert result.returncode == 0, result.stderr


def test_build_declares_the_supported_versions():
    # 3.11 and later, with no upper bound: a version newer than the code knows builds
    # with the portable paths.
    root = pathlib.Path(__file__).resolve().parent.parent
    pyproject = (root / "pyproject.toml").read_text()
    cmake = (root / "CMakeLists.txt").read_text()
    assert 'requires-python = ">=3.11"\n' in pyproject
    classifiers = set(re.findall(r'"Programming Language :: Python :: (3\.\d+)"', pyproject))
    assert classifiers == {"3.11", "3.12", "3.13", "3.14", "3.15"}
    assert "find_package(Python 3.11 REQUIRED " in cmake
    assert sys.version_info[:2] >= (3, 11)
    assert re.search(r"PYTHONS \?= 3\.11 3\.12 3\.13\n", (root / "Makefile").read_text())
