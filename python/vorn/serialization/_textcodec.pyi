"""Type stubs for vorn.serialization._textcodec: Vorn text format print/parse via vorn-c.

The format itself is described in docs/text-format.md."""
from typing import Any

from vorn.utils._sortkit import TypeDescriptor

def _print_value(py_type: TypeDescriptor, value: Any) -> str:
    """Print an Vorn value to text format via vorn-c."""

def _print_type(py_type: TypeDescriptor) -> str:
    """Print an Vorn type to text format via vorn-c."""

# None is let through the argument check, but always raises AttributeError.
def _parse_value(py_type: TypeDescriptor, text: str) -> Any:
    """Parse Vorn text format into a value via vorn-c."""
