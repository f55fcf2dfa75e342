#!/usr/bin/env python3
"""Load benchmark over the corpus: quor against fst2vcd (FST files) and vcdvcd (VCD files up
to --vcdvcd-max-mb) on every file bench/corpus/make_corpus.py made, with peak memory.

Every load runs in a fresh process; quor and its peer alternate (quor, peer, quor, peer, ...),
so a machine whose speed drifts slows both alike, and each ratio is taken run by run, then the
median. Figures per file, each the median of --runs runs:
  quor s      the load call alone, timed inside the child (start-up and import excluded)
  cpu s       user + system time of the child (all threads), less that of a child that only
              imports quor
  peak MB     the child's peak resident memory (ru_maxrss from wait4), whole process
  peer s      fst2vcd FILE > /dev/null as a whole process, or vcdvcd's VCDVCD(FILE) call alone
  x faster    peer s / quor s per pair of runs (above 1: quor is faster)
  cpu x       peer's CPU s / quor's CPU s
  mem         quor's peak / the peer's peak (fst2vcd streams: it never holds the trace)
  fst/vcd     for an FST file, quor's peak / quor's peak loading the VCD of the same case and
              simulator (when both are measured)
The machine's load average is printed before and after: with other work on the processors,
wall-clock times stretch and CPU times are the steadier figure.

  bench/bench_corpus.py                         # every corpus file, 3 runs each
  bench/bench_corpus.py --only soc_10k          # files whose name contains soc_10k
  bench/bench_corpus.py --file x.vcd --file y.fst
  bench/bench_corpus.py --markdown              # the table as Markdown, for bench/README.md

quor must be importable by the interpreter that runs this script (PYTHONPATH=python for a
developer build); vcdvcd is installed on first use into bench/.venv-peers (or --peer-python).
"""
import argparse
import json
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
CORPUS = HERE / ".data" / "corpus"
PEER_VENV = HERE / ".venv-peers"

QUOR_LOAD = r"""
import json, sys, time
import quor
loader = quor.PyTrace.from_fst if sys.argv[1].endswith(".fst") else quor.PyTrace.from_vcd
start = time.perf_counter()
trace = loader(sys.argv[1])
seconds = time.perf_counter() - start
print(json.dumps({"load_s": seconds, "signals": len(trace.signal_names()), "samples": trace.max_index() + 1}))
"""
QUOR_IMPORT = "import quor"
VCDVCD_LOAD = r"""
import json, sys, time
from vcdvcd import VCDVCD
start = time.perf_counter()
vcd = VCDVCD(sys.argv[1])
print(json.dumps({"load_s": time.perf_counter() - start}))
"""


def run(cmd, capture=True):
    """Runs cmd in a fresh process; gives (wall s, CPU s, peak RSS MB, parsed JSON output or None)."""
    with tempfile.TemporaryFile() as err:
        start = time.perf_counter()
        proc = subprocess.Popen([str(c) for c in cmd], stdout=subprocess.PIPE if capture else subprocess.DEVNULL,
                                stderr=err)
        out = proc.stdout.read() if capture else b""
        _, status, usage = os.wait4(proc.pid, 0)
        wall = time.perf_counter() - start
        if capture:
            proc.stdout.close()
        if os.waitstatus_to_exitcode(status) != 0:
            err.seek(0)
            raise RuntimeError(f"failed: {' '.join(map(str, cmd))}\n{err.read().decode(errors='replace')[-2000:]}")
    result = json.loads(out.decode().strip().splitlines()[-1]) if capture and out.strip() else None
    return wall, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0, result


def peer_python(explicit):
    if explicit:
        return pathlib.Path(explicit)
    python = PEER_VENV / "bin" / "python"
    if not python.exists():
        print(f"creating {PEER_VENV} with vcdvcd ...", file=sys.stderr)
        subprocess.run([sys.executable, "-m", "venv", str(PEER_VENV)], check=True)
        subprocess.run([str(python), "-m", "pip", "install", "-q", "vcdvcd"], check=True)
    return python


def corpus_files(args):
    if args.file:
        return [pathlib.Path(f) for f in args.file]
    manifest = CORPUS / "manifest.json"
    if not manifest.exists():
        raise SystemExit(f"no corpus in {CORPUS}: run bench/corpus/make_corpus.py first")
    names = sorted(json.loads(manifest.read_text()))
    files = [CORPUS / n for n in names if (CORPUS / n).exists()]
    return [f for f in files if not args.only or any(o in f.name for o in args.only)]


