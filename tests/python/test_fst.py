"""PyTrace.from_fst: loading FST files from independent writers, value
conversion, and the error messages for files that cannot be read."""

import gzip
import io
import os
import random
import struct
import zlib

import pytest

from quor import PyTrace

DATA = os.path.join(os.path.dirname(__file__), "..", "cpp", "fst_data")


def data(name):
    return os.path.join(DATA, name)


def values(trace, name):
    return trace.signal_values_range(name, 0, trace.max_index() + 1)


def vcd_name(fst_name):
    """The FST writers keep a declared bit range in the name ("count [15:0]");
    the VCD reader drops it."""
    return fst_name.split(" [")[0]


@pytest.mark.parametrize("packing", ["lz4", "fastlz", "zlib", "gzip"])
def test_small_file_every_packing(packing):
    t = PyTrace.from_fst(data(f"small_{packing}.fst"))
    assert t.signal_names() == ["top.clk", "top.data [3:0]", "top.r", "top.sub.clk_alias", "top.sub.bus [7:0]"]
    assert t.scopes() == ["top", "top.sub"]
    assert [t.timestamp(i) for i in range(t.max_index() + 1)] == [0, 5, 10, 15, 20]
    assert values(t, "top.clk") == [0, 1, 0, None, None]  # z at 15, x at 20
    assert values(t, "top.data [3:0]") == [0, 10, None, None, 15]
    assert values(t, "top.r") == [1.5, 1.5, -2.25, -2.25, -2.25]
    assert values(t, "top.sub.bus [7:0]") == [None, None, 170, 170, 0]
    assert t.signal_width("top.sub.bus [7:0]") == 8
    assert t.signal_width("no.such.signal") == 1


def test_alias_shares_id_and_values():
    t = PyTrace.from_fst(data("small_lz4.fst"))
    assert t.signal_id("top.clk") == t.signal_id("top.sub.clk_alias") == 0
    assert values(t, "top.clk") == values(t, "top.sub.clk_alias")
    # ids are dense in order of first declaration
    assert [t.signal_id(n) for n in t.signal_names()] == [0, 1, 2, 0, 3]


@pytest.mark.parametrize("packing", ["lz4", "fastlz", "zlib"])
def test_packed_signal_data_matches_vcd(packing):
    fst = PyTrace.from_fst(data(f"packing_{packing}.fst"))
    vcd = PyTrace.from_vcd(data("packing.expected.vcd"))
    assert [vcd_name(n) for n in fst.signal_names()] == vcd.signal_names()
    assert fst.max_index() == vcd.max_index() == 1199
    for name in fst.signal_names():
        assert values(fst, name) == values(vcd, vcd_name(name)), name


def test_multi_block_file_keeps_repeated_boundary_times():
    t = PyTrace.from_fst(data("multi_block.fst"))
    times = [t.timestamp(i) for i in range(t.max_index() + 1)]
    assert times.count(48) == 2 and times == sorted(times)
    vcd = PyTrace.from_vcd(data("multi_block.expected.vcd"))
    # Values agree time by time; at a repeated time the later index holds.
    for name in t.signal_names():
        by_time = {}
        for i in range(t.max_index() + 1):
            by_time[t.timestamp(i)] = t.signal_value(name, i)
        for i in range(vcd.max_index() + 1):
            expected = vcd.signal_value(vcd_name(name), i)
            if isinstance(expected, float):  # fst2vcd prints 16 significant digits
                expected = pytest.approx(expected, rel=1e-15)
            assert by_time[vcd.timestamp(i)] == expected, (name, i)


def test_variable_length_signals_are_text():
    t = PyTrace.from_fst(data("ghdl_enum.fst"))
    # Enumeration literals stay text, even those made of bit characters.
    assert values(t, "st") == ["idle", "load", "run", "idle"]
    assert values(t, "c") == ["'a'", "'z'", "'z'", "'z'"]
    assert values(t, "sl") == [None, 1, None, None]  # u, 1, z, l
    assert values(t, "v[7:0]")[1] == 165


