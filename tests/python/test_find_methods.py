import math
import os
import subprocess
import sys
import tracemalloc

import pytest

from quor import PyExpr, PyTrace

E = PyExpr


def sig(t, name):
    return E.signal(t.signal_id(name))


def test_docstrings():
    assert PyTrace.parallel_find.__doc__.startswith(
        "Find matching indices using rayon parallel iteration across all CPU cores.\n")
    assert PyTrace.parallel_count.__doc__.startswith("Count matching indices using rayon parallel iteration.\n")
    assert PyTrace.changed_at.__doc__.startswith(
        "Get all signals that changed value at a specific index.\nReturns list of (name, old_value, new_value) tuples.")
    assert PyTrace.find_with_values.__text_signature__ == "($self, expr, signal_names)"
    assert PyTrace.bit_slice_val.__text_signature__ == "($self, val, high, low)"


def test_find_and_counts(small):
    clk = sig(small, "top.clk")
    assert small.find(clk) == [1, 3]
    assert small.parallel_find(clk) == [1, 3]
    assert small.parallel_count(clk) == 2
    cnt_gt0 = sig(small, "top.cnt").gt_(E.const_int(0))
    assert small.find(cnt_gt0) == [1, 3]  # the x at index 2 never matches


def test_eval_expr(small):
    cnt = sig(small, "top.cnt")
    assert small.eval_expr(cnt, 2) is None
    assert small.eval_expr_bool(cnt, 2) is True  # one bit of 1x is 1
    assert small.eval_expr(cnt.rel_eval(1), 2**64 - 1) is None  # never wraps to index 0
    assert small.eval_expr(cnt.rel_eval(-(2**63)), 2**64 - 1) is None
    assert small.eval_expr(cnt, 99) is None
    with pytest.raises(OverflowError, match="index"):
        small.eval_expr(cnt, -1)
    with pytest.raises(TypeError, match="expr"):
        small.eval_expr(1, 0)


def test_find_with_values(small):
    clk = sig(small, "top.clk")
    assert small.find_with_values(clk, ["top.cnt", "nope"]) == [(1, [1, None]), (3, [3, None])]
    assert small.find_with_values(clk, []) == [(1, []), (3, [])]
    assert small.find_with_values(clk, ("top.clk", "top.clk")) == [(1, [1, 1]), (3, [1, 1])]
    with pytest.raises(TypeError, match="Can't extract `str` to `Vec`"):
        small.find_with_values(clk, "top.cnt")
    with pytest.raises(TypeError, match="signal_names"):
        small.find_with_values(clk, [1])


def test_transitions_and_changes(small):
    assert small.transitions("top.clk") == [(1, 0, 1), (2, 1, 0), (3, 0, 1)]
    assert small.transitions("nope") == []
    r = small.transitions("top.r")
    assert [i for i, _, _ in r] == [2, 3]  # NaN held over two indices changes at both
    assert math.isnan(r[1][1]) and math.isnan(r[1][2])
    assert small.changed_at(0) == []
    assert [n for n, _, _ in small.changed_at(1)] == ["top.clk", "top.cnt"]
    assert [n for n, _, _ in small.changed_at(4)] == ["top.clk", "top.cnt", "top.r", "top.sub.clk", "topx.clk"]
    assert [n for n, _, _ in small.changed_at_scope(1, "top")] == ["top.clk", "top.cnt"]
    assert small.changed_at_scope(4, "top.sub") == [("top.sub.clk", 1, None)]


def test_value_helpers(small):
    assert small.bit_slice_val(0xAB, 7, 4) == 10
    assert small.bit_slice_val(0xAB, 3, 4) == 0
    assert small.bit_slice_val(5, 100, 0) == 5
    assert small.bit_slice_val(5, 2**64 - 1, 0) == 5
    assert small.sign_extend_val(0xF, 4) == -1
    assert small.sign_extend_val(0x1F0, 4) == 0x1F0
    assert small.sign_extend_val(2**64 - 1, 64) == -1
    with pytest.raises(OverflowError, match="val"):
        small.bit_slice_val(2**64, 0, 0)
    with pytest.raises(OverflowError, match="width"):
        small.sign_extend_val(1, -1)


