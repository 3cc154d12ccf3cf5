"""Type stubs for vorn._pfnlink: the platform-function bridge of the Vorn C runtime.

Its main entry point is C-only: `register_platform_functions`, exported in
`__pyx_capi__` as a capsule named "void (PlatformRegistry *, PyObject *)"."""
import asyncio as asyncio
import threading
from typing import Any

from typing_extensions import CapsuleType

__pyx_capi__: dict[str, CapsuleType]
_dispatch_states: dict[int, tuple[dict[bytes, tuple[Any, Any]], dict[bytes, tuple[Any, Any]],
                                  dict[tuple[bytes, tuple[int, ...]], Any], list[Any]]]
_event_loop: asyncio.AbstractEventLoop | None  # the main thread's loop
_thread_event_loops: threading.local  # other threads' loops, as its attribute `loop`

def clear_platform_state() -> None:
    """Clear all platform function state. For testing."""
