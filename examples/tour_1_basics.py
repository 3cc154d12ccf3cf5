"""The ordering module's surface and its scalar orders."""
import math

from vorn.utils import _sortkit as sk

print(sk.__doc__.splitlines()[0])
print("functions:", ", ".join(n for n in sorted(vars(sk)) if n.startswith("cy_")))
print("cy_compare_bool(False, True)   =", sk.cy_compare_bool(False, True))
print("cy_compare_int(-2**63, 2**63-1) =", sk.cy_compare_int(-2**63, 2**63 - 1))
print("cy_compare_float(nan, inf)     =", sk.cy_compare_float(math.nan, math.inf), " (NaN is greatest)")
print("cy_compare_float(-0.0, 0.0)    =", sk.cy_compare_float(-0.0, 0.0), " (-0.0 sorts first)")
print("cy_equal_float(nan, nan)       =", sk.cy_equal_float(math.nan, math.nan))
print("cy_compare_string('z', 'é')    =", sk.cy_compare_string("z", "é"), " (by code point)")
try:
    sk.cy_compare_int(1, 2, 3)
except TypeError as e:
    print("argument errors read as usual:", e)
