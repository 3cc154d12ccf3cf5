"""What the product's tests and the stand-ins' tests share: a hypothesis profile that
keeps no example database and nothing else in the repo, a fixture that proves a test
released every runtime handle it made, a registry freed after the test, and a stop when the run requires the test
machinery and the build has none. Each folder's conftest imports it."""
from __future__ import annotations

import gc
import os
import tempfile

import pytest
from hypothesis import HealthCheck, settings

# What hypothesis still keeps without a database (its character tables) goes to the
# temporary folder, not into the work tree; read at first use, so set early enough.
os.environ.setdefault("HYPOTHESIS_STORAGE_DIRECTORY", os.path.join(tempfile.gettempdir(), "vorn-hypothesis"))

settings.register_profile(
    "vorn", database=None, deadline=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
settings.load_profile("vorn")


def pytest_sessionstart(session):
    import hooks

    if hooks.REQUIRED and not hooks.available():
        pytest.exit(f"VORN_TEST_HOOKS_REQUIRED=1 but {hooks.MISSING}", returncode=4)


@pytest.fixture
def runtime_handles_balanced():
    """Fails the test when live runtime type or value handles, or the heap buffers that
    crossed the runtime's boundary, differ before and after."""
    bridge = pytest.importorskip("vorn._vornc_bridge")
    gc.collect()
    before = bridge.live_handles(), bridge.live_buffers()
    yield
    gc.collect()
    assert bridge.live_handles() == before[0], "runtime handles leaked (types, values)"
    assert bridge.live_buffers() == before[1], "runtime buffers leaked"


@pytest.fixture
def reg():
    """A stand-in runtime registry, freed when the test ends."""
    from vorn import _vornc_bridge as bridge

    r = bridge.Registry()
    yield r
    r.free()