def test_empty_trace():
    t = PyTrace.from_vcd_string("")
    assert t.find(E.always_true()) == [0]
    assert t.parallel_count(E.always_true()) == 1


@pytest.mark.skipif(
    os.environ.get("QUOR_TEST_SANITIZED") == "1",
    reason="AddressSanitizer's allocator is not fork-safe: a fork while a worker thread frees "
    "memory leaves its lock held in the child",
)
def test_search_in_forked_child(small):
    """A child forked after the pool started gets a pool of its own instead of hanging."""
    clk = sig(small, "top.clk")
    assert small.parallel_count(clk) == 2  # the parent's pool now exists
    code = (
        "import os, sys\n"
        "from quor import PyTrace, PyExpr\n"
        f"t = PyTrace.from_vcd_string({small_vcd()!r})\n"
        "e = PyExpr.signal(t.signal_id('top.clk'))\n"
        "assert t.parallel_count(e) == 2\n"
        "pid = os.fork()\n"
        "if pid == 0:\n"
        "    ok = t.parallel_count(e) == 2 and t.parallel_find(e) == [1, 3] and len(t.changed_at(1)) == 2\n"
        "    os._exit(0 if ok else 1)\n"
        "_, status = os.waitpid(pid, 0)\n"
        "sys.exit(os.waitstatus_to_exitcode(status))\n"
    )
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    done = subprocess.run([sys.executable, "-c", code], env=env, timeout=60)
    assert done.returncode == 0


def small_vcd():
    from conftest import SMALL_VCD
    return SMALL_VCD


@pytest.fixture(scope="module")
def toggling():
    # 200,001 samples; clk is 1 at every odd index.
    body = "".join(f"#{i}\n{i % 2}!\n" for i in range(200_001))
    return PyTrace.from_vcd_string("$var wire 1 ! clk $end\n$enddefinitions $end\n" + body)


@pytest.mark.parametrize("method", ["find", "parallel_find"])
@pytest.mark.parametrize("limit", [None, 0, 1, 2, 65_535, 65_536, 65_537, 100_000, 100_001, 10**12])
def test_find_limit_gives_the_first_matches(toggling, method, limit):
    clk = E.signal(toggling.signal_id("clk"))
    every = list(range(1, 200_001, 2))
    found = getattr(toggling, method)(clk, limit) if limit is not None else getattr(toggling, method)(clk)
    assert found == every[:limit]
    assert getattr(toggling, method)(clk, limit=limit) == found


@pytest.mark.parametrize("method", ["find", "parallel_find"])
def test_find_limit_stops_the_search(toggling, method):
    # The matches past the limit are never made into Python ints (tracemalloc sees every int made).
    clk = E.signal(toggling.signal_id("clk"))
    tracemalloc.start()
    try:
        getattr(toggling, method)(clk, 10)
        limited = tracemalloc.get_traced_memory()[1]
        tracemalloc.reset_peak()
        getattr(toggling, method)(clk)
        full = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert full > 100_000 * 28  # an int each
    assert limited < 20_000


@pytest.mark.parametrize(
    "call, exc, text",
    [
        (lambda t, e: t.find(e, -1), OverflowError, "argument 'limit': can't convert negative int to unsigned"),
        (lambda t, e: t.parallel_find(e, "3"), TypeError, "argument 'limit': 'str' object cannot be interpreted"),
        (lambda t, e: t.find(e, 1, 2), TypeError, "PyTrace.find() takes from 1 to 2 positional arguments but 3"),
        (lambda t, e: t.parallel_find(limit=3), TypeError,
         "PyTrace.parallel_find() missing 1 required positional argument: 'expr'"),
    ],
)
def test_find_limit_argument_errors(small, call, exc, text):
    with pytest.raises(exc) as err:
        call(small, E.always_true())
    assert str(err.value).startswith(text)


def test_find_signatures():
    assert PyTrace.find.__text_signature__ == "($self, expr, limit=None)"
    assert PyTrace.parallel_find.__text_signature__ == "($self, expr, limit=None)"
