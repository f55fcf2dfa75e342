"""Searches over a large trace, side by side with numpy over dense arrays of the same values.

Builds (and caches) a VCD of N samples with four signals: clk toggles every sample, a (8 bits)
changes at about half the samples, b (8 bits) at about a third, mode (8 bits) rarely. Prints
medians measured in this one run:

  find / parallel_find / parallel_count against numpy for (a == 1) and (b > 3)
  the same for a sparse expression over mode
  a sweep over match fractions: where find and parallel_find stay within 2x of numpy
  parallel_count with 1 and 2 workers (RAYON_NUM_THREADS), each setting in several child
  processes taken in turn, so that one disturbed process does not decide the speed-up
  find_with_values against find followed by one signal_value call per index and name

Every method returning a list pays for making one Python int per match; "numpy+list" (numpy's
search followed by tolist()) pays the same and is the like-for-like peer.

Usage: PYTHONPATH=python python bench/bench_find.py [samples]   (default 10_000_000)
"""

import os
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

from quor import PyExpr as E, PyTrace


def median_time(fn, repeat=5):
    """The median wall time of repeat calls, and the last result."""
    times = []
    result = None
    for _ in range(repeat):
        t0 = time.perf_counter()
        result = fn()
        times.append(time.perf_counter() - t0)
    return statistics.median(times), result


def make_values(n, seed=1):
    rng = np.random.default_rng(seed)
    def held(p, hi):
        change = rng.random(n) < p
        change[0] = True
        vals = rng.integers(0, hi, n, dtype=np.uint64)
        idx = np.maximum.accumulate(np.where(change, np.arange(n), 0))
        return vals[idx]
    return {"a": held(0.5, 4), "b": held(0.33, 8), "mode": held(0.0005, 4),
            "clk": (np.arange(n) % 2).astype(np.uint64)}


def write_vcd(path, vals, late=(), lead=0, x_bits=False):
    """Writes vals as a VCD. The signals named in late are first assigned at sample lead (x, or
    with x_bits an explicit bx at sample 0, before it)."""
    names = list(vals)
    codes = "!\"#$"
    n = len(vals["clk"])
    with open(path, "w") as f:
        f.write("$timescale 1ns $end\n$scope module top $end\n")
        for name, code in zip(names, codes):
            width = 1 if name == "clk" else 8
            f.write(f"$var wire {width} {code} {name} $end\n")
        f.write("$upscope $end\n$enddefinitions $end\n")
        cols = [vals[k] for k in names]
        changed = [np.concatenate(([True], c[1:] != c[:-1])) for c in cols]
        text = [f"b{v:b} " for v in range(256)]
        chunk = []
        for i in range(n):
            chunk.append(f"#{i}\n")
            for c, (col, ch) in enumerate(zip(cols, changed)):
                is_late = names[c] in late
                if is_late and i < lead:
                    if x_bits and i == 0:
                        chunk.append(f"bx {codes[c]}\n")
                    continue
                if ch[i] or (is_late and i == lead):
                    v = int(col[i])
                    chunk.append(f"{v}{codes[c]}\n" if names[c] == "clk" else f"{text[v]}{codes[c]}\n")
            if len(chunk) > 200000:
                f.write("".join(chunk))
                chunk = []
        f.write("".join(chunk))


COUNT_CHILD = """
import statistics, sys, time
from quor import PyTrace, PyExpr as E
t = PyTrace.from_vcd(sys.argv[1])
a, b = (E.signal(t.signal_id(n)) for n in ("top.a", "top.b"))
e = a.eq_(E.const_int(1)).and_(b.gt_(E.const_int(3)))
times = []
for _ in range(7):
    t0 = time.perf_counter()
    t.parallel_count(e)
    times.append(time.perf_counter() - t0)
print(statistics.median(times))
"""


def count_with_workers(path, workers):
    env = dict(os.environ, RAYON_NUM_THREADS=str(workers))
    out = subprocess.run([sys.executable, "-c", COUNT_CHILD, path], env=env, capture_output=True, text=True, check=True)
    return float(out.stdout.strip())


def worker_speedup(path, processes=3):
    """Medians over child processes, 1 and 2 workers taken in turn."""
    runs = {1: [], 2: []}
    for _ in range(processes):
        for workers in (1, 2):
            runs[workers].append(count_with_workers(path, workers))
    one, two = statistics.median(runs[1]), statistics.median(runs[2])
    spread = "; ".join(f"{w} worker{'s' if w > 1 else ''}: " + " ".join(f"{x * 1e3:.1f}" for x in runs[w])
                       for w in runs)
    print(f"parallel_count, 1 worker {one * 1e3:.1f} ms, 2 workers {two * 1e3:.1f} ms: speed-up {one / two:.2f}x "
          f"(medians of {processes} processes each; {spread})")


