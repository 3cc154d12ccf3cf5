"""The installed package describes itself: one version everywhere, dated in the changelog,
its licence, and the Pythons and typing it supports."""
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
    assert re.search(rf"^## {re.escape(vorn.__version__)} — \d{{4}}-\d{{2}}-\d{{2}}$",
                     (ROOT / "CHANGELOG.md").read_text(), re.M), "the version has no dated changelog entry"


def test_metadata_declares_licence_expression_versions_and_typing():
    meta = importlib.metadata.metadata("vorn")
    assert meta["Metadata-Version"] == "2.4" and meta["License-Expression"] == "MIT"
    wanted = {f"Programming Language :: Python :: 3.{minor}" for minor in range(11, 16)} | {"Typing :: Typed"}
    assert wanted <= set(meta.get_all("Classifier") or [])


def test_licence_ships_with_the_distribution():
    dist = importlib.metadata.distribution("vorn")
    shipped = [f for f in dist.files or [] if f.name == "LICENSE"]
    assert shipped, "LICENSE is not among the installed files"
    text = shipped[0].read_text()
    assert text.startswith("MIT License") and text == (ROOT / "LICENSE").read_text()
    assert dist.metadata.get("License-Expression") == "MIT"
