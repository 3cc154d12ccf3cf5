"""Shared test set-up (shared_setup.py), and the helpers of this folder on the path."""
from __future__ import annotations

import os
import sys

sys.path.insert(0, os.path.dirname(__file__))

from shared_setup import pytest_sessionstart, reg, runtime_handles_balanced  # noqa: E402,F401  (a hook, fixtures)
