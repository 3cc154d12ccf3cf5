"""Pure-Python compare_for and make_vorn_key: the baseline the native builders are
timed against, written as a Python programmer would write them (a closure per kind)."""
from __future__ import annotations

import math

from vorn.types import types as T
from vorn.types.values import VornBlob

__all__ = ["compare_for", "make_vorn_key"]


def _visit(x, y, ctx):
    """The comparison context's visit check: True when the pair was seen already."""
    seen = ctx.setdefault(id(x), set())
    if id(y) in seen:
        return True
    seen.add(id(y))
    return False


def _compare_float(x, y, _ctx=None):
    x, y = float(x), float(y)
    if math.isnan(x):
        return 0 if math.isnan(y) else 1
    if math.isnan(y):
        return -1
    if x == 0.0 and y == 0.0:
        sx, sy = math.copysign(1.0, x), math.copysign(1.0, y)
        if sx != sy:
            return -1 if sx < sy else 1
    return (x > y) - (x < y)


def compare_for(type_val, type_ctx=None):
    if type_ctx is None:
        type_ctx = {}

    if T.is_never_type(type_val):
        def compare_never(_x, _y, _ctx=None):
            raise RuntimeError("Attempted to compare values of type .Never")
        return compare_never
    if T.is_null_type(type_val):
        return lambda _x, _y, _ctx=None: 0
    if T.is_boolean_type(type_val):
        def compare_bool(x, y, _ctx=None):
            return bool(x) - bool(y)
        return compare_bool
    if T.is_integer_type(type_val):
        def compare_int(x, y, _ctx=None):
            x, y = int(x), int(y)
            return (x > y) - (x < y)
        return compare_int
    if T.is_float_type(type_val):
        return _compare_float
    if T.is_string_type(type_val):
        def compare_string(x, y, _ctx=None):
            return -1 if x < y else 1 if x > y else 0
        return compare_string
    if T.is_datetime_type(type_val):
        def compare_datetime(x, y, _ctx=None):
            a, b = float(x.timestamp()), float(y.timestamp())
            return -1 if b > a else 1 if a > b else 0
        return compare_datetime
    if T.is_blob_type(type_val):
        def compare_blob(x, y, _ctx=None):
            x = x.data if isinstance(x, VornBlob) else x
            y = y.data if isinstance(y, VornBlob) else y
            for a, b in zip(x, y):
                if a != b:
                    return -1 if a < b else 1
            return (len(x) > len(y)) - (len(x) < len(y))
        return compare_blob
    if T.is_vector_type(type_val):
        elem = compare_for(type_val.value, type_ctx)

        def compare_vector(x, y, _ctx=None):
            if x is y:
                return 0
            xd, yd = x._data, y._data
            for a, b in zip(xd, yd):
                c = elem(a, b)
                if c:
                    return c
            return (len(xd) > len(yd)) - (len(xd) < len(yd))
        return compare_vector
    if T.is_matrix_type(type_val):
        elem = compare_for(type_val.value, type_ctx)

        def compare_matrix(x, y, _ctx=None):
            if x is y:
                return 0
            if x.rows != y.rows:
                return -1 if x.rows < y.rows else 1
            if x.cols != y.cols:
                return -1 if x.cols < y.cols else 1
            for a, b in zip(x._data.ravel(), y._data.ravel()):
                c = elem(a, b)
                if c:
                    return c
            return 0
        return compare_matrix
    if T.is_array_type(type_val):
        cell = []

        def compare_array(x, y, ctx=None):
            if x is y:
                return 0
            if ctx is None:
                ctx = {}
            if _visit(x, y, ctx):
                return 0
            elem = cell[0]
            for a, b in zip(x, y):
                c = elem(a, b, ctx)
                if c:
                    return c
            return (len(x) > len(y)) - (len(x) < len(y))
        cell.append(compare_for(type_val.value, type_ctx))
        return compare_array
    if T.is_set_type(type_val):
        elem = compare_for(type_val.value, type_ctx)
        key = make_vorn_key(type_val.value)

        def compare_set(x, y, ctx=None):
            if x is y:
                return 0
            xs, ys = sorted(x, key=key), sorted(y, key=key)
            for a, b in zip(xs, ys):
                c = elem(a, b, ctx)
                if c != 0:
                    return c
            return (len(xs) > len(ys)) - (len(xs) < len(ys))
        return compare_set
    if T.is_dict_type(type_val):
        key_cmp = compare_for(type_val.value["key"], type_ctx)
        cell = []

        def compare_dict(x, y, ctx=None):
            if x is y:
                return 0
            if ctx is None:
                ctx = {}
            if _visit(x, y, ctx):
                return 0
            value_cmp = cell[0]
            for (xk, xv), (yk, yv) in zip(x.items(), y.items()):
                c = key_cmp(xk, yk, None)
                if c != 0:
                    return c
                c = value_cmp(xv, yv, ctx)
                if c != 0:
                    return c
            return (len(x) > len(y)) - (len(x) < len(y))
        cell.append(compare_for(type_val.value["value"], type_ctx))
        return compare_dict
    if T.is_ref_type(type_val):
        cell = []

        def compare_ref(x, y, ctx=None):
            if x is y:
                return 0
            if ctx is None:
                ctx = {}
            if _visit(x, y, ctx):
                return 0
            return cell[0](x.value, y.value, ctx)
        cell.append(compare_for(type_val.value, type_ctx))
        return compare_ref
    if T.is_struct_type(type_val):
        fields = [(f["name"], compare_for(f["type"], type_ctx)) for f in type_val.value]

        def compare_struct(x, y, ctx=None):
            for name, cmp in fields:
                c = cmp(x[name], y[name], ctx)
                if c:
                    return c
            return 0
        return compare_struct
    if T.is_variant_type(type_val):
        cases = {c["name"]: compare_for(c["type"], type_ctx) for c in type_val.value}

        def compare_variant(x, y, ctx=None):
            xt, yt = x["type"], y["type"]
            if xt < yt:
                return -1
            if xt > yt:
                return 1
            return cases[xt](x["value"], y["value"], ctx)
        return compare_variant
    if T.is_recursive_type(type_val):
        payload = type_val.value
        if payload.type == "wrapper":
            rec_id, cell = payload.value["id"], [None]

            def compare_recursive(x, y, ctx=None):
                return cell[0](x, y, ctx)
            prev = type_ctx.get(rec_id)
            type_ctx[rec_id] = compare_recursive
            try:
                cell[0] = compare_for(payload.value["inner"], type_ctx)
            finally:
                if prev is None:
                    type_ctx.pop(rec_id, None)
                else:
                    type_ctx[rec_id] = prev
            return cell[0]
        resolved = type_ctx.get(payload.value)
        if resolved is None:
            raise ValueError(f"compare_for: unresolved Recursive ref({payload.value})")
        return resolved
    if T.is_function_type(type_val) or T.is_async_function_type(type_val):
        return lambda _x, _y, _ctx=None: 0
    raise RuntimeError(f"Unknown type encountered during type printing: {type_val.type}")


def make_vorn_key(type_val):
    compare = compare_for(type_val)

    class VornKey:
        """Type-specific key wrapper."""
        __slots__ = ("value",)

        def __init__(self, value):
            self.value = value

        def __lt__(self, other):
            return compare(self.value, other.value) < 0

        def __le__(self, other):
            return compare(self.value, other.value) <= 0

        def __gt__(self, other):
            return compare(self.value, other.value) > 0

        def __ge__(self, other):
            return compare(self.value, other.value) >= 0

        def __eq__(self, other):
            if not isinstance(other, VornKey):
                return NotImplemented
            return compare(self.value, other.value) == 0

        def __hash__(self):
            return hash(self.value)

    return VornKey
