#!/usr/bin/env python3
"""VCD load benchmark: quor versus the PyPI package vcdvcd on the same file.

Each loader runs in a child process of its own, so its peak resident memory
(ru_maxrss of that child, from wait4) is measured separately; quor's comes from
children that only load. Prints load time,
MB/s of VCD text, peak RSS, the ratios, and the cost of one
`PyTrace.signal_value(name, i)` call from Python. Load times are medians over --runs fresh
processes each (default 3).

  bench/bench_vcd_load.py                 # default size, quor and vcdvcd
  bench/bench_vcd_load.py --big           # 2,000 x 500,000 x 2 %, quor only
  bench/bench_vcd_load.py --many          # 100,000 x 2,000 x 1 %: a design of many signals
  bench/bench_vcd_load.py --file x.vcd    # an existing file

quor is loaded with the interpreter running this script (quor must be
installed there). vcdvcd runs in a separate virtual environment, created on
first use under bench/.venv-peers (override with --peer-python).
"""
import argparse
import json
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile

HERE = pathlib.Path(__file__).resolve().parent
DATA = HERE / ".data"
PEER_VENV = HERE / ".venv-peers"

QUOR_CHILD = r"""
import json, random, sys, time

# The timed loops run inside a function, as in a user's script: module-level loops would also
# time the interpreter's dictionary lookups of global names.
def main():
    t0 = time.perf_counter()
    import quor
    t1 = time.perf_counter()
    trace = quor.PyTrace.from_vcd(sys.argv[1])
    t2 = time.perf_counter()
    names = trace.signal_names()
    last = trace.max_index()
    rng = random.Random(7)
    calls = int(sys.argv[2])
    if calls == 0:
        return {"import_s": t1 - t0, "load_s": t2 - t1}
    pairs = [(rng.choice(names), rng.randint(0, last)) for _ in range(min(calls, 100_000))]
    pairs = (pairs * (calls // len(pairs) + 1))[:calls]
    read = trace.signal_value
    start = time.perf_counter()
    for name, index in pairs:
        read(name, index)
    per_call = time.perf_counter() - start
    start = time.perf_counter()
    for name, index in pairs:
        pass
    loop_only = time.perf_counter() - start
    # One name, ascending indices: the access pattern of a script walking a signal.
    name = names[len(names) // 2]
    indices = [i % (last + 1) for i in range(calls)]
    start = time.perf_counter()
    for index in indices:
        read(name, index)
    sequential = time.perf_counter() - start
    # One name, random indices.
    indices = [rng.randint(0, last) for _ in range(min(calls, 100_000))]
    indices = (indices * (calls // len(indices) + 1))[:calls]
    start = time.perf_counter()
    for index in indices:
        read(name, index)
    one_name_random = time.perf_counter() - start
    return {"import_s": t1 - t0, "load_s": t2 - t1, "signals": len(names),
            "timestamps": last + 1, "calls": calls,
            "ns_per_call": 1e9 * per_call / calls,
            "ns_per_call_net": 1e9 * (per_call - loop_only) / calls,
            "ns_per_call_sequential": 1e9 * sequential / calls,
            "ns_per_call_one_name_random": 1e9 * one_name_random / calls}

print(json.dumps(main()))
"""

VCDVCD_CHILD = r"""
import json, sys, time
t0 = time.perf_counter()
from vcdvcd import VCDVCD
t1 = time.perf_counter()
vcd = VCDVCD(sys.argv[1])
t2 = time.perf_counter()
changes = sum(len(vcd[name].tv) for name in vcd.signals)
print(json.dumps({"import_s": t1 - t0, "load_s": t2 - t1,
                  "signals": len(vcd.signals), "changes": changes}))
"""

BASELINE_CHILD = "import sys; print('{}')"


def run_measured(python, code, *args):
    """Runs code in a fresh interpreter; returns (its JSON output, its peak RSS in MiB)."""
    with tempfile.TemporaryFile() as err_file:
        proc = subprocess.Popen([str(python), "-c", code, *map(str, args)],
                                stdout=subprocess.PIPE, stderr=err_file)
        # Read the output to the end, then reap the child with wait4 to get the
        # rusage of exactly this child (Popen.wait would discard it).
        out = proc.stdout.read()
        proc.stdout.close()
        _, status, usage = os.wait4(proc.pid, 0)
        err_file.seek(0)
        err = err_file.read()
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0:
        raise RuntimeError(f"{python} failed ({proc.returncode}):\n{err.decode(errors='replace')}")
    return json.loads(out.decode().strip().splitlines()[-1]), usage.ru_maxrss / 1024.0


