"""Hypothesis strategies for Vorn type descriptors and values of those types, shared
by the property tests of all modules."""
from __future__ import annotations

import datetime as dt
import functools
import itertools
import math

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


def types(max_leaves: int = 6, recursive: bool = True, sets: bool = True, dicts: bool = True,
          composite_keys: bool = False) -> st.SearchStrategy:
    """Random type descriptors of every kind that has values. Dict keys are Integers
    or Strings, or with `composite_keys` any type."""
    def extend(children: st.SearchStrategy) -> st.SearchStrategy:
        keys = children if composite_keys else st.sampled_from([T.integer(), T.string()])
        options = [
            children.map(T.array), children.map(T.vector), children.map(T.ref),
            st.sampled_from([T.integer(), T.float_()]).map(T.matrix),
            st.lists(st.tuples(names, children), max_size=4, unique_by=lambda p: p[0]).map(T.struct),
            st.lists(st.tuples(names, children), min_size=1, max_size=4,
                     unique_by=lambda p: p[0]).map(T.variant),
        ]
        if dicts:
            options.append(st.tuples(keys, children).map(lambda kv: T.dict_(*kv)))
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
    # A Set holds no two elements, and a Dict no two keys, that are equal as Vorn values.
    if kind == "Set":
        return st.lists(of(t.value), max_size=max_size,
                        unique_by=lambda v: vorn_key(t.value, v, env)).map(V.VornSet)
    if kind == "Dict":
        return st.lists(st.tuples(of(t.value["key"]), of(t.value["value"])), max_size=max_size,
                        unique_by=lambda kv: vorn_key(t.value["key"], kv[0], env)).map(V.VornDict)
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
        if t.value.type == "wrapper":
            inner, inner_env = resolve(t, env)
            return values(inner, allow_nan, max_size, inner_env, depth)
        return st.deferred(lambda: values(resolve(t, env)[0], allow_nan, max_size, env, depth - 1))
    raise ValueError(f"no values for kind {kind}")


def resolve(t: T.Type, env: dict) -> tuple[T.Type, dict]:
    """The type a Recursive `t` stands for and the environment to read it in: a
    wrapper's inner type with the wrapper's id bound, or the type a reference names."""
    payload = t.value
    if payload.type == "wrapper":
        return payload.value["inner"], {**env, payload.value["id"]: payload.value["inner"]}
    return env[payload.value], env


def typed_values(allow_nan: bool = True, **type_options) -> st.SearchStrategy:
    """Pairs (type, value)."""
    return types(**type_options).flatmap(lambda t: st.tuples(st.just(t), values(t, allow_nan)))


def vorn_key(t, v, env):
    """A hashable key of the value `v` of `t` (not cyclic) that two values share exactly
    when they are equal as Vorn values: NaN equals NaN, -0.0 differs from 0.0, Sets and
    Dicts whatever their order, Refs by their targets (stricter than the runtime, which
    keeps distinct Ref cells apart, so every Set drawn is one the runtime keeps whole)."""
    kind = t.type
    if kind == "Recursive":
        inner, inner_env = resolve(t, env)
        return vorn_key(inner, v, inner_env)
    if kind == "Float":
        return "nan" if math.isnan(v) else (v, math.copysign(1, v))
    if kind == "Blob":
        return bytes(v.data)
    if kind == "Vector":
        return tuple(vorn_key(t.value, x, env) for x in v._data)
    if kind == "Matrix":
        return (v.rows, v.cols, tuple(vorn_key(t.value, x, env) for x in v._data.ravel()))
    if kind == "Array":
        return tuple(vorn_key(t.value, x, env) for x in v)
    if kind == "Set":
        return frozenset(vorn_key(t.value, x, env) for x in v)
    if kind == "Dict":
        return frozenset((vorn_key(t.value["key"], k, env), vorn_key(t.value["value"], x, env))
                         for k, x in v.items())
    if kind == "Ref":
        return ("ref", vorn_key(t.value, v.value, env))
    if kind == "Struct":
        return tuple(vorn_key(f["type"], v[f["name"]], env) for f in t.value)
    if kind == "Variant":
        case = next(c for c in t.value if c["name"] == v["type"])
        return (v["type"], vorn_key(case["type"], v["value"], env))
    return (type(v), v)


