"""Stand-in for ``vorn.types.values``: the value classes of the Vorn kinds.

Scalars are plain Python objects (bool, int, float, str, datetime.datetime); Structs
are dicts keyed by field name; Variants are ``{"type": case_name, "value": payload}``.
The classes below cover the kinds that need a class of their own.
"""
from __future__ import annotations

from typing import Any, Iterable, Iterator, Mapping

__all__ = ["VornBlob", "VornVector", "VornMatrix", "VornRef", "VornArray", "VornDict", "VornSet"]


class VornBlob:
    """A Blob: an immutable byte string in ``data``."""

    __slots__ = ("data",)

    def __init__(self, data: bytes | bytearray | Iterable[int] = b"") -> None:
        self.data = bytes(data)

    def __eq__(self, other: object) -> bool:
        if isinstance(other, VornBlob):
            return self.data == other.data
        return NotImplemented

    def __hash__(self) -> int:
        return hash(self.data)

    def __repr__(self) -> str:
        return f"VornBlob({self.data!r})"


class VornVector:
    """A Vector: a fixed-length sequence of elements in ``_data`` (a list or a 1-D array)."""

    __slots__ = ("_data",)

    def __init__(self, data: Iterable[Any] = ()) -> None:
        self._data = data if hasattr(data, "__getitem__") and hasattr(data, "__len__") else list(data)

    def __len__(self) -> int:
        return len(self._data)

    def __getitem__(self, i: int) -> Any:
        return self._data[i]

    def __eq__(self, other: object) -> bool:
        if isinstance(other, VornVector):
            return len(self._data) == len(other._data) and all(
                a == b for a, b in zip(self._data, other._data))
        return NotImplemented

    __hash__ = None

    def __repr__(self) -> str:
        return f"VornVector({list(self._data)!r})"


class _RowMajor:
    """A list of rows seen through the small part of the numpy array API the modules use."""

    __slots__ = ("_rows",)

    def __init__(self, rows: list[list[Any]]) -> None:
        self._rows = rows

    def ravel(self) -> list[Any]:
        return [x for row in self._rows for x in row]

    def tolist(self) -> list[list[Any]]:
        return [list(row) for row in self._rows]


class VornMatrix:
    """A Matrix of ``rows`` x ``cols`` elements; ``_data.ravel()`` yields them row by row.

    ``data`` is a 2-D numpy array (kept as it is) or a list of equally long rows.
    """

    __slots__ = ("rows", "cols", "_data")

    def __init__(self, data: Any) -> None:
        shape = getattr(data, "shape", None)
        if shape is not None:
            if len(shape) != 2:
                raise ValueError(f"a matrix needs 2 dimensions, not {len(shape)}")
            self.rows, self.cols = int(shape[0]), int(shape[1])
            self._data = data
            return
        rows = [list(row) for row in data]
        cols = len(rows[0]) if rows else 0
        if any(len(row) != cols for row in rows):
            raise ValueError("matrix rows differ in length")
        self.rows, self.cols = len(rows), cols
        self._data = _RowMajor(rows)

    def tolist(self) -> list[list[Any]]:
        return self._data.tolist()

    def __eq__(self, other: object) -> bool:
        if isinstance(other, VornMatrix):
            return (self.rows, self.cols) == (other.rows, other.cols) and all(
                a == b for a, b in zip(self._data.ravel(), other._data.ravel()))
        return NotImplemented

    __hash__ = None

    def __repr__(self) -> str:
        return f"VornMatrix({self.tolist()!r})"


class VornRef:
    """A Ref: a mutable cell whose ``value`` is the referenced value."""

    __slots__ = ("value", "__weakref__")

    def __init__(self, value: Any = None) -> None:
        self.value = value

    def __repr__(self) -> str:
        return f"VornRef(<{type(self.value).__name__}>)"


class VornArray(list):
    """An Array: a Python list."""

    __slots__ = ()

    def __repr__(self) -> str:
        return f"VornArray({list.__repr__(self)})"


def _index_key(item: Any) -> Any:
    """A dict key for ``item``, or None when it is not hashable."""
    try:
        hash(item)
    except TypeError:
        return None
    return item


class VornSet:
    """A Set that also holds unhashable elements (Structs, Arrays): insertion-ordered,
    membership by hash and ``==`` for hashable elements and by ``==`` for the rest."""

    __slots__ = ("_items", "_index")

    def __init__(self, items: Iterable[Any] = ()) -> None:
        self._items: list[Any] = []
        self._index: dict[Any, int] = {}
        for item in items:
            self.add(item)

    def add(self, item: Any) -> None:
        if item not in self:
            key = _index_key(item)
            if key is not None:
                self._index[key] = len(self._items)
            self._items.append(item)

    def __contains__(self, item: Any) -> bool:
        key = _index_key(item)
        if key is not None:
            return key in self._index
        return any(x is item or x == item for x in self._items if _index_key(x) is None)

    def __iter__(self) -> Iterator[Any]:
        return iter(self._items)

    def __len__(self) -> int:
        return len(self._items)

    def __eq__(self, other: object) -> bool:
        if isinstance(other, VornSet):
            return len(self) == len(other) and all(x in other for x in self)
        return NotImplemented

    __hash__ = None

    def __repr__(self) -> str:
        return f"VornSet({self._items!r})"


class VornDict:
    """A Dict that also takes unhashable keys: insertion-ordered, with ``items()``,
    ``len()``, membership and subscription; hashable keys are found by hash."""

    __slots__ = ("_keys", "_values", "_index")

    def __init__(self, items: Mapping[Any, Any] | Iterable[tuple[Any, Any]] = ()) -> None:
        self._keys: list[Any] = []
        self._values: list[Any] = []
        self._index: dict[Any, int] = {}
        pairs = items.items() if isinstance(items, Mapping) or hasattr(items, "items") else items
        for k, v in pairs:
            self[k] = v

    def _find(self, key: Any) -> int:
        hk = _index_key(key)
        if hk is not None:
            return self._index.get(hk, -1)
        for i, k in enumerate(self._keys):
            if k is key or (_index_key(k) is None and k == key):
                return i
        return -1

    def __setitem__(self, key: Any, value: Any) -> None:
        i = self._find(key)
        if i >= 0:
            self._values[i] = value
            return
        hk = _index_key(key)
        if hk is not None:
            self._index[hk] = len(self._keys)
        self._keys.append(key)
        self._values.append(value)

    def __getitem__(self, key: Any) -> Any:
        i = self._find(key)
        if i < 0:
            raise KeyError(key)
        return self._values[i]

    def __contains__(self, key: Any) -> bool:
        return self._find(key) >= 0

    def __len__(self) -> int:
        return len(self._keys)

    def __iter__(self) -> Iterator[Any]:
        return iter(self._keys)

    def keys(self) -> list[Any]:
        return list(self._keys)

    def values(self) -> list[Any]:
        return list(self._values)

    def items(self) -> list[tuple[Any, Any]]:
        return list(zip(self._keys, self._values))

    def get(self, key: Any, default: Any = None) -> Any:
        i = self._find(key)
        return self._values[i] if i >= 0 else default

    def __eq__(self, other: object) -> bool:
        # As dict compares: an entry's values are equal when they are the same object
        # (a NaN is equal to itself there), and otherwise by ==.
        if isinstance(other, VornDict):
            if len(self) != len(other):
                return False
            for k, v in self.items():
                i = other._find(k)
                if i < 0:
                    return False
                w = other._values[i]
                if w is not v and not w == v:
                    return False
            return True
        return NotImplemented

    __hash__ = None

    def __repr__(self) -> str:
        return f"VornDict({self.items()!r})"
