"""Type stubs for vorn._vornc_bridge, the stand-in bridge: conversions between Python
values of vorn.types and handles of the Vorn C runtime, and a small driver that plays
the runtime calling platform functions."""
from typing import (Any, Callable, Iterable, Literal, Required, Self, Sequence, SupportsIndex, TypedDict, final,
                    type_check_only)

from typing_extensions import CapsuleType

from vorn.types.types import Type
from vorn.utils._sortkit import TypeDescriptor

# The four conversion functions, as capsules named by their C signatures.
__pyx_capi__: dict[str, CapsuleType]

# Exists for type checkers only, like the protocols of vorn.utils._sortkit.
@type_check_only
class PlatformFunction(TypedDict, total=False):
    """A platform-function description, as Registry.register passes it to
    vorn._pfnlink. "fn" is the callable (for a generic function, its factory) unless a
    capsule of "c_callback" or "c_factory" carries a C implementation; "inputs" and
    "output" type a function that is not generic (either absent: untyped); the key
    "type_parameters" makes it generic (its value is never read); "type" is "async"
    for an async function (anything else: sync)."""
    name: Required[str]
    fn: Callable[..., Any]
    type: Literal["sync", "async"]
    type_parameters: object
    inputs: Sequence[TypeDescriptor] | None
    output: TypeDescriptor | None
    c_callback: CapsuleType | None
    c_factory: CapsuleType | None

class PlatformError(RuntimeError):
    """An error result of a platform call, with its message."""

@final
class Registry:
    """A runtime platform registry, freed by free() or when collected."""
    def __new__(cls) -> Self: ...
    @property
    def address(self) -> int | None:
        """Address of the PlatformRegistry, or None once freed."""
    @property
    def freed(self) -> bool:
        """True once free() has run."""
    def register(self, platform_fns: list[PlatformFunction], /) -> None:
        """Registers descriptions through vorn._pfnlink.register_platform_functions."""
    def call(self, name: str, args: Iterable[object] | None = (),
             arg_types: Iterable[TypeDescriptor | None] | None = None, ret_type: TypeDescriptor | None = None,
             type_args: Iterable[TypeDescriptor] | None = None) -> Any:
        """Calls a platform function as the runtime does; an error result raises
        PlatformError with its message."""
    def call_many(self, n: SupportsIndex, name: str, args: Iterable[object] | None = (),
                  arg_types: Iterable[TypeDescriptor | None] | None = None, ret_type: TypeDescriptor | None = None,
                  type_args: Iterable[TypeDescriptor] | None = None) -> None:
        """Calls a platform function n times from a C loop, as call() does; results are dropped."""
    def entries(self) -> list[dict[str, Any]]:
        """Every registration in order, as dicts."""
    def free(self) -> None:
        """Frees the registry (its on_free hook runs); idempotent."""

@final
class CValue:
    """Holds one runtime value handle made from a Python value of a type."""
    def __new__(cls, py_type: TypeDescriptor, value: object) -> Self: ...
    @property
    def _vorn_c_value(self) -> int:
        """Address of the held value handle."""
    @property
    def kind(self) -> str:
        """Kind name of the held value."""
    def to_py(self) -> Any:
        """The Python value of the handle, converted with its type."""
    def text(self) -> str | None:
        """The handle's text form, or None when it has none."""

@final
class CType:
    """Holds one runtime type handle made from a type descriptor."""
    def __new__(cls, py_type: TypeDescriptor) -> Self: ...
    @property
    def _vorn_c_type(self) -> int:
        """Address of the held type handle."""
    def to_py(self) -> Type:
        """The type descriptor of the handle."""

def live_types() -> int:
    """Number of runtime type handles alive."""
def live_values() -> int:
    """Number of runtime value handles alive."""
def live_handles() -> tuple[int, int]:
    """(live types, live values) of the runtime."""
def live_buffers() -> dict[str, int]:
    """Heap buffers that crossed the runtime boundary and are not freed yet."""
