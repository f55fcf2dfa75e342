"""Crafted worst cases for the FSDB, WLF, SHM and VPD loaders: load time and peak memory.

Each case is written to a temporary directory and loaded in a fresh Python process, so the
peak resident size is that load's own. Run from the repository root after building:

    PYTHONPATH=python python bench/bench_formats_caps.py
"""

import os
import struct
import subprocess
import sys
import tempfile
import zlib

MIB = 1 << 20


def random_bytes(n, seed):
    # Deterministic and fast: os.urandom would do, but a fixed seed makes runs comparable.
    import random

    return random.Random(seed).randbytes(n)


def fsdb_header(layout=0x1C3ED948, size=1024):
    f = bytearray(size)
    f[4:8] = struct.pack(">I", layout)
    return f


def nul_strings(names):
    return b"\0" + b"".join(n.encode() + b"\0" for n in names)


def fsdb_section(area):
    return bytes([0x38, 0x43, 0x00, 0x04, 0x00, 0x08]) + area


def fsdb_with_blocks(sections, copies, names):
    if isinstance(sections, bytes):
        sections = [sections]
    f = fsdb_header()
    entries = []
    for section in sections:
        z = zlib.compress(section, 9)
        entries.append(struct.pack("<III", len(f), 0, len(z)))
        f += z + bytes(16)
    f += zlib.compress(nul_strings(names)) + bytes(16)
    table = len(f)
    f[264:268] = struct.pack("<I", table)
    head = bytearray(24)
    head[22:24] = struct.pack("<H", copies * len(entries))
    f += head
    for _ in range(copies):
        for e in entries:
            f += e
    return bytes(f + bytes(64))


NAMES = [f"top.s{i}" for i in range(12)]


def case_fsdb_random(tmp):
    return "from_fsdb", write(tmp, "r.fsdb", bytes(fsdb_header(size=8)) + random_bytes(64 * MIB, 1))


def case_fsdb_first_random(tmp):
    return "from_fsdb", write(tmp, "r1.fsdb", bytes(fsdb_header(0xFDE099C1, 8)) + random_bytes(64 * MIB, 2))


def case_fsdb_block_bomb(tmp):
    area = b"\x01\x01" * (2 * MIB)
    return "from_fsdb", write(tmp, "bomb.fsdb", fsdb_with_blocks(fsdb_section(area), 65535, NAMES))


def case_fsdb_clock(tmp):
    # 300,000 pairs reach time 1.9e8; the trailer asks for a clock of period 2 up to there.
    area = b"\x3f\x01" * 300000 + b"\x08\x40\x00\x01\x31"
    return "from_fsdb", write(tmp, "clock.fsdb", fsdb_with_blocks(fsdb_section(area), 1, NAMES))


def case_fsdb_many_changing(tmp):
    # Section 1: a clock of period 2 over 6.3e6 time units (3.15e6 timestamps). Section 2: one
    # base entry copied by 400,000 shift items onto as many signals. Every one of them changes,
    # so their run-start bit vectors would take 400,000 x 3.15e6 bits (157 GB).
    names = [f"s{i}" for i in range(400001)]
    clock = fsdb_section(b"\x3f\x01" * 10000 + b"\x08\x40\x00\x01\x31")
    shifts = fsdb_section(b"\x01\x01" + b"\x81\x01" * 400000)
    return "from_fsdb", write(tmp, "many.fsdb", fsdb_with_blocks([clock, shifts], 1, names))


def case_fsdb_width_bomb(tmp):
    f = fsdb_header()
    f += zlib.compress(nul_strings(NAMES)) + bytes(16)
    w = len(f)
    # Filler bytes that never finish the names' records, inflating 1000:1.
    z = zlib.compress(bytes(512 * MIB), 9)
    f[272:276] = struct.pack("<I", w)
    f += struct.pack("<I", len(z)) + z + bytes(64)
    return "from_fsdb", write(tmp, "width.fsdb", bytes(f))


def case_wlf_random(tmp):
    return "from_wlf", write(tmp, "r.wlf", random_bytes(64 * MIB, 3))


