"""Equality and identity: cy_equal_for and cy_is_for build one function per type."""
from vorn.types import types as T
from vorn.types.values import VornArray, VornRef
from vorn.utils._sortkit import cy_equal_for, cy_is_for

nan = float("nan")

# Floats: NaN equals NaN, -0.0 differs from 0.0 under equality; identity forgives the sign.
same_float = cy_equal_for(T.float_())
print("equal(nan, nan) =", same_float(nan, nan), "| equal(0.0, -0.0) =", same_float(0.0, -0.0),
      "| is(0.0, -0.0) =", cy_is_for(T.float_())(0.0, -0.0))

# Structs compare field by field; keys that are not fields are not looked at.
point = T.struct(x=T.float_(), y=T.float_())
print("points equal:", cy_equal_for(point)({"x": 1.0, "y": nan}, {"x": 1.0, "y": nan, "tag": "b"}))

# A recursive list type: built once, compared to any depth.
int_list = T.recursive("L", T.variant(nil=T.null(), cons=T.struct(head=T.integer(), tail=T.rec_ref("L"))))


def cells(*items):
    v = {"type": "nil", "value": None}
    for item in reversed(items):
        v = {"type": "cons", "value": {"head": item, "tail": v}}
    return v


lists_equal = cy_equal_for(int_list)
print(lists_equal.__qualname__, "->", lists_equal(cells(1, 2, 3), cells(1, 2, 3)),
      lists_equal(cells(1, 2, 3), cells(1, 2)))

# Cyclic values terminate: each pair is recorded in the comparison context.
nested = T.recursive("A", T.array(T.rec_ref("A")))
a, b = VornArray(), VornArray()
a.append(a)
b.append(b)
print("self-containing arrays equal:", cy_equal_for(nested)(a, b))

# Identity: containers only when they are the same object.
refs_identical = cy_is_for(T.ref(T.integer()))
r = VornRef(1)
print("same ref:", refs_identical(r, r), "| equal but distinct refs:", refs_identical(r, VornRef(1)),
      "| equal:", cy_equal_for(T.ref(T.integer()))(r, VornRef(1)))
