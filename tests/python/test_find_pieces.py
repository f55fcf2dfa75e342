"""find, parallel_find and parallel_count agree with the per-index evaluator on traces long
enough for the parallel search to split into many pieces, also with a pool of one worker."""

import os
import subprocess
import sys

import pytest

from quor import PyExpr as E, PyTrace

SAMPLES = 150_001  # more than one piece per worker, the last one short


def windowed_vcd(samples):
    """w is 1 on indices 40_000..79_999; c counts 0, 1, 2 over and over."""
    lines = ["$scope module top $end", "$var wire 1 ! w $end", "$var wire 2 \" c $end",
             "$upscope $end", "$enddefinitions $end"]
    for i in range(samples):
        lines.append(f"#{i}")
        if i in (0, 40_000, 80_000):
            lines.append(f"{1 if i == 40_000 else 0}!")
        lines.append(f"b{i % 3:b} \"")
    return "\n".join(lines) + "\n"


def cases(t):
    w, c = (E.signal(t.signal_id(n)) for n in ("top.w", "top.c"))
    return {
        "nowhere": w.eq_(E.const_int(5)),
        "everywhere": E.always_true(),
        "window": w.eq_(E.const_int(1)),
        "every third": c.eq_(E.const_int(2)),
        "window and every third": w.and_(c.gt_(E.const_int(1))),
        "outside the window": w.not_(),
    }


def check(t):
    for name, e in cases(t).items():
        expected = [i for i in range(t.max_index() + 1) if t.eval_expr_bool(e, i)]
        assert t.find(e) == expected, name
        assert t.parallel_find(e) == expected, name
        assert t.parallel_count(e) == len(expected), name


@pytest.fixture(scope="module")
def long_trace():
    return PyTrace.from_vcd_string(windowed_vcd(SAMPLES))


def test_many_pieces(long_trace):
    check(long_trace)


@pytest.mark.parametrize("samples", [1, 2, 3])
def test_tiny_traces(samples):
    check(PyTrace.from_vcd_string(windowed_vcd(samples)))


def test_pool_of_one_worker():
    code = (
        "import sys\n"
        "sys.path.insert(0, sys.argv[1])\n"
        "from test_find_pieces import SAMPLES, check, windowed_vcd\n"
        "from quor import PyTrace\n"
        "check(PyTrace.from_vcd_string(windowed_vcd(SAMPLES)))\n"
        "check(PyTrace.from_vcd_string(windowed_vcd(1)))\n"
    )
    env = dict(os.environ, RAYON_NUM_THREADS="1", PYTHONPATH=os.pathsep.join(sys.path))
    done = subprocess.run([sys.executable, "-c", code, os.path.dirname(__file__)], env=env, timeout=120)
    assert done.returncode == 0