def case_wlf_values(tmp):
    # Every value page full of FF: one sample per byte.
    head = bytearray(8192)
    page = bytearray(b"\xff" * 8192)
    page[2:4] = struct.pack(">H", 8176)
    return "from_wlf", write(tmp, "ff.wlf", bytes(head) + bytes(page) * 8191)


def shm_dir(tmp, name, dsn, trn):
    d = os.path.join(tmp, name)
    os.mkdir(d)
    write(d, "db.dsn", dsn)
    write(d, "db.trn", trn)
    return d


def shm_design(names):
    f = bytearray(128)
    f[0:4] = struct.pack(">I", 0xA19511BF)
    for i in range(0, len(names), 50):
        p = len(f)
        rec = bytearray(12) + nul_strings(names[i : i + 50])
        while len(rec) % 4:
            rec.append(0)
        rec[0:4] = struct.pack(">I", 0x090700)
        rec[4:8] = struct.pack(">I", p + len(rec))
        f += rec
    return bytes(f + bytes(16))


def case_shm_random(tmp):
    magic = struct.pack(">I", 0xA19511BF)
    return "from_shm", shm_dir(tmp, "shm_r", magic + random_bytes(32 * MIB, 4), magic + random_bytes(32 * MIB, 5))


def case_shm_huge_k(tmp):
    t = bytearray(64)
    t[0:4] = struct.pack(">I", 0xA19511BF)
    h = bytearray(64)
    h[0:4] = bytes([0x00, 0x1B, 0x22, 0x00])
    h[28:32] = struct.pack(">I", 0xFFFFFFFF)
    h[40:44] = struct.pack(">I", 0xFFFFFFFF)
    h[52:56] = struct.pack(">I", 128)
    h[56:60] = struct.pack(">I", 128 + 16)
    h[48:52] = struct.pack(">I", 128 + 16)
    trn = bytes(t + h) + bytes([0x10, 0x08] * 8) + bytes(48)
    return "from_shm", shm_dir(tmp, "shm_k", shm_design([f"s{i}" for i in range(16)]), trn)


def case_vpd_random(tmp):
    head = bytearray(struct.pack("<I", 0x12345678)) + random_bytes(64 * MIB, 6)
    for i in range(20):  # twenty sections spread over the file
        head[48 + 4 * i : 52 + 4 * i] = struct.pack("<I", 200 + i * 3 * MIB)
    return "from_vpd", write(tmp, "r.vpd", bytes(head))


def write(d, name, data):
    p = os.path.join(d, name)
    with open(p, "wb") as f:
        f.write(data)
    return p


CHILD = r"""
import sys, time
from quor import PyTrace
t0 = time.perf_counter()
try:
    tr = getattr(PyTrace, sys.argv[1])(sys.argv[2])
    what = f"{len(tr.signal_names())} names, {tr.max_index() + 1} timestamps"
except ValueError as e:
    what = f"ValueError: {e}"
dt = time.perf_counter() - t0
# VmHWM is this process's own peak (ru_maxrss would carry the parent's peak across exec).
rss = next(int(l.split()[1]) for l in open("/proc/self/status") if l.startswith("VmHWM")) / 1024
print(f"{dt:8.2f} s {rss:8.0f} MiB  {what}")
"""


def main():
    cases = [v for k, v in sorted(globals().items()) if k.startswith("case_")]
    only = sys.argv[1:]
    with tempfile.TemporaryDirectory() as tmp:
        for case in cases:
            name = case.__name__[5:]
            if only and name not in only:
                continue
            method, path = case(tmp)
            size = sum(os.path.getsize(os.path.join(dp, f)) for dp, _, fs in os.walk(path) for f in fs) if os.path.isdir(path) else os.path.getsize(path)
            out = subprocess.run([sys.executable, "-c", CHILD, method, path], capture_output=True, text=True)
            print(f"{name:20s} {size / MIB:8.1f} MiB file {out.stdout.strip() or out.stderr.strip()[-200:]}", flush=True)


if __name__ == "__main__":
    main()
