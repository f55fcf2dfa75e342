"""PyTrace.from_vcd on gzip-compressed VCD: the simulators' dumps, compressed here, must load
exactly like the plain files, from a file or a pipe; broken compressed data is an error that
says what is wrong."""

import gzip
import io
import os
import pathlib
import threading

import pytest

from quor import PyTrace

FIXTURES = pathlib.Path(__file__).resolve().parents[1] / "fixtures"
# What the simulators wrote (not the VCDs fst2vcd made from FST files).
DUMPS = sorted(str(p.relative_to(FIXTURES)) for p in FIXTURES.glob("*/*.vcd")
               if not p.name.endswith(".fst2vcd.vcd"))


def everything(trace):
    last = trace.max_index() + 1
    return (trace.signal_names(), trace.scopes(), [trace.timestamp(i) for i in range(last)],
            {n: (trace.signal_width(n), trace.signal_values_range(n, 0, last)) for n in trace.signal_names()})


def members(data, cuts):
    """data as several gzip members, split at the given fractions (inside lines, mostly)."""
    points = [0] + [int(len(data) * c) for c in cuts] + [len(data)]
    return b"".join(gzip.compress(data[a:b]) for a, b in zip(points, points[1:]))


def named(data):
    """One member whose header carries the original file name, as gzip(1) writes it."""
    buf = io.BytesIO()
    with gzip.GzipFile(filename="dump.vcd", mode="wb", fileobj=buf, mtime=0) as f:
        f.write(data)
    return buf.getvalue()


COMPRESSIONS = {
    "one member": gzip.compress,
    "fastest": lambda d: gzip.compress(d, compresslevel=1),
    "three members": lambda d: members(d, [0.3, 0.61]),
    "named, then zero padding": lambda d: named(d) + bytes(512),
}


@pytest.mark.parametrize("how", sorted(COMPRESSIONS))
@pytest.mark.parametrize("dump", DUMPS)
def test_gzip_loads_like_the_plain_file(tmp_path, dump, how):
    plain = FIXTURES / dump
    packed = tmp_path / "dump.vcd.gz"
    packed.write_bytes(COMPRESSIONS[how](plain.read_bytes()))
    # repr, so that a NaN read from both matches
    assert repr(everything(PyTrace.from_vcd(str(packed)))) == repr(everything(PyTrace.from_vcd(str(plain))))


def test_gzip_from_a_pipe(tmp_path):
    plain = FIXTURES / DUMPS[0]
    fifo = tmp_path / "dump.fifo"
    os.mkfifo(fifo)
    data = members(plain.read_bytes(), [0.5])
    writer = threading.Thread(target=lambda: fifo.write_bytes(data))
    writer.start()
    try:
        trace = PyTrace.from_vcd(str(fifo))
    finally:
        writer.join()
    assert everything(trace) == everything(PyTrace.from_vcd(str(plain)))


def cut(data):
    return data[:len(data) // 2], f"the gzip data ends early, at byte {len(data) // 2} of the file"


def followed_by_text(data):
    return data + b"#100\n", f"the gzip data is followed by bytes that are not gzip data, at byte {len(data)} of the file"


def wrong_length(data):
    broken = data[:-4] + bytes([data[-4] ^ 1]) + data[-3:]
    return broken, f"the gzip data is corrupt at byte {len(data)} of the file (incorrect length check)"


@pytest.mark.parametrize("damage", [cut, followed_by_text, wrong_length])
def test_broken_gzip_says_what_is_wrong(tmp_path, damage):
    packed = tmp_path / "dump.vcd.gz"
    broken, why = damage(gzip.compress((FIXTURES / DUMPS[0]).read_bytes()))
    packed.write_bytes(broken)
    with pytest.raises(ValueError) as err:
        PyTrace.from_vcd(str(packed))
    assert str(err.value) == f"Failed to read {packed}: {why}"
