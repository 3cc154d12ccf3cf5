"""Three-way comparers and sort keys: sorting Vorn values of any kind natively."""
import copy
import math
import pickle

from vorn.types import types as T
from vorn.types import values as V
from vorn.utils import _sortkit as sk

person = T.struct(name=T.string(), age=T.integer())
compare = sk.cy_compare_for(person)
print(compare.__qualname__, "->", compare({"name": "Ada", "age": 36}, {"name": "Ada", "age": 28}))

people = [{"name": "Lin", "age": 41}, {"name": "Ada", "age": 36}, {"name": "Ada", "age": 28}]
print("sorted people:", [(p["name"], p["age"]) for p in sorted(people, key=sk.cy_make_vorn_key(person))])

floats = [1.5, math.nan, -0.0, 0.0, -math.inf]
print("floats (NaN last, -0.0 first of zeros):", sorted(floats, key=sk.cy_make_vorn_key(T.float_())))

option = T.variant(some=T.integer(), none=T.null())
opts = [{"type": "some", "value": 2}, {"type": "none", "value": None}, {"type": "some", "value": -1}]
print("variants order by case name:", [o["type"] for o in sorted(opts, key=sk.cy_make_vorn_key(option))])

int_list = T.recursive("L", T.variant(nil=T.null(), cons=T.struct(head=T.integer(), tail=T.rec_ref("L"))))
nil = {"type": "nil", "value": None}


def cons(head, tail):
    return {"type": "cons", "value": {"head": head, "tail": tail}}


print("recursive lists (cases order by name, so cons < nil):", sk.cy_compare_for(int_list)(cons(1, cons(2, nil)), cons(1, nil)))

a, b = V.VornArray(), V.VornArray()
a.append(a)
b.append(b)
print("two self-containing arrays compare:", sk.cy_compare_for(T.recursive(1, T.array(T.rec_ref(1))))(a, b))

try:
    from sortedcontainers import SortedList
except ImportError:  # not a dependency of vorn: only this part of the tour needs it
    print("SortedList of Sets: skipped (pip install sortedcontainers to see it)")
else:
    queue = SortedList(key=sk.cy_make_vorn_key(T.set_(T.integer())))
    for s in ({3, 1}, {1, 2}, set(), {1}):
        queue.add(s)
    print("SortedList of Sets:", [sorted(s) for s in queue])

key = sk.CyVornKey(5, sk.cy_compare_int)
print("keys pickle and copy:", pickle.loads(pickle.dumps(key)).value, copy.deepcopy(key).value,
      "reduce:", key.__reduce__()[1][1])
try:
    sk.cy_compare_for(T.rec_ref(7))
except ValueError as e:
    print("build error:", e)
