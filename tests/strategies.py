"""Hypothesis strategies for Vorn type descriptors and values of those types, shared
by the property tests of all modules."""
from __future__ import annotations

import datetime as dt
import itertools

from hypothesis import strategies as st

from vorn.types import types as T
from vorn.types import values as V

UTC = dt.timezone.utc

SCALAR_TYPES = [T.null(), T.boolean(), T.integer(), T.float_(), T.string(), T.datetime(), T.blob()]
_ids = itertools.count()

names = st.text(alphabet="abcdefghijklmnopqrstuvwxyz_", min_size=1, max_size=6)


def _recursive_list(element: T.Type) -> T.Type:
    """A linked list of `element`: nil, or a cons cell pointing at the next list."""
    scope = f"L{next(_ids)}"
    return T.recursive(scope, T.variant(
        nil=T.null(), cons=T.struct(head=element, tail=T.rec_ref(scope))))


def _recursive_tree(element: T.Type) -> T.Type:
    """A rose tree: a value and an Array of subtrees."""
    scope = f"R{next(_ids)}"
    return T.recursive(scope, T.struct(value=element, children=T.array(T.rec_ref(scope))))


def types(max_leaves: int = 6, recursive: bool = True, sets: bool = True) -> st.SearchStrategy:
    """Random type descriptors of every kind that has values."""
    def extend(children: st.SearchStrategy) -> st.SearchStrategy:
        options = [
            children.map(T.array), children.map(T.vector), children.map(T.ref),
            st.sampled_from([T.integer(), T.float_()]).map(T.matrix),
            st.tuples(st.sampled_from([T.integer(), T.string()]), children).map(lambda kv: T.dict_(*kv)),
            st.lists(st.tuples(names, children), max_size=4, unique_by=lambda p: p[0]).map(T.struct),
            st.lists(st.tuples(names, children), min_size=1, max_size=4,
                     unique_by=lambda p: p[0]).map(T.variant),
        ]
        if sets:
            options.append(children.map(T.set_))
        if recursive:
            options += [children.map(_recursive_list), children.map(_recursive_tree)]
        return st.one_of(options)
    return st.recursive(st.sampled_from(SCALAR_TYPES), extend, max_leaves=max_leaves)


def _float(allow_nan: bool) -> st.SearchStrategy:
    return st.floats(allow_nan=allow_nan, allow_infinity=True)


def values(t: T.Type, allow_nan: bool = True, max_size: int = 4,
           env: dict | None = None, depth: int = 3) -> st.SearchStrategy:
    """Values of type `t`. Recursive references draw from their wrapper's inner type,
    choosing the finite cases more often as `depth` runs out."""
    env = env or {}

    def of(sub: T.Type, depth: int = depth) -> st.SearchStrategy:
        return values(sub, allow_nan, max_size, env, depth)

    kind = t.type
    if kind == "Null":
        return st.none()
    if kind == "Boolean":
        return st.booleans()
    if kind == "Integer":
        return st.integers(-2**63, 2**63 - 1)
    if kind == "Float":
        return _float(allow_nan)
    if kind == "String":
        return st.text(max_size=8)
    if kind == "DateTime":
        return st.datetimes(min_value=dt.datetime(1900, 1, 1), max_value=dt.datetime(2200, 1, 1),
                            timezones=st.just(UTC))
    if kind == "Blob":
        return st.binary(max_size=8).map(V.VornBlob)
    if kind == "Vector":
        return st.lists(of(t.value), max_size=max_size).map(V.VornVector)
    if kind == "Matrix":
        elem = of(t.value)
        return st.tuples(st.integers(0, 3), st.integers(1, 3)).flatmap(
            lambda rc: st.lists(st.lists(elem, min_size=rc[1], max_size=rc[1]),
                                min_size=rc[0], max_size=rc[0])).map(V.VornMatrix)
    if kind == "Array":
        return st.lists(of(t.value), max_size=max_size if depth > 0 else 0).map(V.VornArray)
    if kind == "Set":
        return st.lists(of(t.value), max_size=max_size).map(V.VornSet)
    if kind == "Dict":
        return st.lists(st.tuples(of(t.value["key"]), of(t.value["value"])),
                        max_size=max_size).map(V.VornDict)
    if kind == "Ref":
        return of(t.value).map(V.VornRef)
    if kind == "Struct":
        return st.fixed_dictionaries({f["name"]: of(f["type"]) for f in t.value})
    if kind == "Variant":
        cases = list(t.value)
        if depth <= 0:  # prefer cases that do not recurse
            finite = [c for c in cases if c["type"].type != "Struct" or
                      all(f["type"].type != "Recursive" for f in c["type"].value)]
            cases = finite or cases
        return st.one_of([of(c["type"]).map(lambda v, name=c["name"]: {"type": name, "value": v})
                          for c in cases])
    if kind == "Recursive":
        payload = t.value
        if payload.type == "wrapper":
            inner_env = dict(env)
            inner_env[payload.value["id"]] = payload.value["inner"]
            return values(payload.value["inner"], allow_nan, max_size, inner_env, depth)
        return st.deferred(lambda: values(env[payload.value], allow_nan, max_size, env, depth - 1))
    raise ValueError(f"no values for kind {kind}")


def typed_values(allow_nan: bool = True, **type_options) -> st.SearchStrategy:
    """Pairs (type, value)."""
    return types(**type_options).flatmap(lambda t: st.tuples(st.just(t), values(t, allow_nan)))