def same(t, a, b, env=None):
    """Structural equality that also keeps order (the format keeps Set and Dict order),
    Float by bits up to NaN, and Blob by bytes."""
    env = env or {}
    kind = t.type
    if kind == "Recursive":
        inner, inner_env = resolve(t, env)
        return same(inner, a, b, inner_env)
    if kind == "Float":
        if math.isnan(a) or math.isnan(b):
            return math.isnan(a) and math.isnan(b)
        return a == b and math.copysign(1, a) == math.copysign(1, b)
    if kind in ("Null", "Boolean", "Integer", "String", "DateTime"):
        return type(a) is type(b) and a == b
    if kind == "Blob":
        return bytes(a.data) == bytes(b.data)
    if kind == "Vector":
        return len(a._data) == len(b._data) and all(same(t.value, x, y, env) for x, y in zip(a._data, b._data))
    if kind == "Matrix":
        xs, ys = list(a._data.ravel()), list(b._data.ravel())
        return (a.rows, a.cols) == (b.rows, b.cols) and all(same(t.value, x, y, env) for x, y in zip(xs, ys))
    if kind in ("Array", "Set"):
        xs, ys = list(a), list(b)
        return len(xs) == len(ys) and all(same(t.value, x, y, env) for x, y in zip(xs, ys))
    if kind == "Dict":
        xs, ys = list(a.items()), list(b.items())
        return len(xs) == len(ys) and all(
            same(t.value["key"], kx, ky, env) and same(t.value["value"], vx, vy, env)
            for (kx, vx), (ky, vy) in zip(xs, ys))
    if kind == "Ref":
        return same(t.value, a.value, b.value, env)
    if kind == "Struct":
        return set(a) == set(b) and all(same(f["type"], a[f["name"]], b[f["name"]], env) for f in t.value)
    if kind == "Variant":
        case = next(c for c in t.value if c["name"] == a["type"])
        return a["type"] == b["type"] and same(case["type"], a["value"], b["value"], env)
    raise AssertionError(f"unexpected kind {kind}")


# ---- Malformed input -------------------------------------------------------------------


class Hostile:
    """An object that raises `error` from every operation the modules may try on it:
    attribute reads, comparisons, truth, length, items, iteration, hashing and the
    number conversions."""

    def __init__(self, error: type[Exception] = ValueError) -> None:
        object.__setattr__(self, "_error", error)

    def _raise(self, *_args):
        raise object.__getattribute__(self, "_error")("hostile")

    def __getattr__(self, name):
        self._raise()

    __eq__ = __ne__ = __lt__ = __le__ = __gt__ = __ge__ = _raise
    __bool__ = __len__ = __getitem__ = __iter__ = __contains__ = __hash__ = _raise
    __int__ = __float__ = __index__ = __call__ = _raise

    def __repr__(self) -> str:
        return "Hostile()"


class Lying:
    """A sequence whose length claims more items than it yields."""

    def __len__(self) -> int:
        return 3

    def __getitem__(self, i):
        if i >= 1:
            raise IndexError(i)
        return 0

    def __iter__(self):
        yield 0


class BadLength:
    """A sized object whose __len__ is negative."""

    def __len__(self) -> int:
        return -1


_plain_scalars = st.one_of(
    st.none(), st.booleans(), st.integers(-2**70, 2**70), st.floats(), st.text(max_size=4),
    st.binary(max_size=4), st.datetimes(timezones=st.none() | st.just(UTC)),
    st.builds(Hostile, st.sampled_from([ValueError, TypeError, KeyError, IndexError, RuntimeError])),
    st.builds(Lying), st.builds(BadLength), st.just(object()), st.just(len), st.just(T.integer()),
)


