"""Concurrency: comparers, equality and identity functions and key classes shared by
eight threads at once, builders racing on shared descriptors, values mutated while
other threads compare them, and the text codec and the bridge conversions on eight
threads. Results must match a single-threaded run, and nothing may crash. (Platform
calls on several threads are covered by test_pfnlink_threads.py.)"""
from __future__ import annotations

import copy
import functools
import random
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

THREADS = 8
I = T.integer()
LIST = T.recursive("L", T.variant(nil=T.null(), cons=T.struct(head=I, tail=T.rec_ref("L"))))
RECORD = T.struct(name=T.string(), score=T.float_(), tags=T.set_(T.string()),
                  extra=T.dict_(T.string(), T.array(I)), next=LIST)


def linked(items):
    v = {"type": "nil", "value": None}
    for head in reversed(items):
        v = {"type": "cons", "value": {"head": head, "tail": v}}
    return v


def record(rng):
    return {"name": rng.choice(["ada", "alan", "grace", "é", ""]), "score": rng.choice([0.0, -0.0, 1.5, float("nan")]),
            "tags": V.VornSet(rng.sample(["a", "b", "c"], rng.randint(0, 3))),
            "extra": V.VornDict({"k": V.VornArray([rng.randint(0, 3)])}),
            "next": linked([rng.randint(0, 2) for _ in range(rng.randint(0, 3))])}


@pytest.fixture
def preempting():
    """Switches threads as often as the interpreter allows, so that they interleave
    inside every call that runs Python code."""
    saved = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(saved)


def run_threads(work, n=THREADS):
    """Runs work(k) on n threads started together; re-raises the first failure."""
    barrier = threading.Barrier(n)
    errors = []

    def run(k):
        try:
            barrier.wait()
            work(k)
        except BaseException as e:  # reported by the main thread
            errors.append(e)

    threads = [threading.Thread(target=run, args=(k,)) for k in range(n)]
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    if errors:
        raise errors[0]


@pytest.mark.usefixtures("preempting")
def test_shared_ordering_functions_and_keys_from_eight_threads():
    compare, equal, same = sk.cy_compare_for(RECORD), sk.cy_equal_for(RECORD), sk.cy_is_for(LIST)
    key = sk.cy_make_vorn_key(RECORD)
    batches = [[record(random.Random(k * 100 + i)) for i in range(30)] for k in range(THREADS)]
    expected = [[id(v) for v in sorted(b, key=functools.cmp_to_key(compare))] for b in batches]

    def work(k):
        values = batches[k]
        for _ in range(20):
            assert [id(v) for v in sorted(values, key=key)] == expected[k]
            for v in values:
                assert compare(v, copy.deepcopy(v)) == 0
                assert equal(v, copy.deepcopy(v)) is True  # NaN scores equal too
                assert same(v["next"], v["next"]) is True

    run_threads(work)


@pytest.mark.usefixtures("preempting")
def test_builders_racing_on_shared_descriptors():
    values = [record(random.Random(i)) for i in range(10)]
    reference = [[sk.cy_compare_for(RECORD)(a, b) for b in values] for a in values]

    def work(k):
        for _ in range(30):
            compare = sk.cy_compare_for(RECORD)
            assert [[compare(a, b) for b in values] for a in values] == reference
            assert sk.cy_equal_for(LIST)(values[k]["next"], copy.deepcopy(values[k]["next"])) is True
            sk.cy_is_for(LIST)
            sk.cy_make_vorn_key(LIST)

    run_threads(work)


class Text(str):
    """A str whose comparisons run Python code, so that other threads get to run in
    the middle of a walk over the containers holding it."""

    def __lt__(self, other):
        return str.__lt__(self, other)

    def __gt__(self, other):
        return str.__gt__(self, other)

    def __eq__(self, other):
        return str.__eq__(self, other)

    __hash__ = str.__hash__


