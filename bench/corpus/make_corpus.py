#!/usr/bin/env python3
"""Makes the benchmark corpus: realistic designs simulated by Icarus Verilog and Verilator into
VCD and FST files, as the simulators themselves write them.

Designs (Verilog in this directory):
  soc.v   clusters x cores x datapath lanes in generate loops; buses of 1 to 256 bits with
          128-bit data paths, arrays, nets reaching the lanes through ports (aliases)
  tree.v  a configuration space of domains, blocks, banks and fields: mostly scopes and names

Each case is simulated by each simulator it names into a VCD and an FST file
(OUT/CASE.SIM.vcd, OUT/CASE.SIM.fst). Icarus writes both from one compiled design
(vvp, and vvp -fst); Verilator needs one model per format (--trace, --trace-fst). A file is
made only when it is missing or its recipe changed (the design text, the parameters, the
simulator's version and command line are hashed into OUT/CASE.SIM.FMT.stamp), so a second run
of this script only checks. OUT/manifest.json records each file's size, declared variables,
build and simulation seconds.

  bench/corpus/make_corpus.py --list              # the cases and their parameters
  bench/corpus/make_corpus.py                     # every case (hours on two busy cores)
  bench/corpus/make_corpus.py soc_10k tree_100k   # some cases
  bench/corpus/make_corpus.py --sim icarus        # one simulator

Files are big (up to a few hundred MB each) and are never committed: the default OUT is
bench/.data/corpus, which git ignores.
"""
import argparse
import dataclasses
import hashlib
import json
import os
import pathlib
import resource
import shutil
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
DEFAULT_OUT = HERE.parent / ".data" / "corpus"
JOBS = 2  # two shared cores: never more compile jobs than that


@dataclasses.dataclass(frozen=True)
class Case:
    name: str
    design: str
    params: dict
    cycles: int
    sims: tuple = ("icarus", "verilator")
    note: str = ""


# Icarus declares about 18 variables per lane of soc.v and 6 per field of tree.v; Verilator
# about 27 and 7 (it also lists parameters and the words of arrays). A lane works one cycle in
# 64, which changes about 1 % of the variables per timestamp.
CASES = [
    Case("soc_10k", "soc.v", {"CLUSTERS": 2, "CORES": 8, "LANES": 32}, 10_000,
         note="about 10^4 signals, 20,000 timestamps"),
    Case("soc_100k", "soc.v", {"CLUSTERS": 8, "CORES": 24, "LANES": 28}, 2_000,
         note="about 10^5 signals, 4,000 timestamps"),
    Case("soc_1m", "soc.v", {"CLUSTERS": 32, "CORES": 32, "LANES": 52}, 200, sims=("icarus",),
         note="about 10^6 signals, 400 timestamps"),
    Case("tree_100k", "tree.v", {"DOMAINS": 8, "BLOCKS": 8, "BANKS": 16, "FIELDS": 16}, 10,
         note="hierarchy-heavy: about 10^5 signals in 10^5 scopes, a few samples"),
    Case("long_400", "soc.v", {"CLUSTERS": 1, "CORES": 2, "LANES": 10}, 500_000,
         note="few signals (about 400), a million timestamps"),
]

FORMATS = ("vcd", "fst")


def tool_version(cmd):
    try:
        out = subprocess.run(cmd, capture_output=True, text=True, check=False)
    except FileNotFoundError:
        raise SystemExit(f"{cmd[0]} is not installed")
    return (out.stdout or out.stderr).splitlines()[0].strip()


