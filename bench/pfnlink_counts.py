"""Instructions per platform call, counted by valgrind's callgrind (stable on a busy
machine, unlike timings), with a breakdown of where they go.

    .venv/bin/python bench/pfnlink_counts.py [case ...]     (default: all)

Each case runs in a process of its own under callgrind twice, making 0 and then N
calls from the driver's C loop (the direct baseline: N calls from a Python loop); the
difference of each function's own cost, divided by N, is attributed to a part of the
call by the function's name."""
from __future__ import annotations

import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

N = 20_000
CASES = {
    "direct": "direct call of add(a, b) from a Python loop (the baseline)",
    "add": "typed add(a, b) through the runtime",
    "add_generic": "generic add(a, b), cached specialisation",
    "add_c": "add in C: the runtime and driver alone",
}

SCRIPT = """
import sys
from vorn import _vornc_bridge as bridge
from vorn.types import types as T
I = T.integer()
def add(a, b): return a + b
def factory(_fns, *_types): return add
reg = bridge.Registry()
reg.register([{"name": "add", "fn": add, "inputs": [I, I], "output": I},
              {"name": "add_generic", "fn": factory, "type_parameters": ["T"]},
              {"name": "add_c", "c_callback": bridge._testing.c_functions()["add"], "inputs": [I, I], "output": I}])
case, n = sys.argv[1], int(sys.argv[2])
kw = {"arg_types": [I, I], "ret_type": I, "type_args": [I]} if case == "add_generic" else {}
if case == "direct":
    def run(n):
        f = add
        for _ in range(n):
            f(1, 2)
    run(10)
    run(n)
else:
    reg.call_many(10, case, [1, 2], **kw)
    reg.call_many(n, case, [1, 2], **kw)
"""

# Parts of a call, by the functions that do them (first match wins).
PARTS = [
    ("interpreter lock", r"gil|GILState|pthread_mutex|pthread_cond|pthread_getspecific|tls_get_addr|SaveThread|"
                         r"RestoreThread|futex"),
    ("dispatch lookups", r"dict_lookup|PyDict_GetItem|keys_lookup|bytes_richcompare|RichCompare|memcmp|PyObject_Hash|"
                         r"lookup_global|name_bytes|registry_key|cached_target|find_target|mapping_get|strcmp"),
    ("conversions (stand-in bridge)", r"vornc_bridge::(c_value_to_py|py_value_to_c|.*To(Py|C)::)|PyLong_From|"
                                      r"PyLong_As|vorn_value_int|vorn_rt::pool|vorn_rt::count|destroy_one|"
                                      r"vorn_value_release|vorn_value_retain|vorn_null"),
    ("runtime and driver (stand-ins)", r"vorn_platform_call|find_entry|registry_call_many|vorn_eval_result_clear|"
                                       r"eval_ok|c_add|run_calls|invoke"),
    ("trampoline and hooks", r"vorn::pfnlink::"),
    ("the Python call", r"_PyEval|_PyFrame|initialize_locals|_PyLong_Add|Vectorcall|_PyObject_Free|_PyObject_Malloc|"
                        r"PyObject_Free|PyObject_Malloc|long_add|binary_op|range|listiter"),
]


def self_costs(path: str) -> dict[str, int]:
    out = subprocess.run(["callgrind_annotate", "--threshold=100", path], capture_output=True, text=True).stdout
    costs: dict[str, int] = {}
    for line in out.splitlines():
        m = re.match(r"\s*([\d,]+)\s+\([^)]*\)\s+(.*)$", line)
        if not m or ":" not in m.group(2) or re.search(r"\(\s*[\d,]+x\)", m.group(2)):
            continue
        name = re.sub(r"\s*\[.*\]$", "", m.group(2))
        if not name.startswith("???"):
            name = name.split(":", 1)[1]
        costs[name] = costs.get(name, 0) + int(m.group(1).replace(",", ""))
    return costs


def count(case: str, tmp: pathlib.Path) -> dict[str, float]:
    script = tmp / "calls.py"
    script.write_text(SCRIPT)
    runs = []
    for n in (0, N):
        out = tmp / f"{case}.{n}.out"
        subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", sys.executable,
                        str(script), case, str(n)], check=True, capture_output=True)
        runs.append(self_costs(str(out)))
    return {k: (runs[1].get(k, 0) - runs[0].get(k, 0)) / N for k in set(runs[0]) | set(runs[1])}


def breakdown(per_function: dict[str, float]) -> dict[str, float]:
    parts = {name: 0.0 for name, _ in PARTS}
    parts["other"] = 0.0
    for fn, cost in per_function.items():
        part = next((name for name, pattern in PARTS if re.search(pattern, fn)), "other")
        parts[part] += cost
    return parts


def main(cases: list[str]) -> None:
    if not shutil.which("valgrind"):
        print("valgrind is not installed: no instruction counts")
        return
    print(f"\n== instructions per platform call (callgrind, {N:,} calls; breakdown by part)")
    with tempfile.TemporaryDirectory() as d:
        totals = {}
        for case in cases:
            per_function = count(case, pathlib.Path(d))
            totals[case] = sum(per_function.values())
            line = f"{CASES[case]:<52} {totals[case]:7.0f}"
            if "direct" in totals and case != "direct":
                line += f"   ({totals[case] / totals['direct']:.2f}x direct)"
            print(line, flush=True)
            if case != "direct":
                for part, cost in breakdown(per_function).items():
                    if abs(cost) >= 1:
                        print(f"    {part:<48} {cost:7.0f}")


if __name__ == "__main__":
    main([c for c in sys.argv[1:] if c in CASES] or list(CASES))
