"""Pure-Python equality and identity builders, the baselines of bench_equality.py:
``equal_for`` and ``is_for`` written as a Python programmer would, with closures over
the component functions and a comparison context of id() pairs."""
from __future__ import annotations

import math
from typing import Any, Callable

from vorn.types import types as T
from vorn.types.values import VornBlob

Fn = Callable[..., Any]


def _visit(ctx: dict, x: Any, y: Any) -> bool:
    """Records the pair (x, y); True when it was already recorded."""
    seen = ctx.get(id(x))
    if seen is None:
        ctx[id(x)] = {id(y)}
        return False
    if id(y) in seen:
        return True
    seen.add(id(y))
    return False


def _recursive(builder: Callable[[Any, dict], Fn], type_val: Any, type_ctx: dict) -> Fn:
    payload = type_val.value
    if payload.type == "wrapper":
        rec_id = payload.value["id"]
        cell: list[Fn | None] = [None]

        def forward(x: Any, y: Any, ctx: Any = None) -> Any:
            return cell[0](x, y, ctx)

        prev = type_ctx.get(rec_id)
        type_ctx[rec_id] = forward
        try:
            cell[0] = builder(payload.value["inner"], type_ctx)
        finally:
            if prev is None:
                type_ctx.pop(rec_id, None)
            else:
                type_ctx[rec_id] = prev
        return cell[0]
    resolved = type_ctx.get(payload.value)
    if resolved is None:
        raise ValueError(f"unresolved Recursive ref({payload.value})")
    return resolved


def _float_equal(x: Any, y: Any, _ctx: Any = None) -> bool:
    x, y = float(x), float(y)
    if math.isnan(x):
        return math.isnan(y)
    if x == 0.0 and y == 0.0:
        return math.copysign(1.0, x) == math.copysign(1.0, y)
    return x == y


def equal_for(type_val: Any, type_ctx: dict | None = None) -> Fn:
    if type_ctx is None:
        type_ctx = {}
    if T.is_never_type(type_val):
        def equal_never(_x, _y, _ctx=None):
            raise RuntimeError("Attempted to compare values of type .Never")
        return equal_never
    if T.is_null_type(type_val):
        return lambda _x, _y, _ctx=None: True
    if T.is_boolean_type(type_val) or T.is_integer_type(type_val):
        return lambda x, y, _ctx=None: x == y
    if T.is_float_type(type_val):
        return _float_equal
    if T.is_string_type(type_val) or T.is_datetime_type(type_val):
        return lambda x, y, _ctx=None: x == y
    if T.is_blob_type(type_val):
        def equal_blob(x, y, _ctx=None):
            if len(x.data) != len(y.data):
                return False
            return all(a == b for a, b in zip(x.data, y.data))
        return equal_blob
    if T.is_vector_type(type_val):
        elem_equal = equal_for(type_val.value, type_ctx)

        def equal_vector(x, y, _ctx=None):
            if x is y:
                return True
            if len(x._data) != len(y._data):
                return False
            return all(elem_equal(a, b) for a, b in zip(x._data, y._data))
        return equal_vector
    if T.is_matrix_type(type_val):
        elem_equal = equal_for(type_val.value, type_ctx)

        def equal_matrix(x, y, _ctx=None):
            if x is y:
                return True
            if x.rows != y.rows or x.cols != y.cols:
                return False
            return all(elem_equal(a, b) for a, b in zip(x._data.ravel(), y._data.ravel()))
        return equal_matrix
    if T.is_array_type(type_val):
        value_comparer = equal_for(type_val.value, type_ctx)

        def equal_array(x, y, ctx=None):
            if x is y:
                return True
            if ctx is None:
                ctx = {}
            if _visit(ctx, x, y):
                return True
            if len(x) != len(y):
                return False
            for i in range(len(x)):
                if not value_comparer(x[i], y[i], ctx):
                    return False
            return True
        return equal_array
    if T.is_set_type(type_val):
        def equal_set(x, y, _ctx=None):
            return len(x) == len(y) and all(item in y for item in x)
        return equal_set
    if T.is_dict_type(type_val):
        value_comparer = equal_for(type_val.value["value"], type_ctx)

        def equal_dict(x, y, ctx=None):
            if x is y:
                return True
            if ctx is None:
                ctx = {}
            if _visit(ctx, x, y):
                return True
            if len(x) != len(y):
                return False
            for key, x_val in x.items():
                if key not in y or not value_comparer(x_val, y[key], ctx):
                    return False
            return True
        return equal_dict
    if T.is_ref_type(type_val):
        inner_comparer = equal_for(type_val.value, type_ctx)

        def equal_ref(x, y, ctx=None):
            if x is y:
                return True
            if ctx is None:
                ctx = {}
            if _visit(ctx, x, y):
                return True
            return inner_comparer(x.value, y.value, ctx)
        return equal_ref
    if T.is_struct_type(type_val):
        field_comparers = [(f["name"], equal_for(f["type"], type_ctx)) for f in type_val.value]

        def equal_struct(x, y, ctx=None):
            if ctx is None:
                ctx = {}
            if _visit(ctx, x, y):
                return True
            for name, comparer in field_comparers:
                if not comparer(x[name], y[name], ctx):
                    return False
            return True
        return equal_struct
    if T.is_variant_type(type_val):
        case_comparers = {c["name"]: equal_for(c["type"], type_ctx) for c in type_val.value}

        def equal_variant(x, y, ctx=None):
            if x["type"] != y["type"]:
                return False
            if ctx is None:
                ctx = {}
            if _visit(ctx, x, y):
                return True
            return case_comparers[x["type"]](x["value"], y["value"], ctx)
        return equal_variant
    if T.is_recursive_type(type_val):
        return _recursive(equal_for, type_val, type_ctx)
    if T.is_function_type(type_val) or T.is_async_function_type(type_val):
        return lambda _x, _y, _ctx=None: True
    raise RuntimeError(f"Unknown type encountered during type printing: {type_val.type}")


