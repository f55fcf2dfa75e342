#!/usr/bin/env python3
"""FST load benchmark: quor's from_fst against GTKWave's fst2vcd on the same file, and the
memory of the FST-loaded trace against the same trace loaded from VCD.

A synthetic VCD (bench/gen_vcd.py) is converted to FST with vcd2fst. Every run is a child
process of its own, measured with wait4: CPU time (user + system) and peak resident memory.
Each figure is the median of --runs runs; the ratios are printed at the end.

  bench/bench_fst_load.py                       # 2,000 x 100,000 x 2 %
  bench/bench_fst_load.py --timestamps 500000   # bigger
  bench/bench_fst_load.py --file x.fst          # an existing FST (no VCD comparison)

quor must be importable by the interpreter that runs this script (PYTHONPATH=python for a
developer build). The FST reader library pylibfst is not used as a peer: the project does not
run other FST reader implementations; fst2vcd, a format converter, is the peer.
"""
import argparse
import os
import pathlib
import statistics
import subprocess
import sys

HERE = pathlib.Path(__file__).resolve().parent
DATA = HERE / ".data"

LOAD = r"""
import sys, quor
loader = quor.PyTrace.from_fst if sys.argv[1].endswith(".fst") else quor.PyTrace.from_vcd
trace = loader(sys.argv[1])
"""
IMPORT_ONLY = "import quor"


def measure(cmd, stdout=subprocess.DEVNULL):
    proc = subprocess.Popen(cmd, stdout=stdout)
    _, status, usage = os.wait4(proc.pid, 0)
    if status != 0:
        raise SystemExit(f"failed: {' '.join(map(str, cmd))}")
    return usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0


def median_of(runs, cmd):
    samples = [measure(cmd) for _ in range(runs)]
    return statistics.median(s[0] for s in samples), statistics.median(s[1] for s in samples)


def ensure_files(args):
    if args.file:
        return None, pathlib.Path(args.file)
    DATA.mkdir(exist_ok=True)
    stem = f"bench_{args.signals}x{args.timestamps}x{args.activity}"
    vcd = DATA / f"{stem}.vcd"
    fst = DATA / f"{stem}.fst"
    if not vcd.exists():
        subprocess.run([sys.executable, str(HERE / "gen_vcd.py"), str(vcd), "--signals", str(args.signals),
                        "--timestamps", str(args.timestamps), "--activity", str(args.activity)], check=True)
    if not fst.exists():
        subprocess.run(["vcd2fst", str(vcd), str(fst)], check=True, stdout=subprocess.DEVNULL)
    return vcd, fst


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--signals", type=int, default=2000)
    parser.add_argument("--timestamps", type=int, default=100000)
    parser.add_argument("--activity", type=float, default=0.02)
    parser.add_argument("--file")
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    vcd, fst = ensure_files(args)
    py = sys.executable
    base_cpu, base_rss = median_of(args.runs, [py, "-c", IMPORT_ONLY])
    quor_cpu, quor_rss = median_of(args.runs, [py, "-c", LOAD, str(fst)])
    peer_cpu, _ = median_of(args.runs, ["fst2vcd", str(fst)])
    quor_cpu -= base_cpu  # the interpreter's start-up and import are not loading
    print(f"file: {fst} ({fst.stat().st_size / 1e6:.1f} MB)")
    print(f"quor from_fst     : {quor_cpu:7.3f} s CPU  peak {quor_rss:7.1f} MB (interpreter alone {base_rss:.1f} MB)")
    print(f"fst2vcd > null    : {peer_cpu:7.3f} s CPU")
    print(f"speed ratio fst2vcd/quor: {peer_cpu / quor_cpu:.2f}x (above 1 means quor is faster)")
    if vcd is not None:
        _, vcd_rss = median_of(args.runs, [py, "-c", LOAD, str(vcd)])
        print(f"quor from_vcd     : peak {vcd_rss:7.1f} MB")
        print(f"memory ratio FST/VCD load: {(quor_rss - base_rss) / (vcd_rss - base_rss):.2f}x (trace only)")


if __name__ == "__main__":
    main()
