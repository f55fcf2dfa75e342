#!/usr/bin/env python3
"""Name lookups at scale: the cost of one PyTrace.signal_value(name, index) call from Python
when the names are many.

Loads one trace (a corpus file, a VCD or FST given with --file, or by default a generated VCD of
100,000 signals) and times loops of calls, each a median of --runs repetitions:

  random names   names drawn at random from signal_names(), random indices: the same str objects
                 come back again and again, as the items of a list a script keeps
  fresh names    the same texts, but every call passes a str object of its own (built ahead of
                 the loop, as f"{prefix}.{leaf}" in a loop would build them)
  one name       one name, random indices: the cost of the value alone
  unknown names  texts that name no signal (answer None)
  signal_id      random names, the id only

Every figure is printed in ns per call, with the empty loop's time (the loop over the same pairs,
no call) taken off. Times are the thread's CPU time, not wall-clock time: on a machine shared
with other work the wall clock also counts the time the thread waited for a processor. The loops run inside a function, as in a script, so global-name lookups
are not timed. quor must be importable (PYTHONPATH=python for a developer build).

  bench/bench_lookup.py                                   # 100,000 generated signals
  bench/bench_lookup.py --file bench/.data/corpus/soc_100k.icarus.vcd
"""
import argparse
import pathlib
import random
import statistics
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
DATA = HERE / ".data"


def ensure_file(args):
    if args.file:
        return pathlib.Path(args.file)
    DATA.mkdir(exist_ok=True)
    path = DATA / f"synth_{args.signals}x{args.timestamps}x0.01.vcd"
    if not path.exists():
        subprocess.run([sys.executable, str(HERE / "gen_vcd.py"), str(path), "--signals", str(args.signals),
                        "--timestamps", str(args.timestamps), "--activity", "0.01"], check=True)
    return path


def timed(loop, pairs, runs):
    """Median seconds of loop(pairs) over runs repetitions."""
    times = []
    for _ in range(runs):
        start = time.thread_time()
        loop(pairs)
        times.append(time.thread_time() - start)
    return statistics.median(times)


def empty_loop(pairs):
    for name, index in pairs:
        pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--file", help="a VCD or FST file (default: a generated VCD)")
    parser.add_argument("--signals", type=int, default=100_000)
    parser.add_argument("--timestamps", type=int, default=2_000)
    parser.add_argument("--calls", type=int, default=1_000_000)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--seed", type=int, default=7)
    args = parser.parse_args()
    import quor

    path = ensure_file(args)
    loader = quor.PyTrace.from_fst if path.suffix == ".fst" else quor.PyTrace.from_vcd
    start = time.perf_counter()
    trace = loader(str(path))
    load_s = time.perf_counter() - start
    names = trace.signal_names()
    last = trace.max_index()
    rng = random.Random(args.seed)
    calls = args.calls
    pairs = [(rng.choice(names), rng.randint(0, last)) for _ in range(calls)]
    fresh = [("".join(list(name)), index) for name, index in pairs]
    one = names[len(names) // 2]
    one_pairs = [(one, index) for _, index in pairs]
    unknown = [(name + "#", index) for name, index in pairs[: calls // 10]]
    read = trace.signal_value
    signal_id = trace.signal_id

    def read_loop(pairs):
        for name, index in pairs:
            read(name, index)

    def id_loop(pairs):
        for name, index in pairs:
            signal_id(name)

    print(f"file: {path} ({path.stat().st_size / 1e6:.1f} MB, loaded in {load_s:.2f} s), "
          f"{len(names)} signals, {last + 1} timestamps; {calls} calls, medians of {args.runs} runs")
    read_loop(pairs)  # the first pass fills the caches; the timed ones see the steady state
    base = timed(empty_loop, pairs, args.runs)
    cases = [("random names", read_loop, pairs), ("fresh names", read_loop, fresh),
             ("one name", read_loop, one_pairs), ("unknown names", read_loop, unknown),
             ("signal_id", id_loop, pairs)]
    for label, loop, case_pairs in cases:
        seconds = timed(loop, case_pairs, args.runs)
        share = len(case_pairs) / calls
        net = (seconds - base * share) / len(case_pairs)
        print(f"{label:14} {1e9 * seconds / len(case_pairs):7.0f} ns/call  {1e9 * net:7.0f} ns net of the loop")


if __name__ == "__main__":
    main()