def peer_python(explicit):
    if explicit:
        return pathlib.Path(explicit)
    python = PEER_VENV / "bin" / "python"
    if not python.exists():
        print(f"creating {PEER_VENV} with vcdvcd ...", file=sys.stderr)
        subprocess.run([sys.executable, "-m", "venv", str(PEER_VENV)], check=True)
        subprocess.run([str(python), "-m", "pip", "install", "-q", "vcdvcd"], check=True)
    return python


def ensure_file(args):
    if args.file:
        return pathlib.Path(args.file)
    DATA.mkdir(exist_ok=True)
    path = DATA / f"synth_{args.signals}x{args.timestamps}x{args.activity:g}.vcd"
    if not path.exists():
        subprocess.run([sys.executable, str(HERE / "gen_vcd.py"), str(path),
                        "--signals", str(args.signals), "--timestamps", str(args.timestamps),
                        "--activity", str(args.activity)], check=True)
    return path


def main():
    parser = argparse.ArgumentParser(description="VCD load benchmark: quor vs vcdvcd")
    parser.add_argument("--file", help="benchmark this VCD instead of a generated one")
    parser.add_argument("--signals", type=int, default=1000)
    parser.add_argument("--timestamps", type=int, default=100_000)
    parser.add_argument("--activity", type=float, default=0.02)
    parser.add_argument("--big", action="store_true",
                        help="2,000 signals x 500,000 timestamps x 2 %% activity, quor only")
    parser.add_argument("--many", action="store_true",
                        help="100,000 signals x 2,000 timestamps x 1 %% activity (codes of three characters)")
    parser.add_argument("--no-peer", action="store_true", help="skip vcdvcd")
    parser.add_argument("--peer-python", help="interpreter that has vcdvcd installed")
    parser.add_argument("--calls", type=int, default=1_000_000,
                        help="signal_value calls for the per-call cost")
    parser.add_argument("--runs", type=int, default=3,
                        help="load each file this many times, each in a fresh process; medians are printed")
    args = parser.parse_args()
    if args.big:
        args.signals, args.timestamps, args.activity = 2000, 500_000, 0.02
        args.no_peer = True
    if args.many:
        args.signals, args.timestamps, args.activity = 100_000, 2000, 0.01

    path = ensure_file(args)
    size_mb = path.stat().st_size / 1e6
    print(f"file: {path} ({size_mb:.1f} MB)")

    _, base_rss = run_measured(sys.executable, BASELINE_CHILD)
    # The peak memory of loading comes from children that only load: the signal_value loops
    # below build lists of a million names and indices, which are not the loader's.
    quor, _ = run_measured(sys.executable, QUOR_CHILD, path, args.calls)
    load_runs = [run_measured(sys.executable, QUOR_CHILD, path, 0) for _ in range(args.runs)]
    loads = [result["load_s"] for result, _ in load_runs]
    quor_rss = statistics.median(rss for _, rss in load_runs)
    quor["load_s"] = statistics.median(loads)
    print(f"quor:   load {quor['load_s']:.3f} s (median of {len(loads)})  {size_mb / quor['load_s']:.1f} MB/s  "
          f"peak RSS {quor_rss:.1f} MiB (bare interpreter {base_rss:.1f} MiB)  "
          f"{quor['signals']} signals, {quor['timestamps']} timestamps")
    print(f"quor:   signal_value, random names and indices: {quor['ns_per_call']:.0f} ns/call "
          f"({quor['ns_per_call_net']:.0f} ns without the Python loop); one name, ascending "
          f"indices: {quor['ns_per_call_sequential']:.0f} ns/call; one name, random indices: "
          f"{quor['ns_per_call_one_name_random']:.0f} ns/call; {quor['calls']} calls each")

    if args.no_peer:
        return
    python = peer_python(args.peer_python)
    peer, peer_rss = run_measured(python, VCDVCD_CHILD, path)
    peer_loads = [peer["load_s"]] + [run_measured(python, VCDVCD_CHILD, path)[0]["load_s"]
                                     for _ in range(args.runs - 1)]
    peer["load_s"] = statistics.median(peer_loads)
    print(f"vcdvcd: load {peer['load_s']:.3f} s (median of {len(peer_loads)})  {size_mb / peer['load_s']:.1f} MB/s  "
          f"peak RSS {peer_rss:.1f} MiB  {peer['signals']} signals, {peer['changes']} changes")
    print(f"ratio quor/vcdvcd: time {quor['load_s'] / peer['load_s']:.4f} "
          f"(quor {peer['load_s'] / quor['load_s']:.1f}x faster), "
          f"peak RSS {quor_rss / peer_rss:.3f}")


if __name__ == "__main__":
    main()
