"""Stand-in for ``vorn.types.types``: Vorn type descriptors and their predicates.

A descriptor is a :class:`Type` with two attributes: ``type``, the kind's name, and
``value``, the kind's payload::

    Vector, Matrix, Array, Set, Ref   the element (or referenced) descriptor
    Dict                              {"key": descriptor, "value": descriptor}
    Struct, Variant                   [{"name": str, "type": descriptor}, ...]
    Recursive                         RecursivePayload("wrapper", {"id": id, "inner": descriptor})
                                      or RecursivePayload("ref", id)
    Function, AsyncFunction           {"inputs": [descriptor, ...], "output": descriptor}
    the scalar kinds                  None

Build descriptors with the constructors below, for example::

    person = struct(name=string(), age=integer())
    int_list = recursive("L", variant(nil=null(), cons=struct(head=integer(), tail=rec_ref("L"))))
"""
from __future__ import annotations

from typing import Any, Hashable, Iterable, Mapping

__all__ = [
    "Type", "RecursivePayload", "KINDS",
    "never", "null", "boolean", "integer", "float_", "string", "datetime", "blob",
    "vector", "matrix", "array", "set_", "dict_", "ref", "struct", "variant",
    "recursive", "rec_ref", "function", "async_function",
    "is_never_type", "is_null_type", "is_boolean_type", "is_integer_type", "is_float_type",
    "is_string_type", "is_datetime_type", "is_blob_type", "is_vector_type", "is_matrix_type",
    "is_array_type", "is_set_type", "is_dict_type", "is_ref_type", "is_struct_type",
    "is_variant_type", "is_recursive_type", "is_function_type", "is_async_function_type",
]

KINDS = (
    "Never", "Null", "Boolean", "Integer", "Float", "String", "DateTime", "Blob",
    "Vector", "Matrix", "Array", "Set", "Dict", "Ref", "Struct", "Variant",
    "Recursive", "Function", "AsyncFunction",
)


class Type:
    """A Vorn type descriptor: ``type`` names the kind, ``value`` is its payload."""

    __slots__ = ("type", "value")

    def __init__(self, type: str, value: Any = None) -> None:
        self.type = type
        self.value = value

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Type):
            return NotImplemented
        return self.type == other.type and self.value == other.value

    __hash__ = None  # payloads hold lists and dicts

    def __repr__(self) -> str:
        if self.value is None:
            return f"Type({self.type!r})"
        return f"Type({self.type!r}, {self.value!r})"


class RecursivePayload:
    """Payload of a Recursive descriptor: a scope wrapper or a reference to one."""

    __slots__ = ("type", "value")

    def __init__(self, type: str, value: Any) -> None:
        self.type = type
        self.value = value

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, RecursivePayload):
            return NotImplemented
        return self.type == other.type and self.value == other.value

    __hash__ = None

    def __repr__(self) -> str:
        return f"RecursivePayload({self.type!r}, {self.value!r})"


def never() -> Type: return Type("Never")
def null() -> Type: return Type("Null")
def boolean() -> Type: return Type("Boolean")
def integer() -> Type: return Type("Integer")
def float_() -> Type: return Type("Float")
def string() -> Type: return Type("String")
def datetime() -> Type: return Type("DateTime")
def blob() -> Type: return Type("Blob")
def vector(element: Type) -> Type: return Type("Vector", element)
def matrix(element: Type) -> Type: return Type("Matrix", element)
def array(element: Type) -> Type: return Type("Array", element)
def set_(element: Type) -> Type: return Type("Set", element)
def ref(target: Type) -> Type: return Type("Ref", target)


def dict_(key: Type, value: Type) -> Type:
    return Type("Dict", {"key": key, "value": value})


def _members(pairs: Iterable[tuple[str, Type]] | Mapping[str, Type] | None,
             named: Mapping[str, Type]) -> list[dict[str, Any]]:
    items: list[tuple[str, Type]] = []
    if pairs is not None:
        items.extend(pairs.items() if isinstance(pairs, Mapping) else pairs)
    items.extend(named.items())
    return [{"name": name, "type": t} for name, t in items]


def struct(fields: Iterable[tuple[str, Type]] | Mapping[str, Type] | None = None,
           **named: Type) -> Type:
    """A Struct; fields in order, as (name, type) pairs, a mapping, or keywords."""
    return Type("Struct", _members(fields, named))


def variant(cases: Iterable[tuple[str, Type]] | Mapping[str, Type] | None = None,
            **named: Type) -> Type:
    """A Variant; cases in order, as (name, type) pairs, a mapping, or keywords."""
    return Type("Variant", _members(cases, named))


def recursive(scope_id: Hashable, inner: Type) -> Type:
    """A Recursive wrapper opening scope ``scope_id`` around ``inner``."""
    return Type("Recursive", RecursivePayload("wrapper", {"id": scope_id, "inner": inner}))


def rec_ref(scope_id: Hashable) -> Type:
    """A reference to the enclosing Recursive scope ``scope_id``."""
    return Type("Recursive", RecursivePayload("ref", scope_id))


def function(inputs: Iterable[Type] = (), output: Type | None = None) -> Type:
    return Type("Function", {"inputs": list(inputs), "output": output or null()})


def async_function(inputs: Iterable[Type] = (), output: Type | None = None) -> Type:
    return Type("AsyncFunction", {"inputs": list(inputs), "output": output or null()})


def _kind_predicate(kind: str, name: str):
    def predicate(t: Any) -> bool:
        return getattr(t, "type", None) == kind
    predicate.__name__ = predicate.__qualname__ = name
    predicate.__doc__ = f"True when ``t`` describes the {kind} kind."
    return predicate


is_never_type = _kind_predicate("Never", "is_never_type")
is_null_type = _kind_predicate("Null", "is_null_type")
is_boolean_type = _kind_predicate("Boolean", "is_boolean_type")
is_integer_type = _kind_predicate("Integer", "is_integer_type")
is_float_type = _kind_predicate("Float", "is_float_type")
is_string_type = _kind_predicate("String", "is_string_type")
is_datetime_type = _kind_predicate("DateTime", "is_datetime_type")
is_blob_type = _kind_predicate("Blob", "is_blob_type")
is_vector_type = _kind_predicate("Vector", "is_vector_type")
is_matrix_type = _kind_predicate("Matrix", "is_matrix_type")
is_array_type = _kind_predicate("Array", "is_array_type")
is_set_type = _kind_predicate("Set", "is_set_type")
is_dict_type = _kind_predicate("Dict", "is_dict_type")
is_ref_type = _kind_predicate("Ref", "is_ref_type")
is_struct_type = _kind_predicate("Struct", "is_struct_type")
is_variant_type = _kind_predicate("Variant", "is_variant_type")
is_recursive_type = _kind_predicate("Recursive", "is_recursive_type")
is_function_type = _kind_predicate("Function", "is_function_type")
is_async_function_type = _kind_predicate("AsyncFunction", "is_async_function_type")
