"""PyTrace.from_fsdb, from_wlf, from_shm and from_vpd: loading, messages and argument errors."""

import struct
import zlib

import pytest

from quor import PyTrace


def nul_strings(names):
    return b"\0" + b"".join(n.encode() + b"\0" for n in names)


def fsdb_modern(names):
    f = bytearray(1024)
    f[4:8] = bytes([0x1C, 0x3E, 0xD9, 0x48])
    f += zlib.compress(nul_strings(names)) + bytes(64)
    return bytes(f)


def wlf_file(names, value_records=None):
    page = bytearray(8192)
    pos = 40
    for s in (b"v", b"s", b"x"):
        page[pos] = len(s)
        page[pos + 1 : pos + 1 + len(s)] = s
        pos += 1 + len(s)
    blob = nul_strings(names)
    page[pos : pos + len(blob)] = blob
    page[2:4] = struct.pack(">H", pos + len(blob))
    out = bytes(page)
    if value_records is not None:
        vp = bytearray(8192)
        vp[0:2] = b"\xff\xff"
        vp[2:4] = struct.pack(">H", len(value_records))
        vp[16 : 16 + len(value_records)] = value_records
        vp[-32:] = b"\x01" * 32
        out += bytes(vp)
    return out


def shm_design(names):
    f = bytearray(128)
    f[0:4] = struct.pack(">I", 0xA19511BF)
    for sig, strings in ((0x070501, ["top"]), (0x090700, names)):
        p = len(f)
        rec = bytearray(12) + nul_strings(strings)
        while len(rec) % 4:
            rec.append(0)
        rec[0:4] = struct.pack(">I", sig)
        rec[4:8] = struct.pack(">I", p + len(rec))
        f += rec
    return bytes(f + bytes(16))


def shm_trn(state):
    f = bytearray(64)
    f[0:4] = struct.pack(">I", 0xA19511BF)
    h = bytearray(64)
    h[0:4] = bytes([0x00, 0x1B, 0x22, 0x00])
    h[40:44] = struct.pack(">I", 1)
    h[52:56] = struct.pack(">I", 128)
    h[56:60] = struct.pack(">I", 128 + len(state))
    h[48:52] = struct.pack(">I", 128 + len(state))
    return bytes(f + h + state + bytes(64))


def vpd_file(names):
    f = bytearray(144)
    f[0:4] = struct.pack("<I", 0x12345678)
    f[48:52] = struct.pack("<I", 144)
    return bytes(f) + nul_strings(names)


def write(tmp_path, name, data):
    p = tmp_path / name
    p.write_bytes(data)
    return str(p)


@pytest.mark.parametrize(
    "method, name, data, message",
    [
        ("from_fsdb", "a.fsdb", bytes(11), "FSDB file too small"),
        ("from_fsdb", "b.fsdb", bytes(7) + b"\x01" + bytes(4), "Not an FSDB file (magic=0x00000001)"),
        ("from_wlf", "a.wlf", bytes(100), "WLF file too small (< 1 page)"),
        ("from_vpd", "a.vpd", bytes(127), "VPD file too small"),
        ("from_vpd", "b.vpd", b"\x01" + bytes(127), "Not a VPD file (magic=0x00000001)"),
        ("from_shm", "a.dsn", b"\x00\x00\x00\x01" + bytes(124), "Bad DSN magic: 0x00000001"),
    ],
)
def test_loader_messages(tmp_path, method, name, data, message):
    path = write(tmp_path, name, data)
    with pytest.raises(ValueError) as err:
        getattr(PyTrace, method)(path)
    assert str(err.value) == message


@pytest.mark.parametrize("method", ["from_fsdb", "from_wlf", "from_vpd"])
def test_missing_file(tmp_path, method):
    path = str(tmp_path / "missing")
    with pytest.raises(ValueError) as err:
        getattr(PyTrace, method)(path)
    assert str(err.value).startswith("Failed to read " + path + ": ")


def test_shm_paths(tmp_path):
    empty = tmp_path / "empty"
    empty.mkdir()
    with pytest.raises(ValueError, match="^No .dsn/.trn in "):
        PyTrace.from_shm(str(empty))
    typo = str(tmp_path / "wave.trn")
    with pytest.raises(ValueError) as err:
        PyTrace.from_shm(typo)
    assert str(err.value).startswith("Failed to read " + typo + ": ")
    with pytest.raises(ValueError, match="^DSN: "):
        PyTrace.from_shm(str(tmp_path / "nothing.dsn"))


@pytest.mark.parametrize("method", ["from_fsdb", "from_wlf", "from_shm", "from_vpd"])
def test_argument_type(method):
    with pytest.raises(TypeError, match="path"):
        getattr(PyTrace, method)(3)
    assert getattr(PyTrace, method).__text_signature__ == "(path)"


def test_loads_names_and_values(tmp_path):
    names = ["top.clk", "top.a", "top.u.b", "top.c"]
    fsdb = PyTrace.from_fsdb(write(tmp_path, "w.fsdb", fsdb_modern(names + [f"top.n{i}" for i in range(8)])))
    assert fsdb.signal_names()[:4] == names
    assert fsdb.scopes() == ["top", "top.u"]
    assert fsdb.signal_width("nope") == 1

    wlf = PyTrace.from_wlf(write(tmp_path, "w.wlf", wlf_file(["n0", "n1"], b"\x01\x05\xff\x01\x06")))
    assert wlf.signal_values_range("n1", 0, 3) == [5, 6, None]
    assert wlf.max_index() == 1 and wlf.timestamp(1) == 1

    write(tmp_path, "db.dsn", shm_design(["clk", "rst"]))
    write(tmp_path, "db.trn", shm_trn(bytes([0x10, 0x08])))
    for path in (str(tmp_path), str(tmp_path / "db.trn"), str(tmp_path / "db.dsn")):
        shm = PyTrace.from_shm(path)
        assert shm.signal_names() == ["clk", "rst"]
        assert shm.snapshot(0) == {"clk": 1, "rst": 0}
        assert shm.scopes() == ["top"]

    vpd = PyTrace.from_vpd(write(tmp_path, "w.vpd", vpd_file(["a.x", "a.y", "b.z", "b.w"])))
    assert vpd.signal_names() == ["a.x", "a.y", "b.z", "b.w"]
    assert vpd.scopes() == ["a", "b"]
    assert vpd.signal_value("a.x", 0) is None