def test_verilator_file_reads_enum_tables_and_wide_vectors():
    t = PyTrace.from_fst(data("verilator.fst"))
    vcd = PyTrace.from_vcd(data("verilator.expected.vcd"))
    assert [vcd_name(n) for n in t.signal_names()] == vcd.signal_names()
    for name in t.signal_names():
        assert values(t, name) == values(vcd, vcd_name(name)), name


@pytest.mark.parametrize("packing", ["lz4", "fastlz", "zlib"])
def test_real_given_bits_reads_as_fst2vcd_does(packing):
    # vcd2fst stores a b value of a real variable in the packed form of a real change;
    # fst2vcd reads its eight characters as the bytes of the double.
    fst = PyTrace.from_fst(data(f"real_bits_{packing}.fst"))
    vcd = PyTrace.from_vcd(data("real_bits.expected.vcd"))
    assert [vcd_name(n) for n in fst.signal_names()] == vcd.signal_names() == ["top.r64", "top.r1", "top.clk", "top.v"]
    assert fst.max_index() == vcd.max_index() == 6
    for name in fst.signal_names():
        # fst2vcd prints reals with 16 digits: compare them to the last bit or so.
        got, want = values(fst, name), values(vcd, vcd_name(name))
        assert len(got) == len(want)
        for g, w in zip(got, want):
            assert g == (pytest.approx(w, rel=1e-15) if isinstance(w, float) else w), name
    assert values(fst, "top.r1")[1] == struct.unpack("<d", b"01010101")[0]


def test_type_error_names_the_parameter():
    with pytest.raises(TypeError, match="path"):
        PyTrace.from_fst(42)


def test_missing_file_and_directory(tmp_path):
    missing = str(tmp_path / "nope.fst")
    with pytest.raises(ValueError, match=r"^Failed to open .*nope\.fst: No such file or directory"):
        PyTrace.from_fst(missing)
    # A directory opens; reading it is what fails.
    with pytest.raises(ValueError) as err:
        PyTrace.from_fst(str(tmp_path))
    assert str(err.value) == "FST open: I/O operation failed: Is a directory (os error 21)"


def blocks(raw):
    """(position, type, section length) of each block of an FST file."""
    found, pos = [], 0
    while pos < len(raw):
        length = struct.unpack(">Q", raw[pos + 1:pos + 9])[0]
        found.append((pos, raw[pos], length))
        pos += 1 + length
    return found


def block_of(raw, types, nth=0):
    return [b for b in blocks(raw) if b[1] in types][nth]


VALUE_CHANGE, GEOMETRY, HIERARCHY = (1, 5, 8), (3,), (4, 6, 7)


def cut_inside(types, into):
    def mutate(raw):
        pos, _, length = block_of(raw, types)
        end = pos + into
        place = {VALUE_CHANGE: "value-change", GEOMETRY: "geometry", HIERARCHY: "hierarchy"}[types]
        return raw[:end], f"the block claims {length} bytes, but the file ends at byte {end}, in the {place} block at byte {pos}"
    return mutate


def set_length(types, length):
    def mutate(raw):
        pos, _, _ = block_of(raw, types)
        out = raw[:pos + 1] + struct.pack(">Q", length) + raw[pos + 9:]
        return out, f"the block claims {length} bytes, but the file ends at byte {len(raw)}"
    return mutate


def set_type(types, value):
    def mutate(raw):
        pos, _, _ = block_of(raw, types)
        return raw[:pos] + bytes([value]) + raw[pos + 1:], f"{value}, at byte {pos}"
    return mutate


def time_table_length(raw):
    """Claims a compressed time table longer than the first value-change block."""
    pos, _, length = block_of(raw, VALUE_CHANGE)
    at = pos + 1 + length - 16  # the compressed length in the block's 24-byte trailer
    out = raw[:at] + struct.pack(">Q", 1 << 40) + raw[at + 8:]
    return out, f"the time table claims {1 << 40} bytes, more than its block holds, in the time table, " \
                f"in the value-change block at byte {pos}"