def selectivity_sweep(t, sig, vals):
    """find and parallel_find against numpy as the share of matching indices grows."""
    a, b, mode = vals["a"], vals["b"], vals["mode"]
    c = lambda v: E.const_int(v)
    rows = [
        ("a==1 & b==7 & mode==3", sig["a"].eq_(c(1)).and_(sig["b"].eq_(c(7))).and_(sig["mode"].eq_(c(3))),
         lambda: np.flatnonzero((a == 1) & (b == 7) & (mode == 3))),
        ("a==1 & b>6", sig["a"].eq_(c(1)).and_(sig["b"].gt_(c(6))), lambda: np.flatnonzero((a == 1) & (b > 6))),
        ("a==1 & b>5", sig["a"].eq_(c(1)).and_(sig["b"].gt_(c(5))), lambda: np.flatnonzero((a == 1) & (b > 5))),
        ("a==1 & b>3", sig["a"].eq_(c(1)).and_(sig["b"].gt_(c(3))), lambda: np.flatnonzero((a == 1) & (b > 3))),
        ("a>0 & b>3", sig["a"].gt_(c(0)).and_(sig["b"].gt_(c(3))), lambda: np.flatnonzero((a > 0) & (b > 3))),
        ("a>0 & b>0", sig["a"].gt_(c(0)).and_(sig["b"].gt_(c(0))), lambda: np.flatnonzero((a > 0) & (b > 0))),
    ]
    n = len(a)
    print(f"\n{'expression':22} {'matches':>10} {'share':>7} {'find':>8} {'p_find':>8} {'numpy':>8} {'np+list':>8} "
          f"{'find/np':>8} {'p_find/np':>9} {'find/np+list':>12}")
    for label, expr, np_fn in rows:
        t_np, ref = median_time(np_fn)
        t_np_list, _ = median_time(lambda: np_fn().tolist())
        t_find, got = median_time(lambda: t.find(expr))
        t_pfind, got_p = median_time(lambda: t.parallel_find(expr))
        assert len(got) == len(ref) == len(got_p) and got[:100] == ref[:100].tolist() == got_p[:100]
        print(f"{label:22} {len(ref):10,} {len(ref) / n:6.1%} {t_find * 1e3:6.1f}ms {t_pfind * 1e3:6.1f}ms "
              f"{t_np * 1e3:6.1f}ms {t_np_list * 1e3:6.1f}ms {t_find / t_np:7.2f}x {t_pfind / t_np:8.2f}x "
              f"{t_find / t_np_list:11.2f}x")
    print("  (ratios are quor's time over numpy's: at most 2.00x means within 2x of numpy)")


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 10_000_000
    vals = make_values(n)
    path = os.path.join(tempfile.gettempdir(), f"quor_bench_find_{n}.vcd")
    if not os.path.exists(path):
        print(f"writing {path} ...", flush=True)
        write_vcd(path, vals)
    t0 = time.perf_counter()
    t = PyTrace.from_vcd(path)
    print(f"samples {t.max_index() + 1:,}; load {time.perf_counter() - t0:.1f} s")
    assert t.max_index() + 1 == n

    sig = {k: E.signal(t.signal_id("top." + k)) for k in vals}
    dense = sig["a"].eq_(E.const_int(1)).and_(sig["b"].gt_(E.const_int(3)))
    sparse = sig["mode"].eq_(E.const_int(2))
    a, b, mode = vals["a"], vals["b"], vals["mode"]

    # find returns a list of Python ints; numpy's tolist() makes the same list from its array,
    # so "numpy+list" is the like-for-like peer of find and parallel_find.
    print(f"\n{'query':44} {'quor':>9} {'numpy':>9} {'numpy/quor':>11} {'numpy+list':>11} {'ratio':>7}")
    cases = [
        ("(a == 1) and (b > 3)", dense, lambda: np.flatnonzero((a == 1) & (b > 3))),
        ("mode == 2 (rare changes)", sparse, lambda: np.flatnonzero(mode == 2)),
    ]
    for label, expr, np_fn in cases:
        t_np, ref = median_time(np_fn)
        t_np_list, _ = median_time(lambda: np_fn().tolist())
        # The floor of any method returning a list of Python ints: making that many ints.
        t_floor, _ = median_time(lambda: list(range(len(ref))))
        print(f"  ({len(ref):,} matches; a list of that many ints alone takes {t_floor * 1e3:.1f} ms, "
              f"{t_floor / t_np:.2f}x numpy's search)")
        for method in ("find", "parallel_find", "parallel_count"):
            t_q, got = median_time(lambda: getattr(t, method)(expr))
            if method == "parallel_count":
                assert got == len(ref)
                extra = ""
            else:
                assert len(got) == len(ref) and got[:100] == ref[:100].tolist()
                extra = f" {t_np_list * 1e3:9.1f}ms {t_np_list / t_q:6.2f}x"
            print(f"{method + ': ' + label:44} {t_q * 1e3:7.1f}ms {t_np * 1e3:7.1f}ms {t_np / t_q:10.2f}x{extra}")

    selectivity_sweep(t, sig, vals)

    print()
    worker_speedup(path)

    names = ["top.a", "top.b"]
    t_fwv, rows = median_time(lambda: t.find_with_values(dense, names), repeat=3)

    def find_then_values():
        return [(i, [t.signal_value(nm, i) for nm in names]) for i in t.find(dense)]

    t_loop, rows2 = median_time(find_then_values, repeat=1)
    assert rows == rows2
    print(f"find_with_values {t_fwv * 1e3:.1f} ms, find + signal_value per index and name {t_loop * 1e3:.1f} ms: "
          f"{t_loop / t_fwv:.2f}x ({len(rows):,} rows)")


if __name__ == "__main__":
    main()
