"""Type stubs for vorn.serialization._textcodec: Vorn text format print/parse via vorn-c.

The format itself is described in docs/text-format.md."""
from typing import Any

from vorn.types.types import Type

def _print_value(py_type: Type, value: Any) -> str:
    """Print an Vorn value to text format via vorn-c."""

def _print_type(py_type: Type) -> str:
    """Print an Vorn type to text format via vorn-c."""

def _parse_value(py_type: Type, text: str | None) -> Any:
    """Parse Vorn text format into a value via vorn-c."""
