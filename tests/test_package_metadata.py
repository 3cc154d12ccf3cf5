"""The installed package describes itself: one version everywhere, and its licence."""
from __future__ import annotations

import importlib.metadata
import pathlib
import re

import vorn

ROOT = pathlib.Path(__file__).resolve().parent.parent


def test_version_comes_from_one_place():
    assert re.fullmatch(r"\d+\.\d+\.\d+", vorn.__version__)
    assert importlib.metadata.version("vorn") == vorn.__version__
    assert "version =" not in (ROOT / "pyproject.toml").read_text().split("[project]")[1].split("[")[0]
    assert f"## {vorn.__version__}" in (ROOT / "CHANGELOG.md").read_text()


def test_licence_ships_with_the_distribution():
    dist = importlib.metadata.distribution("vorn")
    shipped = [f for f in dist.files or [] if f.name == "LICENSE"]
    assert shipped, "LICENSE is not among the installed files"
    text = shipped[0].read_text()
    assert text.startswith("MIT License") and text == (ROOT / "LICENSE").read_text()
    assert "MIT" in (dist.metadata["License"] or dist.metadata.get("License-Expression", ""))
