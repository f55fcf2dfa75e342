"""PyTrace.from_fst: loading FST files from independent writers, value
conversion, and the error messages for files that cannot be read."""

import gzip
import io
import math
import os
import random
import shutil
import struct
import subprocess
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


def same_values(a, b):
    """Equal values, NaN equal to NaN; fst2vcd prints reals to 16 significant digits."""
    if isinstance(a, float) and isinstance(b, float):
        return (math.isnan(a) and math.isnan(b)) or a == pytest.approx(b, rel=1e-15)
    return a == b


def assert_same_samples(fst, vcd):
    """One sample per time in both, and every signal equal at every index."""
    assert fst.max_index() == vcd.max_index()
    assert [fst.timestamp(i) for i in range(fst.max_index() + 1)] == [
        vcd.timestamp(i) for i in range(vcd.max_index() + 1)
    ]
    assert [vcd_name(n) for n in fst.signal_names()] == vcd.signal_names()
    for name in fst.signal_names():
        got, want = values(fst, name), values(vcd, vcd_name(name))
        bad = [i for i, (a, b) in enumerate(zip(got, want)) if not same_values(a, b)]
        assert not bad, (name, bad[:5], [got[i] for i in bad[:5]], [want[i] for i in bad[:5]])


# A block that starts at the time the block before ended continues its sample: Icarus closes a
# block at $dumpflush, in the middle of a time step.
@pytest.mark.parametrize(
    "fst, vcd",
    [
        ("multi_block.fst", "multi_block.expected.vcd"),  # fst2vcd's reading of the same file
        ("flush.fst", "flush.vcd"),  # the VCD Icarus wrote in a run of its own
    ],
)
def test_block_boundaries_add_no_samples(fst, vcd):
    assert_same_samples(PyTrace.from_fst(data(fst)), PyTrace.from_vcd(data(vcd)))


# Several flushes in one time step, one before any change at time 0, and a stretch of $dumpoff.
def test_flushes_within_one_time_step():
    t = PyTrace.from_fst(data("flush.fst"))
    times = [t.timestamp(i) for i in range(t.max_index() + 1)]
    assert len(times) == len(set(times)) == 24
    step = times.index(55)  # three blocks meet here: cnt set to a5 between the flushes
    assert t.signal_value("top.cnt [7:0]", step) == 0xA5
    assert t.signal_value("top.nib [3:0]", step) is None  # z01x


FLUSH_DESIGN = """module top;
  reg clk = 0;
  reg [15:0] cnt = 0;
  reg [40:0] mix = 0;
  integer i;
  initial begin
    $dumpfile(`OUT);
    $dumpvars(0, top);
    for (i = 0; i < 3000; i = i + 1) begin
      #(1 + i % 3) clk = ~clk;
      cnt = cnt + 3;
      if ((i * 7919 + `SEED) % 97 < 3) $dumpflush;
      mix = {mix[39:0], cnt[0] ^ mix[40]};
      if ((i * 104729 + `SEED) % 211 == 0) begin $dumpflush; $dumpflush; cnt = ~cnt; end
    end
    #1 $finish;
  end
endmodule
"""


@pytest.mark.skipif(shutil.which("iverilog") is None or shutil.which("vvp") is None, reason="needs Icarus Verilog")
@pytest.mark.parametrize("seed", [1, 2])
def test_icarus_flushes_match_the_vcd_of_the_same_run(tmp_path, seed):
    (tmp_path / "flush.v").write_text(FLUSH_DESIGN)
    for out, args in (("run.vcd", []), ("run.fst", ["-fst"])):
        subprocess.run(["iverilog", f"-DOUT=\"{out}\"", f"-DSEED={seed}", "-o", "sim.vvp", "flush.v"],
                       cwd=tmp_path, check=True)
        subprocess.run(["vvp", "-n", "sim.vvp", *args], cwd=tmp_path, check=True, stdout=subprocess.DEVNULL)
    fst = PyTrace.from_fst(str(tmp_path / "run.fst"))
    vcd = PyTrace.from_vcd(str(tmp_path / "run.vcd"))
    assert fst.max_index() > 3000
    assert_same_samples(fst, vcd)


# A time written twice in a row in a VCD is two samples; vcd2fst keeps both in the block's time
# table, and each keeps its own values in the FST too.
REPEATED_TIMES_VCD = """$timescale 1ns $end
$scope module top $end
$var wire 1 ! a $end
$var wire 8 " v [7:0] $end
$upscope $end
$enddefinitions $end
#0
$dumpvars
0!
b0 "
$end
#10
1!
#10
0!
b101 "
#10
b110 "
#20
1!
#20
#30
0!
"""


@pytest.mark.skipif(shutil.which("vcd2fst") is None, reason="needs GTKWave's vcd2fst")
def test_time_repeated_within_a_block_keeps_each_sample(tmp_path):
    (tmp_path / "rep.vcd").write_text(REPEATED_TIMES_VCD)
    subprocess.run(["vcd2fst", "rep.vcd", "rep.fst"], cwd=tmp_path, check=True, stdout=subprocess.DEVNULL)
    fst = PyTrace.from_fst(str(tmp_path / "rep.fst"))
    vcd = PyTrace.from_vcd(str(tmp_path / "rep.vcd"))
    assert values(vcd, "top.a") == [0, 1, 0, 0, 1, 1, 0]
    assert_same_samples(fst, vcd)


def test_variable_length_signals_are_text():
    t = PyTrace.from_fst(data("ghdl_enum.fst"))
    # Enumeration literals stay text, even those made of bit characters.
    assert values(t, "st") == ["idle", "load", "run", "idle"]
    assert values(t, "c") == ["'a'", "'z'", "'z'", "'z'"]
    assert values(t, "sl") == [None, 1, None, 0]  # u, 1, z, l (a weak 0)
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