@pytest.mark.usefixtures("preempting")
def test_values_mutated_while_other_threads_compare_them():
    # The mutator changes lengths, items and entries in the middle of the walks: they
    # may see any state and may raise the interpreter's errors, but never crash.
    array = V.VornArray(Text(i) for i in range(50))
    mapping = {f"k{i}": Text(i) for i in range(50)}
    ref = V.VornRef(Text(1))
    t = T.struct(a=T.array(T.string()), d=T.dict_(T.string(), T.string()), r=T.ref(T.string()))
    value = {"a": array, "d": mapping, "r": ref}
    other = {"a": V.VornArray(array), "d": dict(mapping), "r": V.VornRef(ref.value)}
    stop = threading.Event()
    fns = [sk.cy_compare_for(t), sk.cy_equal_for(t), sk.cy_is_for(t)]
    key = sk.cy_make_vorn_key(t)
    expected_errors = (IndexError, RuntimeError, KeyError)

    def mutate():
        rng = random.Random(7)
        while not stop.is_set():
            op = rng.randrange(6)
            if op == 0 and array:
                array.pop(rng.randrange(len(array)))
            elif op == 1:
                array.insert(rng.randrange(len(array) + 1), Text(rng.randrange(9)))
            elif op == 2:
                mapping.pop(f"k{rng.randrange(60)}", None)
            elif op == 3:
                mapping[f"k{rng.randrange(60)}"] = Text(rng.randrange(9))
            elif op == 4:
                ref.value = Text(rng.randrange(9))
            else:
                array[:] = [Text(j) for j in range(rng.randrange(60))]

    def work(k):
        if k == 0:
            return mutate()
        try:
            for _ in range(300):
                for fn in fns:
                    try:
                        fn(value, other)
                        fn(other, value)
                    except expected_errors:
                        pass
                try:
                    sorted([value, other, value], key=key)
                except expected_errors:
                    pass
        finally:
            if k == 1:
                stop.set()

    run_threads(work)


@pytest.mark.usefixtures("preempting", "runtime_handles_balanced")
def test_text_codec_and_conversions_from_eight_threads():
    cases = [(RECORD, record(random.Random(i))) for i in range(8)] + [
        (T.array(T.matrix(T.float_())), [V.VornMatrix([[1.5, -0.0], [float("inf"), 2.0]])]),
        (T.dict_(T.string(), T.datetime()), V.VornDict()),
    ]
    texts = [tc._print_value(t, v) for t, v in cases]
    types = [tc._print_type(t) for t, _ in cases]

    def work(k):
        for i in range(60):
            j = (k + i) % len(cases)
            t, v = cases[j]
            assert tc._print_value(t, v) == texts[j]
            assert tc._print_type(t) == types[j]
            assert tc._print_value(t, tc._parse_value(t, texts[j])) == texts[j]
            with pytest.raises(ValueError):
                tc._parse_value(t, texts[j][:-1])
            assert tc._print_value(t, bridge.CValue(t, v).to_py()) == texts[j]

    run_threads(work)


FIRST_USE_ON_EIGHT_THREADS = textwrap.dedent("""
    import threading
    from vorn import _vornc_bridge as bridge
    from vorn.serialization import _textcodec as tc
    from vorn.types import types as T
    barrier = threading.Barrier(8)
    def work():
        barrier.wait()
        for _ in range(50):
            assert tc._parse_value(T.array(T.integer()), tc._print_value(T.array(T.integer()), [1, 2])) == [1, 2]
    threads = [threading.Thread(target=work) for _ in range(8)]
    for th in threads: th.start()
    for th in threads: th.join()
    c = bridge._testing.counters()
    print(c["builtin_registries_made"], c["platform_registries_made"], c["thread_contexts_set"], c["type_of_type_inits"])
""")


def test_first_use_of_the_codec_on_eight_threads_at_once_sets_the_runtime_up_once():
    hooks.testing()
    out = subprocess.run([sys.executable, "-c", FIRST_USE_ON_EIGHT_THREADS], capture_output=True, text=True,
                         check=True)
    assert out.stdout.split() == ["1", "1", "1", "1"]
