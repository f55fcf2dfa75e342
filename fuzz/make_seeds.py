"""Writes seed inputs for the format fuzzers into fuzz/corpus/fuzz_<format>/, built with the same
byte layouts as the Python format tests."""

import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "python"))
sys.path.insert(0, os.path.join(HERE, "..", "python"))

from test_formats import fsdb_modern, nul_strings, shm_design, shm_trn, vpd_file, wlf_file  # noqa: E402


def fsdb_values():
    f = bytearray(fsdb_modern([f"top.s{i}" for i in range(12)]))
    section = bytes([0x38, 0x43, 0x00, 0x04, 0x00, 0x08, 0x02, 0x09, 0x01, 0x04, 0x08, 0x40, 0x00, 0x04, 0x31])
    section += bytes([0x44, 0x00, 0x63, 0x00, 0x03, 0x08, 0x0A, 0x01, 0x0B, 0x85, 0x01, 0x00, 0x00, 0x00])
    z = zlib.compress(section)
    off = len(f)
    f += z + bytes(8)
    widths = zlib.compress(bytes([1, 0, 0x43, 0, 0, 1, 0, 0x7D, 2, 0, 0, 0, 1, 0, 0x6A, 0x21]))
    f[272:276] = struct.pack("<I", len(f))
    f += struct.pack("<I", len(widths)) + widths + bytes(8)
    f[264:268] = struct.pack("<I", len(f))
    head = bytearray(24)
    head[22:24] = struct.pack("<H", 1)
    f += head + struct.pack("<III", off, 0, len(z)) + bytes(32)
    return bytes(f)


def seeds():
    first = bytearray(272)
    first[4:8] = bytes([0xFD, 0xE0, 0x99, 0xC1])
    yield "fsdb", bytes(first) + nul_strings(["top.a", "top.b"])
    yield "fsdb", fsdb_modern([f"top.n{i}" for i in range(12)])
    yield "fsdb", fsdb_values()
    yield "wlf", wlf_file(["top.a", "top.b", "bus data"], b"\x01\x05\xff\x01\x06\x02\x07\xff")
    yield "vpd", vpd_file(["a.x", "a.y", "b.z", "b.w"])
    dsn = shm_design(["clk", "rst", "data[3]"])
    for trn in (shm_trn(bytes([0x10, 0x08, 0x10])), shm_trn(bytes([0xA0, 0x60, 0x00, 0x00]))):
        yield "shm", struct.pack(">H", len(dsn)) + dsn + trn


def main():
    counts = {}
    for fmt, data in seeds():
        d = os.path.join(HERE, "corpus", "fuzz_" + fmt)
        os.makedirs(d, exist_ok=True)
        counts[fmt] = counts.get(fmt, 0) + 1
        with open(os.path.join(d, f"seed{counts[fmt]}"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
