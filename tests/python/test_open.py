"""quor.open and detect_format: which loader a path gets, what is refused, and paths of every kind."""

import gzip
import os
import pathlib
import shutil
import subprocess
import sys
import threading

import pytest

import quor
from quor import PyTrace

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLE = os.path.join(HERE, "..", "..", "examples", "counter.vcd")
FIXTURES = os.path.join(HERE, "..", "fixtures")
VALUES_GZ = os.path.join(FIXTURES, "cli", "icarus", "values.vcd.gz")
WRAPPED_FST = os.path.join(FIXTURES, "vcd2fst", "fsm.lz4_gzip.fst")  # vcd2fst -c
GHDL_FST = os.path.join(FIXTURES, "ghdl", "fsm.fst")  # GHDL wraps its FST in gzip too
PLAIN_FST = os.path.join(FIXTURES, "icarus", "soc.fst")


def copy_as(tmp_path, source, name):
    target = tmp_path / name
    shutil.copyfile(source, target)
    return str(target)


def names(trace):
    return trace.signal_names()


@pytest.mark.parametrize(
    "source, name, fmt",
    [
        (EXAMPLE, "trace", "vcd"),
        (WRAPPED_FST, "wrapped.fst", "fst"),
        (WRAPPED_FST, "wrapped", "fst"),
        (WRAPPED_FST, "wrapped.dat", "fst"),
        (WRAPPED_FST, "wrapped.vcd", "fst"),
        (GHDL_FST, "ghdl.vcd", "fst"),
        (VALUES_GZ, "values.vcd.gz", "vcd"),
        (VALUES_GZ, "values", "vcd"),
    ],
)
def test_the_first_bytes_choose_the_loader(tmp_path, source, name, fmt):
    assert quor.detect_format(copy_as(tmp_path, source, name)) == fmt


@pytest.mark.parametrize("source", [WRAPPED_FST, GHDL_FST])
def test_an_fst_wrapped_in_gzip_opens_whatever_its_name(tmp_path, source):
    path = copy_as(tmp_path, source, "trace.bin")
    assert names(quor.open(path)) == names(PyTrace.from_fst(source))


def test_a_gzip_compressed_vcd_opens():
    plain = os.path.join(FIXTURES, "cli", "icarus", "values.vcd")
    trace = quor.open(VALUES_GZ)
    assert names(trace) == names(PyTrace.from_vcd(plain))
    assert trace.signal_values_range("top.color", 0, 5) == PyTrace.from_vcd(plain).signal_values_range(
        "top.color", 0, 5)


@pytest.mark.parametrize(
    "name, data, message",
    [
        ("binary.vcd", bytes(range(256)) * 4, "it is named .vcd, but its first bytes are not VCD text"),
        ("text.vcd", b"hello, world\n", "it is named .vcd, but its first bytes are not VCD text"),
        ("empty.vcd", b"", "the file is empty"),
        ("empty.fst", b"", "the file is empty"),
        ("packed.vcd", gzip.compress(bytes(100)), "it is compressed with gzip, and what it holds is not VCD text"),
        ("random.dat", b"\x07" * 100, "it is none of the known formats (VCD, FST, FSDB, WLF, SHM, VPD)"),
    ],
)
def test_what_is_no_trace_is_refused(tmp_path, name, data, message):
    path = tmp_path / name
    path.write_bytes(data)
    for call in (quor.open, quor.detect_format):
        with pytest.raises(ValueError) as err:
            call(str(path))
        assert str(err.value) == f"Cannot tell the format of {path}: {message}"


@pytest.mark.parametrize("source", [PLAIN_FST])
def test_an_fst_named_vcd_is_refused(tmp_path, source):
    path = copy_as(tmp_path, source, "renamed.vcd")
    for call in (quor.open, quor.detect_format):
        with pytest.raises(ValueError) as err:
            call(path)
        assert str(err.value) == (f"Cannot tell the format of {path}: it is named .vcd, but its first bytes are "
                                  "not VCD text (they are those of FST)")
    assert names(PyTrace.from_fst(path)) == names(PyTrace.from_fst(source))
    command = subprocess.run([sys.executable, "-m", "quor", "info", path], capture_output=True, text=True)
    assert (command.returncode, command.stdout) == (1, "")
    assert command.stderr.startswith(f"quor: error: Cannot tell the format of {path}: it is named .vcd")


def test_from_vcd_keeps_its_tolerance(tmp_path):
    path = tmp_path / "binary.vcd"
    path.write_bytes(bytes(range(256)) * 4)
    assert PyTrace.from_vcd(str(path)).signal_names() == []