@functools.lru_cache(maxsize=None)
def junk(max_leaves: int = 8) -> st.SearchStrategy:
    """Arbitrary Python objects: scalars, hostile objects and the containers and value
    classes holding them, in any shape, fit for no type in particular."""
    def extend(children: st.SearchStrategy) -> st.SearchStrategy:
        small = st.lists(children, max_size=3)
        return st.one_of(
            small, small.map(tuple), small.map(V.VornArray), small.map(V.VornVector),
            small.map(_made(V.VornSet)), children.map(V.VornRef), st.binary(max_size=3).map(V.VornBlob),
            st.dictionaries(st.text(max_size=3) | st.integers(), children, max_size=3),
            st.dictionaries(st.sampled_from(["type", "value", "name", "a"]), children, max_size=3),
            st.tuples(st.text(max_size=3), children).map(lambda p: {"type": p[0], "value": p[1]}),
            st.lists(st.tuples(children, children), max_size=3).map(_made(V.VornDict)),
            st.lists(st.lists(children, min_size=1, max_size=2), max_size=2).map(_made(V.VornMatrix)),
        )
    return st.recursive(_plain_scalars, extend, max_leaves=max_leaves)


def _made(cls):
    """`cls(items)`, or `items` themselves when the class refuses them (a hostile
    element, rows of different lengths)."""
    def make(items):
        try:
            return cls(items)
        except Exception:
            return items
    return make


def values_or_junk(t: T.Type) -> st.SearchStrategy:
    """Values of `t`, objects of no type, and lists mixing values of `t` with junk."""
    return st.one_of(values(t), junk(), st.lists(values(t) | junk(4), max_size=3))


_kind_names = st.sampled_from(T.KINDS) | st.sampled_from(["Foo", "", "integer", "wrapper"]) | \
    st.integers() | st.none()


def malformed_types(max_leaves: int = 6) -> st.SearchStrategy:
    """Type descriptors broken in every way the builders and conversions read them:
    non-descriptors, unknown kinds, payloads of the wrong shape, members without names
    or types, Recursive payloads with missing parts, references outside any wrapper,
    and broken parts nested inside well-formed descriptors."""
    def broken(children: st.SearchStrategy) -> st.SearchStrategy:
        member = st.one_of(
            st.fixed_dictionaries({"name": names, "type": children}),
            st.fixed_dictionaries({"name": names}), st.fixed_dictionaries({"type": children}),
            st.fixed_dictionaries({"name": st.integers() | st.none(), "type": children}),
            junk(2))
        payload = st.one_of(
            children, junk(3), st.lists(member, max_size=3),
            st.fixed_dictionaries({"key": children}), st.fixed_dictionaries({"value": children}),
            st.fixed_dictionaries({"key": children, "value": children}),
            st.fixed_dictionaries({"inputs": st.lists(children, max_size=2) | junk(2),
                                   "output": children}),
            st.builds(T.RecursivePayload, st.sampled_from(["wrapper", "ref", "Wrapper", 3]),
                      st.fixed_dictionaries({"id": names | st.integers() | st.just([]),
                                             "inner": children}) | names | junk(2)),
            st.builds(T.RecursivePayload, st.just("wrapper"), st.fixed_dictionaries({"id": names})))
        return st.one_of(
            st.builds(T.Type, _kind_names, payload),
            children.map(T.array), children.map(T.set_), children.map(T.ref),
            st.tuples(children, children).map(lambda kv: T.dict_(*kv)),
            st.lists(st.tuples(names, children), max_size=3).map(T.struct),
            st.lists(st.tuples(names, children), min_size=1, max_size=3).map(T.variant),
            st.tuples(names, children).map(lambda p: T.recursive(*p)),
            names.map(T.rec_ref))
    leaves = st.one_of(st.sampled_from(SCALAR_TYPES + [T.never(), T.function(), T.async_function()]),
                       junk(2), st.builds(T.Type, _kind_names, junk(2)))
    return st.recursive(leaves, broken, max_leaves=max_leaves)