def is_for(type_val: Any, type_ctx: dict | None = None) -> Fn:
    if type_ctx is None:
        type_ctx = {}
    if T.is_never_type(type_val):
        def is_never(_x, _y, _ctx=None):
            raise RuntimeError("Attempted to compare values of type .Never")
        return is_never
    if T.is_null_type(type_val):
        return lambda _x, _y, _ctx=None: True
    if T.is_boolean_type(type_val) or T.is_integer_type(type_val):
        return lambda x, y, _ctx=None: x == y
    if T.is_float_type(type_val):
        def is_float(x, y, _ctx=None):
            x, y = float(x), float(y)
            return (math.isnan(x) and math.isnan(y)) or x == y
        return is_float
    if T.is_string_type(type_val):
        return lambda x, y, _ctx=None: x == y
    if T.is_datetime_type(type_val):
        return lambda x, y, _ctx=None: x.timestamp() == y.timestamp()
    if T.is_blob_type(type_val):
        def is_blob(x, y, _ctx=None):
            if isinstance(x, VornBlob):
                x = x.data
            if isinstance(y, VornBlob):
                y = y.data
            return len(x) == len(y) and all(a == b for a, b in zip(x, y, strict=True))
        return is_blob
    if any(p(type_val) for p in (T.is_vector_type, T.is_matrix_type, T.is_array_type,
                                  T.is_set_type, T.is_dict_type, T.is_ref_type)):
        return lambda x, y, _ctx=None: x is y
    if T.is_struct_type(type_val):
        field_comparers = [(f["name"], is_for(f["type"], type_ctx)) for f in type_val.value]

        def is_struct(x, y, ctx=None):
            for name, comparer in field_comparers:
                if not comparer(x[name], y[name], ctx):
                    return False
            return True
        return is_struct
    if T.is_variant_type(type_val):
        case_comparers = {c["name"]: is_for(c["type"], type_ctx) for c in type_val.value}

        def is_variant(x, y, ctx=None):
            if x["type"] != y["type"]:
                return False
            return case_comparers[x["type"]](x["value"], y["value"], ctx)
        return is_variant
    if T.is_recursive_type(type_val):
        return _recursive(is_for, type_val, type_ctx)
    if T.is_function_type(type_val):
        raise RuntimeError("Attempted to compare values of type .Function")
    raise RuntimeError(f"Unknown type encountered during type printing: {type_val.type}")
