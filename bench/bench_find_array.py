"""find_array and parallel_find_array against numpy.flatnonzero over dense uint64 arrays.

Builds (and caches in bench/.data/) a VCD of N samples whose signals a (1 bit) and b (8 bits)
take a random value at every sample, and times, as medians of several rounds in which numpy and quor take turns:

  (a == 1) and (b > 3)   about 49 % of the indices match
  (a == 1) and (b < 2)   about 0.4 % match

numpy's time covers the comparisons and flatnonzero over arrays built beforehand (building
them is not timed), so it is the search alone; quor's covers the search and the owning array
of indices it returns. A ratio above 1 means quor is faster.

Usage: PYTHONPATH=python python bench/bench_find_array.py [samples]   (default 10_000_000)
"""

import os
import statistics
import sys
import time

import numpy as np

from quor import PyTrace

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), ".data")


def timed_in_turn(fns, repeat=11):
    """Each function's wall times, the functions called in turn repeat times (so a busy spell of
    the machine falls on all of them alike), and each one's last result."""
    times = [[] for _ in fns]
    results = [None] * len(fns)
    for _ in range(repeat):
        for k, fn in enumerate(fns):
            t0 = time.perf_counter()
            results[k] = fn()
            times[k].append(time.perf_counter() - t0)
    return times, results


def random_values(n, seed=7):
    rng = np.random.default_rng(seed)
    return rng.integers(0, 2, n, dtype=np.uint64), rng.integers(0, 256, n, dtype=np.uint64)


def write_vcd(path, a, b):
    """One timestamp per sample; a value line wherever a signal's value changes."""
    n = len(a)
    a_changed = np.concatenate(([True], a[1:] != a[:-1]))
    b_changed = np.concatenate(([True], b[1:] != b[:-1]))
    b_text = [f"b{v:b} #\n" for v in range(256)]
    a_text = ["0!\n", "1!\n"]
    with open(path + ".part", "w") as f:
        f.write("$timescale 1ns $end\n$scope module top $end\n")
        f.write("$var wire 1 ! a $end\n$var wire 8 # b [7:0] $end\n$upscope $end\n$enddefinitions $end\n")
        step = 1 << 18
        for lo in range(0, n, step):
            hi = min(n, lo + step)
            av, bv = a[lo:hi].tolist(), b[lo:hi].tolist()
            ac, bc = a_changed[lo:hi].tolist(), b_changed[lo:hi].tolist()
            out = []
            for k in range(hi - lo):
                out.append(f"#{lo + k}\n")
                if ac[k]:
                    out.append(a_text[av[k]])
                if bc[k]:
                    out.append(b_text[bv[k]])
            f.write("".join(out))
    os.replace(path + ".part", path)


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 10_000_000
    a, b = random_values(n)
    os.makedirs(DATA, exist_ok=True)
    path = os.path.join(DATA, f"find_array_{n}.vcd")
    if not os.path.exists(path):
        print(f"writing {path} ...", flush=True)
        write_vcd(path, a, b)
    t0 = time.perf_counter()
    trace = PyTrace.from_vcd(path)
    print(f"samples {trace.max_index() + 1:,}; load {time.perf_counter() - t0:.1f} s")
    assert trace.max_index() + 1 == n

    cases = [
        ("(a == 1) and (b > 3)", "a == 1 && b > 3", lambda: np.flatnonzero((a == 1) & (b > 3))),
        ("(a == 1) and (b < 2)", "a == 1 && b < 2", lambda: np.flatnonzero((a == 1) & (b < 2))),
    ]
    print(f"\n{'query':24} {'matches':>11} {'method':>20} {'numpy':>9} {'quor':>9} {'numpy/quor':>11} "
          f"{'best numpy/quor':>16}")
    for label, text, np_fn in cases:
        expr = trace.expr(text, scope="top")
        methods = ("find_array", "parallel_find_array")
        searches = [np_fn] + [lambda m=m: getattr(trace, m)(expr) for m in methods]
        (t_np, *t_quor), (ref, *got) = timed_in_turn(searches)
        for method, t_q, found in zip(methods, t_quor, got):
            assert np.array_equal(np.asarray(found), ref), method
            med_np, med_q = statistics.median(t_np), statistics.median(t_q)
            print(f"{label:24} {len(ref):11,} {method:>20} {med_np * 1e3:7.1f}ms {med_q * 1e3:7.1f}ms "
                  f"{med_np / med_q:10.2f}x {min(t_np) / min(t_q):15.2f}x")
    print("  (medians; 'best' compares the fastest call of each, which a busy machine disturbs least)")
    print("  (numpy/quor of at least 2.00x is the target)")


if __name__ == "__main__":
    main()
