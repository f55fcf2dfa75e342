#!/usr/bin/env python3
"""Writes a synthetic VCD file for load benchmarks.

The trace has `--signals` variables spread over a three-level scope hierarchy
(top.uN.sM), a mix of scalars and vectors up to 64 bits, and `--timestamps`
time steps; at every step `--activity` of the signals change value. A small
share of the values are x or z. All signals get a value at #0 in $dumpvars.

Speed: values are drawn from a per-signal pool of precomputed change lines,
and whole chunks of timestamps are assembled with numpy indexing and written
with one join, so there is no Python work per change beyond the join itself.
2,000 signals x 500,000 timestamps x 2 % (20 million changes, ~350 MB) take
a few minutes.

Usage: gen_vcd.py OUT [--signals N] [--timestamps T] [--activity A] [--seed S]
"""
import argparse
import sys
import time

import numpy as np

POOL = 32            # precomputed change lines per signal
CHUNK_CHANGES = 400_000


def identifier_code(n):
    """The n-th VCD identifier code: base-94 over the printable characters."""
    chars = []
    while True:
        chars.append(chr(33 + n % 94))
        n //= 94
        if n == 0:
            return "".join(chars)
        n -= 1


def pick_widths(rng, count, scalar_fraction):
    vector_widths = np.array([2, 4, 8, 12, 16, 24, 32, 48, 64])
    widths = rng.choice(vector_widths, size=count)
    widths[rng.random(count) < scalar_fraction] = 1
    return widths


def value_pool(rng, width, code, xz_fraction):
    """POOL change lines for one signal; roughly xz_fraction of them hold x or z."""
    lines = []
    for k in range(POOL):
        special = rng.random() < xz_fraction
        if width == 1:
            bit = rng.choice(["x", "z"]) if special else str(k & 1)
            lines.append(f"{bit}{code}\n")
        else:
            bits = "".join(rng.choice(["0", "1"], size=width))
            if special:
                pos = int(rng.integers(0, width))
                bits = bits[:pos] + str(rng.choice(["x", "z"])) + bits[pos + 1:]
            lines.append(f"b{bits} {code}\n")
    return lines


def header(widths, codes, signals_per_leaf):
    out = ["$date\n  synthetic\n$end\n", "$version\n  quor bench/gen_vcd.py\n$end\n",
           "$timescale 1ns $end\n", "$scope module top $end\n"]
    count = len(widths)
    leaves = max(1, (count + signals_per_leaf - 1) // signals_per_leaf)
    units = max(1, int(leaves ** 0.5))
    sig = 0
    for u in range(units):
        out.append(f"$scope module u{u} $end\n")
        for s in range(leaves // units + (1 if u < leaves % units else 0)):
            out.append(f"$scope module s{s} $end\n")
            for _ in range(signals_per_leaf):
                if sig == count:
                    break
                width = int(widths[sig])
                rng_text = f" [{width - 1}:0]" if width > 1 else ""
                kind = "reg" if sig % 3 else "wire"
                out.append(f"$var {kind} {width} {codes[sig]} sig{sig}{rng_text} $end\n")
                sig += 1
            out.append("$upscope $end\n")
        out.append("$upscope $end\n")
    while sig < count:  # leftovers live directly in top
        width = int(widths[sig])
        out.append(f"$var wire {width} {codes[sig]} sig{sig} $end\n")
        sig += 1
    out.append("$upscope $end\n$enddefinitions $end\n")
    return "".join(out)


def generate(path, signals, timestamps, activity, seed, scalar_fraction, xz_fraction,
             signals_per_leaf=50):
    rng = np.random.default_rng(seed)
    widths = pick_widths(rng, signals, scalar_fraction)
    codes = [identifier_code(i) for i in range(signals)]
    pool = np.empty(signals * POOL, dtype=object)
    for sig in range(signals):
        pool[sig * POOL:(sig + 1) * POOL] = value_pool(rng, int(widths[sig]), codes[sig],
                                                       xz_fraction)
    per_step = max(1, min(signals, round(activity * signals)))
    steps_per_chunk = max(1, CHUNK_CHANGES // per_step)
    row = per_step + 1  # one time line, then the changes of that time

    with open(path, "w", buffering=1 << 22) as out:
        out.write(header(widths, codes, signals_per_leaf))
        out.write("#0\n$dumpvars\n")
        initial = np.arange(signals) * POOL + rng.integers(0, POOL, size=signals)
        out.write("".join(pool[initial].tolist()))
        out.write("$end\n")
        time_now = 0
        done = 1
        while done < timestamps:
            steps = min(steps_per_chunk, timestamps - done)
            times = time_now + np.cumsum(rng.integers(1, 6, size=steps))
            time_now = int(times[-1])
            # Distinct signals within a step: a random start plus a fixed set of
            # distinct offsets, redrawn for every chunk.
            offsets = rng.choice(signals, size=per_step, replace=False)
            starts = rng.integers(0, signals, size=(steps, 1))
            chosen = (starts + offsets[None, :]) % signals
            lines = np.empty((steps, row), dtype=object)
            lines[:, 0] = [f"#{t}\n" for t in times.tolist()]
            lines[:, 1:] = pool[chosen * POOL + rng.integers(0, POOL, size=chosen.shape)]
            out.write("".join(lines.ravel().tolist()))
            done += steps
    return per_step * (timestamps - 1) + signals


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--signals", type=int, default=2000)
    parser.add_argument("--timestamps", type=int, default=500_000)
    parser.add_argument("--activity", type=float, default=0.02,
                        help="fraction of signals changing at each timestamp")
    parser.add_argument("--scalar-fraction", type=float, default=0.5)
    parser.add_argument("--xz-fraction", type=float, default=0.03,
                        help="share of pooled values holding x or z")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args(argv)
    if args.signals < 1 or args.timestamps < 1 or not 0 < args.activity <= 1:
        parser.error("signals and timestamps must be positive, activity in (0, 1]")
    start = time.perf_counter()
    changes = generate(args.out, args.signals, args.timestamps, args.activity, args.seed,
                       args.scalar_fraction, args.xz_fraction)
    elapsed = time.perf_counter() - start
    print(f"wrote {args.out}: {args.signals} signals, {args.timestamps} timestamps, "
          f"{changes} changes in {elapsed:.1f} s", file=sys.stderr)


if __name__ == "__main__":
    main()
