#!/usr/bin/env python3
"""FST load benchmark: quor's from_fst against GTKWave's fst2vcd on the same file, and the
memory of the FST-loaded trace against the same trace loaded from VCD.

A synthetic VCD (bench/gen_vcd.py) is converted to FST with vcd2fst. Every run is a child
process of its own. The main figure is wall-clock time: for quor the load call itself, timed
inside the child (interpreter start-up and import excluded), for fst2vcd the whole process
writing to /dev/null. CPU time (user + system, all threads) and peak resident memory come from
wait4; quor's CPU time has that of a child that only imports quor taken off. quor and fst2vcd
runs alternate, so a busy machine slows both alike. Each figure is the median of --runs runs.

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
import time

HERE = pathlib.Path(__file__).resolve().parent
DATA = HERE / ".data"

LOAD = r"""
import sys, time, quor
loader = quor.PyTrace.from_fst if sys.argv[1].endswith(".fst") else quor.PyTrace.from_vcd
start = time.perf_counter()
trace = loader(sys.argv[1])
print(time.perf_counter() - start)
"""
IMPORT_ONLY = "import quor"


def measure(cmd, capture=False):
    """Runs cmd; gives (wall s, CPU s, peak RSS MB, stdout)."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE if capture else subprocess.DEVNULL)
    out = proc.stdout.read() if capture else b""
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    if capture:
        proc.stdout.close()
    if status != 0:
        raise SystemExit(f"failed: {' '.join(map(str, cmd))}")
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0, out


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
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    vcd, fst = ensure_files(args)
    py = sys.executable
    base = [measure([py, "-c", IMPORT_ONLY]) for _ in range(args.runs)]
    quor, peer = [], []
    for _ in range(args.runs):
        quor.append(measure([py, "-c", LOAD, str(fst)], capture=True))
        peer.append(measure(["fst2vcd", str(fst)]))
    base_cpu, base_rss = statistics.median(b[1] for b in base), statistics.median(b[2] for b in base)
    quor_wall = statistics.median(float(q[3]) for q in quor)
    quor_cpu = statistics.median(q[1] for q in quor) - base_cpu  # start-up and import are not loading
    quor_rss = statistics.median(q[2] for q in quor)
    peer_wall, peer_cpu = statistics.median(p[0] for p in peer), statistics.median(p[1] for p in peer)
    print(f"file: {fst} ({fst.stat().st_size / 1e6:.1f} MB), medians of {args.runs} runs")
    print(f"quor from_fst     : {quor_wall:7.3f} s wall  {quor_cpu:7.3f} s CPU  peak {quor_rss:7.1f} MB "
          f"(interpreter alone {base_rss:.1f} MB)")
    print(f"fst2vcd > null    : {peer_wall:7.3f} s wall  {peer_cpu:7.3f} s CPU")
    print(f"wall ratio fst2vcd/quor: {peer_wall / quor_wall:.2f}x (above 1 means quor is faster)")
    print(f"CPU ratio  fst2vcd/quor: {peer_cpu / quor_cpu:.2f}x")
    if vcd is not None:
        vcd_rss = statistics.median(measure([py, "-c", LOAD, str(vcd)], capture=True)[2] for _ in range(args.runs))
        print(f"quor from_vcd     : peak {vcd_rss:7.1f} MB")
        print(f"memory ratio FST/VCD load: {(quor_rss - base_rss) / (vcd_rss - base_rss):.2f}x (trace only)")


if __name__ == "__main__":
    main()
