"""Generated VCD dumps of a chosen size (too big to commit), for the tests that need a load to
take memory or time; and the helpers that run such a load in a child interpreter."""
import os
import pathlib
import random
import shutil
import subprocess
import sys

import quor


def vcd_code(n):
    """The n-th identifier code, counted as simulators count them (first character fastest)."""
    code = ""
    while True:
        code += chr(33 + n % 94)
        n //= 94
        if n == 0:
            return code


def write_vcd(path, signals, steps, changes_per_step=8, seed=1):
    """A dump of `signals` signals in one scope (every third 16 bits wide, the rest 1 bit) with
    `changes_per_step` random changes at each of `steps` timestamps."""
    rnd = random.Random(seed)
    codes = [vcd_code(i) for i in range(signals)]
    with open(path, "w") as f:
        f.write("$timescale 1ns $end\n$scope module top $end\n")
        for i, c in enumerate(codes):
            f.write(f"$var wire {16 if i % 3 == 0 else 1} {c} s{i} $end\n")
        f.write("$upscope $end\n$enddefinitions $end\n")
        out = []
        for t in range(steps):
            out.append(f"#{t * 10}\n")
            for _ in range(changes_per_step):
                i = rnd.randrange(signals)
                if i % 3:
                    out.append(f"{rnd.randrange(2)}{codes[i]}\n")
                else:
                    out.append(f"b{rnd.getrandbits(16):b} {codes[i]}\n")
            if len(out) > 100_000:
                f.write("".join(out))
                out.clear()
        f.write("".join(out))
    return path


def to_fst(vcd_path):
    """The FST that vcd2fst writes from the dump, or None without vcd2fst."""
    if not shutil.which("vcd2fst"):
        return None
    fst = pathlib.Path(vcd_path).with_suffix(".fst")
    subprocess.run(["vcd2fst", str(vcd_path), str(fst)], check=True, capture_output=True)
    return fst


def run_child(code, *args, env=None, timeout=60):
    """Runs `code` in a fresh interpreter that imports this same quor package."""
    full_env = dict(os.environ)
    package_root = str(pathlib.Path(quor.__file__).resolve().parents[1])
    full_env["PYTHONPATH"] = os.pathsep.join([package_root, full_env.get("PYTHONPATH", "")])
    full_env.update(env or {})
    return subprocess.run([sys.executable, "-c", code, *map(str, args)], env=full_env, capture_output=True,
                          text=True, timeout=timeout)