def run_timed(cmd, cwd, log, niceness):
    """Runs cmd in cwd with its output appended to log; gives its (wall, CPU) seconds."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    with open(log, "ab") as out:
        out.write(("$ " + " ".join(map(str, cmd)) + "\n").encode())
        out.flush()
        proc = subprocess.run(cmd, cwd=cwd, stdout=out, stderr=subprocess.STDOUT, check=False,
                              preexec_fn=lambda: os.nice(niceness))
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if proc.returncode != 0:
        raise SystemExit(f"failed ({proc.returncode}): {' '.join(map(str, cmd))}; see {log}")
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return round(wall, 2), round(cpu, 2)


def icarus_build(case, fmt):
    args = [f"-Ptb.{k}={v}" for k, v in case.params.items()] + [f"-Ptb.CYCLES={case.cycles}"]
    return (["iverilog", "-g2012", "-o", "sim.vvp", *args, str(HERE / case.design)],
            lambda fmt, dump: ["vvp", "-n", "sim.vvp", *(["-fst"] if fmt == "fst" else []),
                               f"+dump={dump}"])


def verilator_build(case, fmt):
    # Verilator writes C++ for every traced variable (about 1.3 KB each, even with modules kept
    # apart by -fno-inline), so a model of 10^5 signals is about 150 MB of C++: it is compiled
    # without optimisation (a short simulation gains nothing from it, -Os takes three times as
    # long). 10^6 signals would need about 1.5 GB of C++ and hours of compiling: not made.
    args = [f"-G{k}={v}" for k, v in case.params.items()] + [f"-GCYCLES={case.cycles}"]
    trace = "--trace-fst" if fmt == "fst" else "--trace"
    return (["verilator", "--binary", "--timing", trace, "-j", str(JOBS), "-Wno-fatal", "-Wno-lint",
             "-fno-inline", "-MAKEFLAGS", "OPT_FAST=-O0 OPT_SLOW=-O0 OPT_GLOBAL=-O0",
             "--top-module", "tb", "-Mdir", "obj_dir", "-o", "sim", *args, str(HERE / case.design)],
            lambda fmt, dump: ["obj_dir/sim", f"+dump={dump}"])


def recipe_hash(case, sim, fmt, build_cmd, sim_cmd, version):
    h = hashlib.sha256()
    h.update((HERE / case.design).read_bytes())
    h.update(json.dumps([case.params, case.cycles, sim, fmt, build_cmd, sim_cmd, version]).encode())
    return h.hexdigest()


def count_vars(vcd):
    """Declared variables of a VCD file (its header only)."""
    count = 0
    with open(vcd, "rb") as f:
        for line in f:
            if b"$var" in line:
                count += line.count(b"$var")
            if b"$enddefinitions" in line:
                break
    return count


class Corpus:
    def __init__(self, out, niceness):
        self.out = out
        self.niceness = niceness
        self.manifest_path = out / "manifest.json"
        self.versions = {}

    def version(self, sim):
        if sim not in self.versions:
            self.versions[sim] = tool_version(["iverilog", "-V"] if sim == "icarus" else ["verilator", "--version"])
        return self.versions[sim]

    def record(self, name, entry):
        """Writes one file's entry into the manifest, as it is on disk now (another run of this
        script may have added entries meanwhile)."""
        manifest = json.loads(self.manifest_path.read_text()) if self.manifest_path.exists() else {}
        manifest[name] = entry
        tmp = self.manifest_path.with_suffix(f".{os.getpid()}.tmp")
        tmp.write_text(json.dumps(manifest, indent=1, sort_keys=True))
        tmp.replace(self.manifest_path)

    def make(self, case, sim, fmt):
        """Makes OUT/CASE.SIM.FMT unless it is there from the same recipe."""
        target = self.out / f"{case.name}.{sim}.{fmt}"
        stamp = target.with_name(target.name + ".stamp")
        build_key = f"{case.name}.{sim}" + (f".{fmt}" if sim == "verilator" else "")
        build_dir = self.out / "build" / build_key
        log = self.out / "build" / f"{build_key}.log"
        build_cmd, sim_cmd = (icarus_build if sim == "icarus" else verilator_build)(case, fmt)
        dump = f"{target.name}.part"
        digest = recipe_hash(case, sim, fmt, build_cmd, sim_cmd(fmt, dump), self.version(sim))
        if target.exists() and stamp.exists() and stamp.read_text() == digest:
            print(f"  {target.name}: up to date ({target.stat().st_size / 1e6:.1f} MB)")
            return
        build_stamp = build_dir / "recipe"
        build_digest = hashlib.sha256(json.dumps([build_cmd, self.version(sim)]).encode()
                                      + (HERE / case.design).read_bytes()).hexdigest()
        build_times = build_dir / "times.json"
        if not (build_stamp.exists() and build_stamp.read_text() == build_digest and build_times.exists()):
            shutil.rmtree(build_dir, ignore_errors=True)
            build_dir.mkdir(parents=True)
            log.write_bytes(b"")
            print(f"  {build_key}: building ...", flush=True)
            wall, cpu = run_timed(build_cmd, build_dir, log, self.niceness)
            build_times.write_text(json.dumps({"build_s": wall, "build_cpu_s": cpu}))
            build_stamp.write_text(build_digest)
            print(f"  {build_key}: built in {wall:.1f} s ({cpu:.1f} s CPU)", flush=True)
        entry = json.loads(build_times.read_text())  # shared by the files of one build
        print(f"  {target.name}: simulating ...", flush=True)
        entry["sim_s"], entry["sim_cpu_s"] = run_timed(sim_cmd(fmt, dump), build_dir, log, self.niceness)
        (build_dir / dump).replace(target)
        stamp.write_text(digest)
        entry.update({"case": case.name, "simulator": sim, "format": fmt, "design": case.design,
                      "params": case.params, "cycles": case.cycles, "bytes": target.stat().st_size,
                      "simulator_version": self.version(sim)})
        if fmt == "vcd":
            entry["vars"] = count_vars(target)
        self.record(target.name, entry)
        print(f"  {target.name}: {target.stat().st_size / 1e6:.1f} MB in {entry['sim_s']:.1f} s "
              f"({entry['sim_cpu_s']:.1f} s CPU)", flush=True)



def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("cases", nargs="*", help="cases to make (default: all)")
    parser.add_argument("--out", default=str(DEFAULT_OUT), help=f"output directory (default {DEFAULT_OUT})")
    parser.add_argument("--sim", choices=("icarus", "verilator"), action="append",
                        help="only this simulator (repeatable)")
    parser.add_argument("--format", choices=FORMATS, action="append", help="only this format (repeatable)")
    parser.add_argument("--list", action="store_true", help="list the cases and exit")
    parser.add_argument("--nice", type=int, default=0, help="niceness of the builds and simulations (default 0)")
    args = parser.parse_args()
    known = {c.name: c for c in CASES}
    if args.list:
        for c in CASES:
            params = ", ".join(f"{k}={v}" for k, v in c.params.items())
            print(f"{c.name:10} {c.design:7} {params}, CYCLES={c.cycles}  [{', '.join(c.sims)}]  {c.note}")
        return
    unknown = [n for n in args.cases if n not in known]
    if unknown:
        raise SystemExit(f"unknown case(s): {', '.join(unknown)}; known: {', '.join(known)}")
    out = pathlib.Path(args.out)
    out.mkdir(parents=True, exist_ok=True)
    corpus = Corpus(out, args.nice)
    for case in (known[n] for n in args.cases) if args.cases else CASES:
        print(f"{case.name}:", flush=True)
        for sim in case.sims:
            if args.sim and sim not in args.sim:
                continue
            for fmt in FORMATS:
                if not args.format or fmt in args.format:
                    corpus.make(case, sim, fmt)


if __name__ == "__main__":
    main()
