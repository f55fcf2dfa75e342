#!/usr/bin/env python3
"""Load cost of wide vectors: a trace whose changes are 20 % 128-bit vectors against the same
trace with 64-bit vectors in their place.

Two VCDs are generated with one seed: the same signals, timestamps and change pattern; a fifth
of the signals (so about a fifth of the changes) are vectors of 128 bits in one file and of 64
bits in the other, the rest scalars and 8-bit vectors. Both are converted to FST with vcd2fst.
Each load runs in a fresh process (the call alone is timed inside it); the two files alternate,
run by run, and the ratios are taken pair by pair. Prints medians.

  PYTHONPATH=python python3 bench/bench_wide_load.py [--signals N] [--timestamps T] [--runs R]
"""
import argparse
import pathlib
import random
import statistics
import subprocess
import sys

HERE = pathlib.Path(__file__).resolve().parent
DATA = HERE / ".data"

LOAD = r"""
import sys, time
import quor
path = sys.argv[1]
t0 = time.perf_counter()
trace = quor.PyTrace.from_fst(path) if path.endswith(".fst") else quor.PyTrace.from_vcd(path)
print(time.perf_counter() - t0)
"""


def identifier_code(n):
    chars = []
    while True:
        chars.append(chr(33 + n % 94))
        n //= 94
        if n == 0:
            return "".join(chars)
        n -= 1


def write_vcd(path, wide_bits, signals, timestamps, per_step, seed):
    rng = random.Random(seed)
    kinds = []  # per signal: (width, code)
    for s in range(signals):
        width = wide_bits if s % 5 == 0 else (8 if s % 5 == 1 else 1)
        kinds.append((width, identifier_code(s)))
    pools = []
    for width, code in kinds:
        if width == 1:
            pools.append([f"0{code}\n", f"1{code}\n"])
        else:
            pools.append([f"b{rng.getrandbits(width):0{width}b} {code}\n" for _ in range(16)])
    out = ["$timescale 1ns $end\n$scope module top $end\n"]
    out += [f"$var wire {w} {c} s{i} [{w - 1}:0] $end\n" for i, (w, c) in enumerate(kinds)]
    out.append("$upscope $end\n$enddefinitions $end\n#0\n$dumpvars\n")
    out += [pool[0] for pool in pools]
    out.append("$end\n")
    # The change pattern comes from its own generator, so both files change the same signals.
    pattern = random.Random(seed + 1)
    with open(path, "w") as f:
        f.write("".join(out))
        for t in range(1, timestamps):
            step = [f"#{t * 10}\n"]
            for s in pattern.sample(range(signals), per_step):
                pool = pools[s]
                step.append(pool[pattern.randrange(len(pool))])
            f.write("".join(step))


def ensure(stem, wide_bits, args):
    vcd = DATA / f"{stem}.vcd"
    fst = DATA / f"{stem}.fst"
    if not vcd.exists():
        write_vcd(vcd, wide_bits, args.signals, args.timestamps, args.per_step, seed=5)
    if not fst.exists():
        subprocess.run(["vcd2fst", str(vcd), str(fst)], check=True, stdout=subprocess.DEVNULL)
    return vcd, fst


def load_seconds(path):
    out = subprocess.run([sys.executable, "-c", LOAD, str(path)], check=True, capture_output=True, text=True)
    return float(out.stdout.strip())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--signals", type=int, default=1000)
    parser.add_argument("--timestamps", type=int, default=100_000)
    parser.add_argument("--per-step", type=int, default=20, help="changes per timestamp")
    parser.add_argument("--runs", type=int, default=7)
    args = parser.parse_args()
    DATA.mkdir(exist_ok=True)
    size = f"{args.signals}x{args.timestamps}x{args.per_step}"
    files = {bits: ensure(f"wide{bits}_{size}", bits, args) for bits in (64, 128)}
    for form, pick in (("VCD", 0), ("FST", 1)):
        narrow, wide = files[64][pick], files[128][pick]
        times = {64: [], 128: []}
        ratios = []
        for _ in range(args.runs):
            times[64].append(load_seconds(narrow))
            times[128].append(load_seconds(wide))
            ratios.append(times[128][-1] / times[64][-1])
        print(f"{form}: 64-bit {statistics.median(times[64]):.3f} s ({narrow.stat().st_size / 1e6:.0f} MB), "
              f"128-bit {statistics.median(times[128]):.3f} s ({wide.stat().st_size / 1e6:.0f} MB), "
              f"ratio 128/64 {statistics.median(ratios):.2f}x (median of {args.runs} pairs)")


if __name__ == "__main__":
    main()
