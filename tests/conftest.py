"""Shared test set-up: a hypothesis profile that keeps no example database in the repo."""
from __future__ import annotations

import os
import sys

from hypothesis import HealthCheck, settings

sys.path.insert(0, os.path.dirname(__file__))

settings.register_profile(
    "vorn", database=None, deadline=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
settings.load_profile("vorn")