@pytest.mark.parametrize(
    "text",
    [
        b"\n\n  \t$timescale 1ns $end\n#0\n",
        b"\xef\xbb\xbf$scope module a $end\n",
        b"#0\n",
        b"\n" * 5000 + b"$var wire 1 ! a $end\n",  # blank beyond the bytes looked at: the name decides
    ],
)
def test_vcd_text_is_recognised(tmp_path, text):
    path = tmp_path / "t.vcd"
    path.write_bytes(text)
    assert quor.detect_format(str(path)) == "vcd"
    quor.open(str(path))


@pytest.mark.parametrize(
    "make_path",
    [
        lambda p: p,
        lambda p: pathlib.Path(p),
        lambda p: os.fsencode(p),
        lambda p: type("Custom", (), {"__fspath__": lambda self: p})(),
    ],
)
@pytest.mark.parametrize(
    "load",
    [quor.open, PyTrace.from_vcd, lambda p: quor.detect_format(p) and quor.open(p)],
)
def test_every_kind_of_path(make_path, load):
    assert names(load(make_path(EXAMPLE))) == names(PyTrace.from_vcd(EXAMPLE))


@pytest.mark.parametrize("method", ["from_fst", "from_fsdb", "from_wlf", "from_shm", "from_vpd"])
def test_every_loader_takes_a_path_object(method):
    source = PLAIN_FST if method == "from_fst" else EXAMPLE
    try:
        getattr(PyTrace, method)(pathlib.Path(source))
    except ValueError:
        pass  # read, and not of that format: the path itself was taken


def test_a_file_name_that_is_not_utf8(tmp_path):
    target = os.path.join(os.fsencode(str(tmp_path)), b"caf\xe9.vcd")
    shutil.copyfile(EXAMPLE, target)
    as_str = os.fsdecode(target)  # holds a surrogate escape, as os.listdir gives it
    assert names(quor.open(target)) == names(quor.open(as_str)) == names(PyTrace.from_vcd(as_str))


@pytest.mark.parametrize("bad", [3, True, None, 1.5, bytearray(b"x.vcd"), ["x.vcd"]])
def test_only_paths_are_taken(bad):
    for call in (quor.open, quor.detect_format):
        with pytest.raises(TypeError, match="argument 'path' must be str, bytes or os.PathLike"):
            call(bad)


def test_a_file_descriptor_number_is_not_opened_or_closed(tmp_path):
    with open(EXAMPLE, "rb") as f:
        fd = f.fileno()
        with pytest.raises(TypeError):
            quor.open(fd)
        os.fstat(fd)  # still open
        assert f.read(4) == b"$dat"  # and not read from


def test_a_pipe_is_read_once():
    with open(EXAMPLE, "rb") as f:
        data = f.read()
    read_end, write_end = os.pipe()

    def write():
        with os.fdopen(write_end, "wb") as w:
            w.write(data)

    writer = threading.Thread(target=write)
    writer.start()
    try:
        trace = quor.open(f"/dev/fd/{read_end}")
    finally:
        writer.join()
        os.close(read_end)
    reference = PyTrace.from_vcd(EXAMPLE)
    assert names(trace) == names(reference)
    assert trace.snapshot(5) == reference.snapshot(5)


@pytest.mark.parametrize(
    "source, compress, message",
    [
        (EXAMPLE, False, None),
        (EXAMPLE, True, None),
        (PLAIN_FST, False, "an FST file is read from a regular file only, not a pipe or device"),
        (GHDL_FST, False, "an FST file is read from a regular file only, not a pipe or device"),
        (b"", False, "it is empty"),
        (b"", True, "it is empty"),
        (b"hello\n", False, "from a pipe or device only VCD text is read (plain or gzip-compressed), and this is not"),
        (b"hello\n", True, "from a pipe or device only VCD text is read (plain or gzip-compressed), and this is not"),
    ],
)
def test_standard_input(source, compress, message):
    data = source
    if isinstance(source, str):
        with open(source, "rb") as f:
            data = f.read()
    if compress:
        data = gzip.compress(data)
    code = "import quor, sys\ntry:\n print(len(quor.open('/dev/stdin').signal_names()))\n" \
           "except ValueError as e:\n print(e)"
    # cat makes standard input a pipe, as in `zcat x.vcd.gz | quor ...`.
    cat = subprocess.Popen(["cat"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    reader = subprocess.Popen([sys.executable, "-c", code], stdin=cat.stdout, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True)
    cat.stdout.close()
    cat.stdin.write(data)
    cat.stdin.close()
    stdout, stderr = reader.communicate(timeout=60)
    cat.wait()
    out = subprocess.CompletedProcess(reader.args, reader.returncode, stdout, stderr)
    assert out.returncode == 0, out.stderr
    expected = str(len(names(PyTrace.from_vcd(EXAMPLE)))) if message is None else \
        f"Cannot tell the format of /dev/stdin: {message}"
    assert out.stdout.strip() == expected