# Each case: a fixture, how to break it, and the message: its start, then what the mutation says
# was wrong (and where), then the rest.
BROKEN = [
    ("small_lz4.fst", lambda raw: (b"", ""), "FST open: I/O operation failed: the file is empty"),
    ("small_lz4.fst", lambda raw: (raw[:100], ""), "FST open: I/O operation failed: the file ends at byte 100, in the header block at byte 0"),
    ("small_lz4.fst", cut_inside(GEOMETRY, 12), "FST open: I/O operation failed: {}"),
    ("small_lz4.fst", lambda raw: (raw[:block_of(raw, GEOMETRY)[0] + 5], ""),
     "FST open: I/O operation failed: the file ends at byte 485, in the geometry block at byte 480"),
    ("multi_block.fst", cut_inside(VALUE_CHANGE, 40), "FST open: I/O operation failed: {}"),
    ("small_lz4.fst", cut_inside(HIERARCHY, 20), "FST hierarchy: failed to decompress with lz4: {}"),
    ("verilator.fst", cut_inside(HIERARCHY, 30), "FST hierarchy: failed to decompress with lz4: {}"),
    ("small_zlib.fst", cut_inside(HIERARCHY, 40), "FST hierarchy: failed to decompress with zlib: {}"),
    ("small_lz4.fst", set_length(VALUE_CHANGE, 1 << 62), "FST open: I/O operation failed: {}, in the value-change block at byte 330"),
    ("multi_block.fst", set_type(GEOMETRY, 42), "FST open: Unexpected block type: {}"),
    ("multi_block.fst", time_table_length, "FST open: I/O operation failed: {}"),
    ("small_lz4.fst", lambda raw: (raw[:8] + b"\x4a" + raw[9:], ""),
     "FST open: I/O operation failed: the header block's length is 330, not 329, in the header block at byte 0"),
    ("small_gzip.fst", lambda raw: (raw[:200], ""),
     "FST open: failed to decompress gzip stream: BufError: the compressed data ends early: the file ends at byte 200, "
     "in the gzip wrapper block at byte 0"),
    ("small_lz4.fst", lambda raw: (gzip.compress(raw), ""),
     "FST open: Unexpected block type: 31, at byte 0, the file is compressed with gzip: decompress it first"),
]


@pytest.mark.parametrize("name, mutate, message", BROKEN)
def test_broken_files_name_the_fault(tmp_path, name, mutate, message):
    broken, fault = mutate(open(data(name), "rb").read())
    path = tmp_path / "broken.fst"
    path.write_bytes(broken)
    with pytest.raises(ValueError) as err:
        PyTrace.from_fst(str(path))
    assert str(err.value) == message.format(fault)


def rewrap(inner, **gzip_args):
    """An FST file wrapped whole in gzip, its member header written by Python's gzip module."""
    buf = io.BytesIO()
    with gzip.GzipFile(fileobj=buf, mode="wb", mtime=0, **gzip_args) as f:
        f.write(inner)
    member = buf.getvalue()
    return bytes([254]) + struct.pack(">QQ", 16 + len(member), len(inner)) + member


def with_named_gzip_hierarchy(raw):
    """The file with its zlib hierarchy block recompressed under a gzip header that names a file."""
    pos, kind, length = block_of(raw, (4,))
    uncompressed = struct.unpack(">Q", raw[pos + 9:pos + 17])[0]
    entries = zlib.decompress(raw[pos + 17 + 10:pos + 1 + length], -15)
    assert len(entries) == uncompressed
    buf = io.BytesIO()
    with gzip.GzipFile(filename="hier", fileobj=buf, mode="wb", mtime=0) as f:
        f.write(entries)
    member = buf.getvalue()
    assert member[3] == 8  # the file-name flag
    block = bytes([4]) + struct.pack(">QQ", 16 + len(member), uncompressed) + member
    return raw[:pos] + block + raw[pos + 1 + length:]


