"""What a comparison comes to, so that two ways of comparing can be held against each
other result for result and exception for exception."""
from __future__ import annotations


def outcome(fn, x, y):
    """fn(x, y), or the type of the exception it raised (with the message, for a
    RecursionError, whose message says which check stopped the walk)."""
    try:
        return fn(x, y)
    except RecursionError as e:
        # Its message as it lies: str() makes a recursion check of its own, which at
        # the limit raises again.
        return RecursionError, e.args[0] if e.args else ""
    except Exception as e:  # noqa: BLE001 - the exception's type is the outcome
        return type(e)


def key_order(key):
    """A comparer over values that orders them by the keys `key` makes of them."""
    def order(x, y):
        kx, ky = key(x), key(y)
        return -1 if kx < ky else 1 if kx > ky else 0
    return order
