"""Platform functions: Python callables that the C runtime calls while it runs a program.
Another extension module registers them with a runtime registry through vorn._pfnlink;
here the bridge's driver plays the runtime and calls them the way it would."""
import asyncio

from vorn import _vornc_bridge as bridge
from vorn.types import types as T

I = T.integer()


def add(a, b):
    return a + b


async def slow_double(x):
    await asyncio.sleep(0.01)
    return 2 * x


def lookup(key):
    table = {"a": 1}
    if key not in table:
        raise LookupError(f"no entry named {key!r}")
    return table[key]


registry = bridge.Registry()
registry.register([
    {"name": "add", "fn": add, "inputs": [I, I], "output": I},
    {"name": "slow_double", "fn": slow_double, "type": "async", "inputs": [I], "output": I},
    {"name": "lookup", "fn": lookup, "inputs": [T.string()], "output": I},
])

# The runtime calls a Python function: arguments and result cross as runtime values.
print("add(2, 40) =", registry.call("add", [2, 40]))

# An async function: its coroutine runs to completion inside the call.
print("slow_double(21) =", registry.call("slow_double", [21]))

# An exception never reaches the runtime: it becomes an error result with its message.
try:
    registry.call("lookup", ["b"])
except bridge.PlatformError as e:
    print("lookup('b') -> error result:", e)

registry.free()  # the runtime frees the registry, and the bridge forgets its functions
