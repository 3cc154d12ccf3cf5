"""The stand-ins' own tests use the product tests' set-up and helpers (tests/)."""
from __future__ import annotations

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), os.pardir, os.pardir, "tests"))

from shared_setup import pytest_sessionstart, reg, runtime_handles_balanced  # noqa: E402,F401  (a hook, fixtures)