def test_gzip_headers_with_optional_fields(tmp_path):
    # A gzip member header may carry a file name (and an extra field, a comment, a checksum):
    # both the wrapper of a whole file and a hierarchy block's stream load as plain ones do.
    plain = PyTrace.from_fst(data("small_zlib.fst"))
    inner = zlib.decompress(open(data("small_gzip.fst"), "rb").read()[17:], 31)
    wrapped = tmp_path / "named.fst"
    wrapped.write_bytes(rewrap(inner, filename="small.fst"))
    assert wrapped.read_bytes()[17 + 3] == 8
    hierarchy = tmp_path / "hierarchy.fst"
    hierarchy.write_bytes(with_named_gzip_hierarchy(open(data("small_zlib.fst"), "rb").read()))
    for path in (wrapped, hierarchy):
        t = PyTrace.from_fst(str(path))
        assert t.signal_names() == plain.signal_names()
        for name in t.signal_names():
            assert values(t, name) == values(plain, name), (path, name)


def test_empty_and_garbage_files(tmp_path):
    garbage = tmp_path / "garbage.fst"
    garbage.write_bytes(b"\x2a not an fst file")
    with pytest.raises(ValueError) as err:
        PyTrace.from_fst(str(garbage))
    assert str(err.value) == "FST open: Unexpected block type: 42, at byte 0"


def test_unfinished_gzip_wrapper(tmp_path):
    raw = bytearray(open(data("small_gzip.fst"), "rb").read())
    assert raw[0] == 254
    raw[1:9] = bytes(8)  # section length 0: the writer has not finished
    path = tmp_path / "unfinished.fst"
    path.write_bytes(bytes(raw))
    with pytest.raises(ValueError) as err:
        PyTrace.from_fst(str(path))
    assert str(err.value) == "FST open: The FST file is still being compressed into its final GZIP wrapper."


def test_missing_hierarchy_block(tmp_path):
    # Keep the header (330 bytes) and the blocks up to the hierarchy block.
    raw = open(data("small_zlib.fst"), "rb").read()
    blocks, pos = [], 0
    while pos < len(raw):
        kind = raw[pos]
        length = struct.unpack(">Q", raw[pos + 1:pos + 9])[0]
        blocks.append((kind, raw[pos:pos + 1 + length]))
        pos += 1 + length
    kept = b"".join(b for kind, b in blocks if kind not in (4, 6, 7))
    path = tmp_path / "no_hierarchy.fst"
    path.write_bytes(kept)
    with pytest.raises(ValueError) as err:
        PyTrace.from_fst(str(path))
    assert str(err.value) == "FST open: The FST file is incomplete: hierarchy block is missing."


def load_or_error(path):
    try:
        PyTrace.from_fst(str(path))
    except ValueError as e:
        assert str(e).startswith(("FST open: ", "FST hierarchy: ", "FST signals: ")), str(e)


@pytest.mark.parametrize("name", ["small_lz4.fst", "small_gzip.fst", "packing_fastlz.fst", "multi_block.fst",
                                  "ghdl_enum.fst", "verilator.fst"])
def test_truncated_files_fail_cleanly(tmp_path, name):
    raw = open(data(name), "rb").read()
    path = tmp_path / "cut.fst"
    for cut in sorted(set(range(0, len(raw), max(1, len(raw) // 97))) | {1, 9, 329, 330, len(raw) - 1}):
        path.write_bytes(raw[:cut])
        load_or_error(path)


@pytest.mark.parametrize("name", ["small_zlib.fst", "packing_lz4.fst", "multi_block.fst", "verilator.fst"])
def test_corrupted_files_fail_cleanly(tmp_path, name):
    raw = open(data(name), "rb").read()
    rnd = random.Random(name)
    path = tmp_path / "bad.fst"
    for _ in range(150):
        mutated = bytearray(raw)
        for _ in range(rnd.randint(1, 4)):
            pos = rnd.randrange(len(mutated))
            mutated[pos] = rnd.choice([0, 0xFF, 0x7F, 0x80, rnd.randrange(256)])
        path.write_bytes(bytes(mutated))
        load_or_error(path)


def test_huge_section_length_is_rejected(tmp_path):
    raw = bytearray(open(data("small_lz4.fst"), "rb").read())
    # The block after the header: claim an enormous section length.
    raw[331:339] = struct.pack(">Q", 1 << 62)
    path = tmp_path / "huge.fst"
    path.write_bytes(bytes(raw))
    with pytest.raises(ValueError, match=r"^FST open: "):
        PyTrace.from_fst(str(path))
