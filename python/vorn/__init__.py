"""Native support for the Python side of the Vorn value language.

- ``vorn.utils._sortkit``: comparers, equality and identity functions and sort keys.
- ``vorn._pfnlink``: lets the Vorn C runtime call Python platform functions.
- ``vorn.serialization._textcodec``: the Vorn text format, printed and parsed.
"""

__version__ = "0.1.0"  # the one place the version is written; the build reads it here
