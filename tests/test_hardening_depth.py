"""Depth and size: values and descriptors nested a million deep end in RecursionError
in every comparer, equality and identity function, key and conversion (also with
the recursion limit raised out of the way, and on a thread with a small stack, where
the C stack check has to stop the walk); a 10 000 000-element Array compares in
bounded extra memory."""
from __future__ import annotations

import subprocess
import sys
import textwrap
import threading

import pytest

import hooks
from vorn import _vornc_bridge as bridge
from vorn.serialization import _textcodec as tc
from vorn.types import types as T
from vorn.types import values as V
from vorn.utils import _sortkit as sk

DEPTH = 1_000_000


def nest(wrap, leaf, depth=DEPTH):
    v = leaf
    for _ in range(depth):
        v = wrap(v)
    return v


def cons(tail):
    return {"type": "cons", "value": {"head": 1, "tail": tail}}


ROWS = type(V.VornMatrix([[0]])._data)  # the row store a VornMatrix keeps


def one_by_one(v):
    """A 1 x 1 VornMatrix holding v, made without its constructor's checks per level."""
    m = object.__new__(V.VornMatrix)
    m.rows, m.cols, m._data = 1, 1, ROWS([[v]])
    return m


# Each shape: a Recursive type and a maker of a value nested DEPTH deep in it.
SHAPES = {
    "array": (T.recursive("A", T.array(T.rec_ref("A"))), lambda: nest(lambda v: [v], [])),
    "list": (T.recursive("L", T.variant(nil=T.null(), cons=T.struct(head=T.integer(), tail=T.rec_ref("L")))),
             lambda: nest(cons, {"type": "nil", "value": None})),
    "ref": (T.recursive("R", T.ref(T.rec_ref("R"))), lambda: nest(V.VornRef, None)),
    "dict": (T.recursive("D", T.dict_(T.string(), T.rec_ref("D"))), lambda: nest(lambda v: {"k": v}, {})),
    "vector": (T.recursive("V", T.vector(T.rec_ref("V"))), lambda: nest(lambda v: V.VornVector([v]), V.VornVector())),
    "matrix": (T.recursive("M", T.matrix(T.rec_ref("M"))), lambda: nest(one_by_one, V.VornMatrix([]))),
}


@pytest.fixture(scope="module", params=sorted(SHAPES))
def deep(request):
    """(type, x, y): two equal values of one shape, each nested DEPTH deep."""
    t, make = SHAPES[request.param]
    return request.param, t, make(), make()


@pytest.fixture(params=["default limit", "raised limit", "small thread stack"])
def limits(request):
    """Runs a call under the default recursion limit, under a limit raised far past
    what the C stack holds, or on a thread with a 256 KiB stack and the raised limit."""
    saved = sys.getrecursionlimit()
    if request.param != "default limit":
        sys.setrecursionlimit(100 * DEPTH)

    def run(call, *args):
        if request.param != "small thread stack":
            return call(*args)
        outcome = []

        def work():
            try:
                outcome.append(("value", call(*args)))
            except BaseException as e:  # re-raised on the calling thread
                outcome.append(("error", e))

        old = threading.stack_size(256 * 1024)
        try:
            th = threading.Thread(target=work)
            th.start()
            th.join()
        finally:
            threading.stack_size(old)
        kind, result = outcome[0]
        if kind == "error":
            raise result
        return result

    yield run
    sys.setrecursionlimit(saved)


def test_each_thread_is_stopped_by_its_own_stack():
    """Threads with small and large stacks, one after another and side by side, compare
    values 2000 deep (about a quarter of a small stack's usable part and far less than a
    large one's): the small stacks stop the walk, the large ones finish it, whatever
    thread probed its stack last.

    CPython 3.12 bounds native recursion by a fixed limit of its own (1500 entries, some
    750 levels of these values), which sys.setrecursionlimit does not raise: there the
    values are 500 deep and the small stacks a quarter as large, in the same proportion."""
    depth, small = (500, 64) if sys.version_info[:2] == (3, 12) else (2000, 256)
    compare = sk.cy_compare_for(SHAPES["array"][0])
    pair = (nest(lambda v: [v], [], depth), nest(lambda v: [v], [], depth))
    outcomes = {}

    def work(name, rounds):
        for _ in range(rounds):
            try:
                outcomes.setdefault(name, set()).add(compare(*pair))
            except RecursionError:
                outcomes.setdefault(name, set()).add("RecursionError")

    saved_limit, saved_interval = sys.getrecursionlimit(), sys.getswitchinterval()
    sys.setrecursionlimit(100 * DEPTH)
    sys.setswitchinterval(1e-5)
    try:
        for batch in ([("small 0", small), ("large 0", 16384), ("small 1", small)],
                      [("small 2", small), ("large 1", 16384), ("large 2", 8192), ("small 3", 2 * small)]):
            threads = []
            for name, kib in batch:
                old = threading.stack_size(kib * 1024)  # for threads started from now on
                try:
                    threads.append(threading.Thread(target=work, args=(name, 20)))
                    threads[-1].start()
                finally:
                    threading.stack_size(old)
                if name == "small 0" or name == "large 0":  # the first batch one after another
                    threads[-1].join()
            for th in threads:
                th.join()
        work("main", 5)
    finally:
        sys.setrecursionlimit(saved_limit)
        sys.setswitchinterval(saved_interval)
    assert outcomes == {name: {"RecursionError"} if name.startswith("small") else {0}
                        for name in ["small 0", "small 1", "small 2", "small 3", "large 0", "large 1",
                                     "large 2", "main"]}


