"""Utilities for Vorn values; ``_sortkit`` orders and compares them natively."""
