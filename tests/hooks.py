"""The stand-in bridge's test-only entry points, `vorn._vornc_bridge._testing`, which
only test builds have (CMake option VORN_TEST_HOOKS, which the Makefile's test targets
turn on). A test that needs them calls `testing()`: in a release build it is skipped,
saying so. Where the run requires them (VORN_TEST_HOOKS_REQUIRED=1, which the Makefile
sets), conftest stops the run before any test instead, so none is skipped unseen."""
from __future__ import annotations

import os
import types

import pytest

from vorn import _vornc_bridge as bridge

REQUIRED = os.environ.get("VORN_TEST_HOOKS_REQUIRED") == "1"
MISSING = ("vorn._vornc_bridge._testing is missing: a release build; the test machinery is "
           "built with -Ccmake.define.VORN_TEST_HOOKS=ON (make test does)")


def available() -> bool:
    return hasattr(bridge, "_testing")


def testing() -> types.ModuleType:
    """`vorn._vornc_bridge._testing`; skips the calling test (or module) without it."""
    if not available():
        pytest.skip(MISSING, allow_module_level=True)
    return bridge._testing
