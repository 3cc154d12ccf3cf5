"""Stand-in for ``vorn.types`` of the wider Vorn package: type descriptors and value classes.

Only what the native modules rely on is promised here; see ``types`` and ``values``.
"""
