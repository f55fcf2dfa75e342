"""Checks that every corpus FST file loads to the same trace as its VCD twin: the same signal
names, timestamps and, signal by signal, the same runs (starts and values).

  PYTHONPATH=python python bench/check_corpus_values.py               # every pair in the corpus
  PYTHONPATH=python python bench/check_corpus_values.py --only soc_10k

Names are compared without the bit range an FST writer keeps in them. One trace is held at a time: the first is reduced to a digest per signal before the second loads.
"""
import argparse
import hashlib
import json
import pathlib
import re
import sys

import quor

# FST writers keep a vector's range in its name ("cnt [7:0]"); VCD declares it apart.
RANGE = re.compile(r" \[[0-9:]+\]$")
CORPUS = pathlib.Path(__file__).resolve().parent / ".data" / "corpus"


def digests(path):
    """Signal name -> digest of its runs, plus the timestamps, of the trace at path."""
    loader = quor.PyTrace.from_fst if path.suffix == ".fst" else quor.PyTrace.from_vcd
    trace = loader(str(path))
    times = [trace.timestamp(i) for i in range(trace.max_index() + 1)]
    runs = {}
    for name in trace.signal_names():
        starts, values = trace.signal_runs(name)
        text = repr((list(starts), list(values))).encode()
        runs[RANGE.sub("", name)] = hashlib.blake2b(text, digest_size=16).digest()
    return runs, times


def compare(stem):
    vcd, fst = CORPUS / (stem + ".vcd"), CORPUS / (stem + ".fst")
    vcd_runs, vcd_times = digests(vcd)
    fst_runs, fst_times = digests(fst)
    problems = []
    if vcd_times != fst_times:
        problems.append(f"timestamps differ ({len(vcd_times)} in VCD, {len(fst_times)} in FST)")
    only_vcd = sorted(set(vcd_runs) - set(fst_runs))
    only_fst = sorted(set(fst_runs) - set(vcd_runs))
    if only_vcd or only_fst:
        problems.append(f"names only in VCD: {len(only_vcd)} {only_vcd[:3]}, only in FST: {len(only_fst)} {only_fst[:3]}")
    differing = [n for n in vcd_runs if n in fst_runs and vcd_runs[n] != fst_runs[n]]
    if differing:
        problems.append(f"{len(differing)} signals with other runs, e.g. {differing[:3]}")
    return len(vcd_runs), problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--only", action="append", help="only pairs whose name contains this (repeatable)")
    args = parser.parse_args()
    names = sorted(json.loads((CORPUS / "manifest.json").read_text()))
    stems = sorted(n[: -len(".fst")] for n in names if n.endswith(".fst"))
    stems = [s for s in stems if (CORPUS / (s + ".vcd")).exists() and (CORPUS / (s + ".fst")).exists()]
    stems = [s for s in stems if not args.only or any(o in s for o in args.only)]
    failed = 0
    for stem in stems:
        count, problems = compare(stem)
        print(f"{stem:24} {count:8} signals  {'same' if not problems else 'DIFFERENT'}", flush=True)
        for p in problems:
            print(f"    {p}")
        failed += bool(problems)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
