"""Native support for the Python side of the Vorn value language.

- ``vorn.utils._sortkit``: comparers, equality and identity functions and sort keys.
- ``vorn._pfnlink``: lets the Vorn C runtime call Python platform functions.
- ``vorn.serialization._textcodec``: the Vorn text format, printed and parsed.

The wider Vorn package provides what these modules run on; until it is installed
alongside, stand-ins for its parts ship in this package, so that the modules work on
their own. They are not the wider package and promise only what the three modules use:

- ``vorn.types`` (``types``, ``values``): type descriptors, predicates, value classes;
- ``vorn._vornc_bridge``: conversions between Python values and C runtime handles,
  and ``Registry``, a driver that plays the runtime's part in platform calls;
- ``vorn/libvorn_c_shared.so.0``: the Vorn C runtime.
"""

__version__ = "0.2.0"  # the one place the version is written; the build reads it here
