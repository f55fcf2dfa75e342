"""Searches over a trace whose signals start as x, side by side with numpy.

Same values as bench_find.py, except that a and b are first assigned at sample `lead`, so they
read x (Unknown) before it; with "bx", they are assigned bx (x bits) at sample 0 instead. numpy searches dense arrays with a
mask of the known samples. Prints medians measured in this one run.

Usage: PYTHONPATH=python python bench/bench_find_unknown.py [samples] [lead] [bx]   (10_000_000, 100)
"""

import os
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.dirname(__file__))
from bench_find import make_values, median_time, write_vcd  # noqa: E402
from quor import PyExpr as E, PyTrace  # noqa: E402


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 10_000_000
    lead = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    x_bits = len(sys.argv) > 3 and sys.argv[3] == "bx"
    vals = make_values(n)
    path = os.path.join(tempfile.gettempdir(), f"quor_bench_find_unknown_{n}_{lead}{'_bx' if x_bits else ''}.vcd")
    if not os.path.exists(path):
        print(f"writing {path} ...", flush=True)
        write_vcd(path, vals, late=("a", "b"), lead=lead, x_bits=x_bits)
    t = PyTrace.from_vcd(path)
    sig = {k: E.signal(t.signal_id("top." + k)) for k in ("a", "b")}
    a, b = vals["a"], vals["b"]
    known = np.arange(n) >= lead
    c = E.const_int
    cases = [
        ("(a == 1) and (b > 3)", sig["a"].eq_(c(1)).and_(sig["b"].gt_(c(3))),
         lambda: np.flatnonzero(known & (a == 1) & (b > 3))),
        ("(a != 1) or not (b > 3)", sig["a"].neq(c(1)).or_(sig["b"].gt_(c(3)).not_()),
         lambda: np.flatnonzero(~known | (a != 1) | ~(b > 3))),
    ]
    print(f"samples {n:,}, a and b {'bx' if x_bits else 'unassigned'} for the first {lead}")
    # find returns a list of Python ints; numpy followed by tolist() is its like-for-like peer.
    print(f"{'query':44} {'quor':>9} {'numpy':>9} {'numpy/quor':>11} {'numpy+list':>11} {'ratio':>7}")
    for label, expr, np_fn in cases:
        t_np, ref = median_time(np_fn)
        t_np_list, _ = median_time(lambda: np_fn().tolist())
        for method in ("find", "parallel_find", "parallel_count"):
            t_q, got = median_time(lambda: getattr(t, method)(expr))
            extra = ""
            if method == "parallel_count":
                assert got == len(ref)
            else:
                assert len(got) == len(ref) and got[:200] == ref[:200].tolist()
                extra = f" {t_np_list * 1e3:9.1f}ms {t_np_list / t_q:6.2f}x"
            print(f"{method + ': ' + label:44} {t_q * 1e3:7.1f}ms {t_np * 1e3:7.1f}ms {t_np / t_q:10.2f}x{extra}")


if __name__ == "__main__":
    main()