@pytest.mark.parametrize("builder", [sk.cy_compare_for, sk.cy_equal_for])
def test_deep_values_raise_recursion_error_in_comparers_and_equality(deep, limits, builder):
    _, t, x, y = deep
    fn = builder(t)
    with pytest.raises(RecursionError):
        limits(fn, x, y)


def test_deep_values_raise_recursion_error_in_keys(deep, limits):
    _, t, x, y = deep
    key = sk.cy_make_vorn_key(t)
    with pytest.raises(RecursionError):
        limits(lambda: key(x) < key(y))
    with pytest.raises(RecursionError):
        limits(lambda: sorted([x, y], key=key))


class UserKey(sk.CyVornKey):
    pass


@pytest.mark.parametrize("make", [
    lambda v: sk.CyVornKey(v, sk.cy_compare_int),
    lambda v: UserKey(v, sk.cy_compare_int),
    sk.cy_make_vorn_key(T.integer()),
], ids=["CyVornKey", "subclass", "VornKey"])
def test_a_million_keys_each_holding_the_next_are_freed(make):
    chain = nest(make, 0)
    del chain  # freed link by link without a C call per level


def test_deep_values_raise_recursion_error_in_identity(deep, limits):
    # Structs and Variants are walked field by field; containers are identical only
    # when they are the same object, which is answered without walking them.
    name, t, x, y = deep
    fn = sk.cy_is_for(t)
    if name == "list":
        with pytest.raises(RecursionError):
            limits(fn, x, y)
    else:
        assert limits(fn, x, y) is False and limits(fn, x, x) is True


def test_deep_values_raise_recursion_error_in_conversions(deep, limits):
    _, t, x, _ = deep
    with pytest.raises(RecursionError):
        limits(bridge.CValue, t, x)
    with pytest.raises(RecursionError):
        limits(tc._print_value, t, x)


def test_deep_runtime_value_raises_recursion_error_back_in_python(limits):
    handle = hooks.testing().nested_arrays(DEPTH)
    with pytest.raises(RecursionError):
        limits(handle.to_py)


def test_deep_text_is_refused_by_the_parser(limits):
    t = SHAPES["array"][0]
    with pytest.raises(ValueError, match="parse failed"):
        limits(tc._parse_value, t, "[" * DEPTH + "]" * DEPTH)


def struct_of(t):
    return T.Type("Struct", [{"name": "a", "type": t}])


@pytest.fixture(scope="module", params=["deep", "cyclic"])
def descriptor(request):
    """A Struct descriptor nested DEPTH deep, or one that is its own field's type
    (Structs, since every builder builds their field types)."""
    if request.param == "deep":
        t = nest(struct_of, T.integer())
    else:
        t = struct_of(None)
        t.value[0]["type"] = t
    yield t
    t.value = None  # drops the cycle, and the chain at once


@pytest.mark.parametrize("build", [sk.cy_compare_for, sk.cy_equal_for, sk.cy_is_for, sk.cy_make_vorn_key,
                                   bridge.CType, tc._print_type])
def test_deep_and_cyclic_descriptors_raise_recursion_error(limits, descriptor, build):
    with pytest.raises(RecursionError):
        limits(build, descriptor)


BIG_ARRAY = textwrap.dedent("""
    import re, sys, tracemalloc
    from vorn.types import types as T
    from vorn.utils import _sortkit as sk

    def peak_rss():
        with open("/proc/self/status") as f:
            return int(re.search(r"VmHWM:\\s+(\\d+) kB", f.read()).group(1)) * 1024

    def reset_peak_rss():  # the high-water mark restarts from the resident size now
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")

    n = 10_000_000
    kind = sys.argv[1]
    make = {"Integer": lambda: list(range(n)), "Float": lambda: [i * 0.5 for i in range(n)],
            "String": lambda: [str(i % 1000) for i in range(n)], "Array": lambda: [[i] for i in range(n)]}[kind]
    x, y = make(), make()
    element = {"Integer": T.integer(), "Float": T.float_(), "String": T.string(), "Array": T.array(T.integer())}
    for name, builder in [("compare", sk.cy_compare_for), ("equal", sk.cy_equal_for)]:
        fn = builder(T.array(element[kind]))
        reset_peak_rss()
        before = peak_rss()
        tracemalloc.start()
        result = fn(x, y)
        _, traced = tracemalloc.get_traced_memory()
        tracemalloc.stop()
        print(name, result, traced, peak_rss() - before, before)
""")


@pytest.mark.slow
@pytest.mark.parametrize("kind, bytes_per_element", [("Integer", 0), ("Float", 0), ("String", 0), ("Array", 60)])
def test_ten_million_element_array_compares_in_bounded_memory(kind, bytes_per_element):
    # Two equal arrays, so the walk goes to the end; the comparer, then the equality
    # function. The peak is measured in a process of its own: the Python allocations
    # made during the call (tracemalloc) and the growth of the peak resident size over
    # the one the two arrays had made. Scalars need nothing; inner Arrays are recorded
    # in the comparison context, which a comparison needs to end on cyclic values, at
    # a few dozen bytes a pair.
    out = subprocess.run([sys.executable, "-c", BIG_ARRAY, kind], capture_output=True, text=True, check=True)
    for line in out.stdout.splitlines():
        name, result, traced, rss_growth, rss = line.split()
        print(f"\n10M-element Array of {kind}, {name}: result {result}, peak Python allocation "
              f"{int(traced)} B, peak RSS growth {int(rss_growth) / 2**20:.1f} MiB over {int(rss) / 2**20:.0f} MiB")
        assert result in ("0", "True")
        assert int(traced) < 64 * 1024
        assert int(rss_growth) < 16 * 2**20 + bytes_per_element * 10_000_000