def measure(path, args, vcdvcd):
    size_mb = path.stat().st_size / 1e6
    py = sys.executable
    if path.suffix == ".fst":
        peer_cmd, peer_name, peer_inside = ["sh", "-c", 'exec fst2vcd "$0" > /dev/null', path], "fst2vcd", False
    elif vcdvcd is not None and size_mb <= args.vcdvcd_max_mb:
        peer_cmd, peer_name, peer_inside = [vcdvcd, "-c", VCDVCD_LOAD, path], "vcdvcd", True
    else:
        peer_cmd, peer_name, peer_inside = None, "", False
    base_cpu = statistics.median(run([py, "-c", QUOR_IMPORT], capture=False)[1] for _ in range(2))
    quor, peer, ratios = [], [], []
    for _ in range(args.runs):
        q = run([py, "-c", QUOR_LOAD, path])
        quor.append(q)
        if peer_cmd:
            p = run(peer_cmd, capture=peer_inside)
            peer.append(p)
            peer_s = p[3]["load_s"] if peer_inside else p[0]
            ratios.append(peer_s / q[3]["load_s"])
    row = {"file": path.name, "mb": size_mb, "signals": quor[0][3]["signals"], "samples": quor[0][3]["samples"],
           "quor_s": statistics.median(q[3]["load_s"] for q in quor),
           "quor_cpu_s": statistics.median(q[1] for q in quor) - base_cpu,
           "quor_peak_mb": statistics.median(q[2] for q in quor), "peer": peer_name}
    if peer:
        row.update({"peer_s": statistics.median(p[3]["load_s"] if peer_inside else p[0] for p in peer),
                    "peer_cpu_s": statistics.median(p[1] for p in peer),
                    "peer_peak_mb": statistics.median(p[2] for p in peer),
                    "x_faster": statistics.median(ratios)})
        row["mem_ratio"] = row["quor_peak_mb"] / row["peer_peak_mb"]
        row["cpu_x"] = row["peer_cpu_s"] / max(row["quor_cpu_s"], 1e-3)
    return row


def print_row(row, markdown):
    peer = (f"{row['peer']:>8} {row['peer_s']:8.2f} {row['peer_cpu_s']:8.2f} {row['peer_peak_mb']:8.0f} "
            f"{row['x_faster']:8.2f} {row['cpu_x']:8.2f} {row['mem_ratio']:8.2f}") if "peer_s" in row else \
        " ".join(f"{'-':>8}" for _ in range(7))
    vs_vcd = f"{row['fst_vs_vcd']:8.2f}" if "fst_vs_vcd" in row else f"{'-':>8}"
    line = (f"{row['file']:28} {row['mb']:8.1f} {row['signals']:8} {row['samples']:8} {row['quor_s']:8.2f} "
            f"{row['quor_cpu_s']:8.2f} {row['quor_peak_mb']:8.0f} {peer} {vs_vcd}")
    if markdown:
        line = "| " + " | ".join(line.split()) + " |"
    print(line, flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--file", action="append", help="benchmark this file (repeatable) instead of the corpus")
    parser.add_argument("--only", action="append", help="only corpus files whose name contains this (repeatable)")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--vcdvcd-max-mb", type=float, default=100.0,
                        help="compare with vcdvcd only up to this size (default 100 MB: it takes minutes beyond)")
    parser.add_argument("--no-vcdvcd", action="store_true")
    parser.add_argument("--peer-python", help="an interpreter with vcdvcd installed")
    parser.add_argument("--markdown", action="store_true")
    parser.add_argument("--json", help="also write the rows to this file")
    args = parser.parse_args()
    files = corpus_files(args)
    vcdvcd = None if args.no_vcdvcd or not any(f.suffix == ".vcd" for f in files) else peer_python(args.peer_python)
    load = os.getloadavg()
    print(f"{len(files)} files, medians of {args.runs} runs; load average {load[0]:.1f} {load[1]:.1f} {load[2]:.1f} "
          f"on {os.cpu_count()} processors")
    header = ["file", "MB", "signals", "samples", "quor_s", "cpu_s", "peak_MB", "peer", "peer_s", "peer_cpu",
              "peer_MB", "x_faster", "cpu_x", "mem", "fst/vcd"]
    if args.markdown:
        print("| " + " | ".join(header) + " |")
        print("|" + "---|" * len(header))
    else:
        print(f"{header[0]:28} " + " ".join(f"{h:>8}" for h in header[1:]))
    rows = {}
    # VCD files first, so each FST file's row can give its memory against the same trace from VCD.
    for path in sorted(files, key=lambda f: (f.suffix != ".vcd", f.name)):
        row = measure(path, args, vcdvcd)
        twin = rows.get(path.with_suffix(".vcd").name)
        if path.suffix == ".fst" and twin is not None:
            row["fst_vs_vcd"] = row["quor_peak_mb"] / twin["quor_peak_mb"]
        rows[path.name] = row
        print_row(row, args.markdown)
    load = os.getloadavg()
    print(f"load average afterwards {load[0]:.1f} {load[1]:.1f} {load[2]:.1f}")
    if args.json:
        pathlib.Path(args.json).write_text(json.dumps(list(rows.values()), indent=1))


if __name__ == "__main__":
    main()
