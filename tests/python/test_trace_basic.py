"""PyTrace loading and the basic queries: names, times, widths, values, ranges and snapshots."""

import inspect
import os
import subprocess
import sys

import pytest

from quor import PyTrace

VCD = """$timescale 1ns $end
$scope module top $end
$var wire 1 ! clk $end
$var wire 8 " data [7:0] $end
$var real 64 # temp $end
$scope module cpu $end
$var wire 1 ! clk $end
$var wire 4 $ pc[3:0] $end
$upscope $end
$upscope $end
$scope module topx $end
$var wire 1 % clk $end
$upscope $end
$enddefinitions $end
#0
$dumpvars
0!
b1010 "
r2.5 #
b1x01 $
1%
$end
#10
1!
b11111111 "
#20
x!
b0101 $
"""

EXAMPLE = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "counter.vcd")


@pytest.fixture(scope="module")
def trace():
    return PyTrace.from_vcd_string(VCD)


def test_names_scopes_and_times(trace):
    assert trace.signal_names() == ["top.clk", "top.data", "top.temp", "top.cpu.clk", "top.cpu.pc", "topx.clk"]
    assert trace.scopes() == ["top", "top.cpu", "topx"]
    assert trace.max_index() == 2
    assert [trace.timestamp(i) for i in range(4)] == [0, 10, 20, 0]
    assert trace.signal_names() is not trace.signal_names()


@pytest.mark.parametrize(
    "name, index, value, raw",
    [
        ("top.clk", 0, 0, 0),
        ("top.clk", 1, 1, 1),
        ("top.clk", 2, None, 0),  # scalar x is not carried
        ("top.cpu.clk", 1, 1, 1),  # alias of the same code
        ("top.data", 2, 255, 255),
        ("top.temp", 2, 2.5, 2),
        ("top.cpu.pc", 0, None, 0),  # an x bit reads as None
        ("top.cpu.pc", 2, 5, 5),
        ("top.data", 3, None, 0),  # past the end
        ("nope", 0, None, 0),
    ],
)
def test_values(trace, name, index, value, raw):
    assert trace.signal_value(name, index) == value
    assert type(trace.signal_value(name, index)) is type(value)
    assert trace.signal_value_raw(name, index) == raw


def test_widths_and_ids(trace):
    assert trace.signal_width("top.data") == 8
    assert trace.signal_width("top.cpu.pc") == 4
    assert trace.signal_width("nope") == 0
    assert trace.signal_id("top.clk") == trace.signal_id("top.cpu.clk")
    assert trace.signal_id("nope") is None


@pytest.mark.parametrize(
    "name, start, end, expected",
    [
        ("top.data", 0, 4, [10, 255, 255, None]),
        ("top.data", 3, 3, []),
        ("top.data", 5, 2, []),
        ("nope", 0, 3, [None, None, None]),
        ("nope", 5, 2, []),
    ],
)
def test_values_range(trace, name, start, end, expected):
    assert trace.signal_values_range(name, start, end) == expected


def test_values_range_refuses_unbounded_requests(trace):
    with pytest.raises(ValueError, match="signal_values_range"):
        trace.signal_values_range("top.data", 0, 2**63)
    # up to 2**20 entries past the end are answered as documented
    assert trace.signal_values_range("top.data", 2, 2**20 + 3)[:2] == [255, None]


def test_snapshots(trace):
    assert trace.snapshot(1) == {
        "top.clk": 1, "top.data": 255, "top.temp": 2.5, "top.cpu.clk": 1, "top.cpu.pc": None, "topx.clk": 1,
    }
    assert list(trace.snapshot(0)) == trace.signal_names()
    assert trace.snapshot_scope(2, "top") == {"clk": None, "data": 255, "temp": 2.5, "cpu.clk": None, "cpu.pc": 5}
    assert trace.snapshot_scope(0, "top.cp") == {}


def test_empty_text():
    t = PyTrace.from_vcd_string("")
    assert (t.signal_names(), t.scopes(), t.max_index(), t.timestamp(0)) == ([], [], 0, 0)
    assert t.snapshot(0) == {}


def test_example_file_loads():
    t = PyTrace.from_vcd(EXAMPLE)
    assert "counter_tb.count" in t.signal_names()
    assert t.signal_width("counter_tb.count") == 8
    assert t.signal_value("counter_tb.temperature", 0) == 20.5
    assert t.signal_value("counter_tb.bus", 0) is None  # driven to z


def test_load_errors(tmp_path):
    missing = str(tmp_path / "missing.vcd")
    with pytest.raises(ValueError) as err:
        PyTrace.from_vcd(missing)
    assert str(err.value) == f"Failed to open {missing}: No such file or directory (os error 2)"
    with pytest.raises(ValueError, match="Is a directory"):
        PyTrace.from_vcd(str(tmp_path))


def test_truncated_and_non_utf8_files(tmp_path):
    path = tmp_path / "t.vcd"
    path.write_bytes(b"$var wire 4 ! a $end\n#0\nb1\xff1 !\n#1\nb0011 !\n#2\nb01")
    t = PyTrace.from_vcd(str(path))
    assert t.max_index() == 2
    assert [t.signal_value("a", i) for i in range(3)] == [None, 3, 3]


@pytest.mark.parametrize(
    "call, exc, needle",
    [
        (lambda t: t.signal_value(1, 0), TypeError, "name"),
        (lambda t: t.signal_value("a", "0"), TypeError, "index"),
        (lambda t: t.signal_value("a", -1), OverflowError, "index"),
        (lambda t: t.signal_value("a", 2**64), OverflowError, "index"),
        (lambda t: t.timestamp(-1), OverflowError, "index"),
        (lambda t: t.signal_value("a"), TypeError, "index"),
        (lambda t: t.signal_value("a", 0, 1), TypeError, "signal_value"),
        (lambda t: t.signal_value("a", index=0, bogus=1), TypeError, "bogus"),
        (lambda t: t.snapshot_scope(0, None), TypeError, "scope"),
        (lambda t: t.signal_values_range("a", 0, -5), OverflowError, "end"),
        (lambda t: PyTrace.from_vcd(5), TypeError, "path"),
        (lambda t: PyTrace.from_vcd_string(b"#0"), TypeError, "data"),
    ],
)
def test_argument_errors_name_the_parameter(trace, call, exc, needle):
    with pytest.raises(exc, match=needle):
        call(trace)


@pytest.mark.parametrize(
    "call, exc, text",
    [
        (lambda t: t.signal_value("a"), TypeError,
         "PyTrace.signal_value() missing 1 required positional argument: 'index'"),
        (lambda t: t.signal_value(), TypeError,
         "PyTrace.signal_value() missing 2 required positional arguments: 'name' and 'index'"),
        (lambda t: t.signal_values_range(), TypeError,
         "PyTrace.signal_values_range() missing 3 required positional arguments: 'name', 'start', and 'end'"),
        (lambda t: t.max_index(1), TypeError, "PyTrace.max_index() takes no arguments (1 given)"),
        (lambda t: t.signal_names(x=1), TypeError, "PyTrace.signal_names() takes no keyword arguments"),
        (lambda t: t.signal_value("a", -1), OverflowError, "argument 'index': can't convert negative int to unsigned"),
    ],
)
def test_argument_error_texts(trace, call, exc, text):
    with pytest.raises(exc) as err:
        call(trace)
    assert str(err.value) == text


@pytest.mark.parametrize(
    "call",
    [
        lambda t: t.signal_value("\ud800", 0),
        lambda t: t.signal_width("\udcff"),
        lambda t: PyTrace.from_vcd("\ud800"),
        lambda t: PyTrace.from_vcd_string("\ud800"),
    ],
)
def test_text_that_is_not_utf8_keeps_its_own_error(trace, call):
    # A lone surrogate cannot become UTF-8: the conversion's own error comes through.
    with pytest.raises(UnicodeEncodeError, match="surrogates not allowed"):
        call(trace)


@pytest.mark.parametrize("kwargs", [{"index\x00junk": 1}, {"\ud800": 1}, {"bogus": 1}])
def test_keyword_names_are_compared_whole(trace, kwargs):
    with pytest.raises(TypeError, match="unexpected keyword argument"):
        trace.timestamp(**kwargs)


def test_long_names_are_not_kept_alive(trace):
    # Lookups remember recent name objects; a long text the caller drops must not stay behind.
    name = "x" * 100_000
    before = sys.getrefcount(name)
    for call in (trace.signal_id, trace.signal_width, lambda n: trace.signal_value(n, 0)):
        call(name)
    assert sys.getrefcount(name) == before


def test_own_error_from_index_comes_through(trace):
    class Odd:
        def __index__(self):
            raise KeyError("mine")

    with pytest.raises(KeyError, match="mine"):
        trace.signal_value("top.data", Odd())


def test_paths_with_nul_bytes_name_no_file(tmp_path):
    # The part before the NUL names a real file; it must not be loaded in its place.
    good = tmp_path / "t.vcd"
    good.write_text("$var wire 1 ! a $end\n#0\n1!\n")
    path = str(good) + "\0.other"
    nul = "file name contained an unexpected NUL byte"
    cases = [
        (PyTrace.from_vcd, f"Failed to open {path}: {nul}"),
        (PyTrace.from_fst, f"Failed to open {path}: {nul}"),
        (PyTrace.from_fsdb, f"Failed to read {path}: {nul}"),
        (PyTrace.from_wlf, f"Failed to read {path}: {nul}"),
        (PyTrace.from_vpd, f"Failed to read {path}: {nul}"),
        (PyTrace.from_shm, f"DSN: {nul}"),
    ]
    for load, text in cases:
        with pytest.raises(ValueError) as err:
            load(path)
        assert str(err.value) == text
    with pytest.raises(ValueError) as err:
        PyTrace.from_shm(str(tmp_path) + "\0")
    assert str(err.value) == f"DSN: {nul}"


def test_pipe_with_declaration_among_changes():
    # A declaration after the first timestamp makes the text be read a second time, in order;
    # a pipe delivers it once, so the whole of it must still be there.
    text = '$var wire 1 ! a $end\n#0\n1!\n$var wire 1 " b $end\n#1\n1"\n'
    code = ("from quor import PyTrace; t = PyTrace.from_vcd('/dev/stdin'); "
            "print(t.signal_names(), t.max_index(), t.signal_value('b', 1))")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    out = subprocess.run([sys.executable, "-c", code], input=text, capture_output=True, text=True,
                         timeout=120, env=env, check=True)
    assert out.stdout.strip() == "['a', 'b'] 1 1"


def test_keywords_and_signatures(trace):
    assert trace.signal_value(name="top.data", index=1) == 255
    assert PyTrace.from_vcd.__text_signature__ == "(path)"
    assert PyTrace.from_vcd_string.__text_signature__ == "(data)"
    assert str(inspect.signature(trace.signal_values_range)) == "(name, start, end)"
    assert PyTrace.snapshot.__doc__.startswith(
        "Snapshot: get all signal values at a specific index as a dict.\n"
        "Uses signal_value_by_id for O(1) access per signal.\n")
    assert PyTrace.snapshot_scope.__doc__.startswith(
        "Snapshot within a scope.\nUses signal_value_by_id for O(1) access per signal.\n")


def test_not_instantiable():
    with pytest.raises(TypeError):
        PyTrace()


def test_loads_from_several_threads_at_once(tmp_path):
    # Loading releases the GIL and shares the worker pool: concurrent loads of files big enough
    # to be cut into stretches must each give the whole trace.
    lines = ["$var wire 8 ! v $end", "$var wire 1 \" c $end", "$enddefinitions $end"]
    for i in range(200_000):
        lines.append(f"#{i}\nb{i % 256:b} !\n{i % 2}\"")
    path = tmp_path / "big.vcd"
    path.write_text("\n".join(lines) + "\n")
    import concurrent.futures

    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        traces = list(pool.map(lambda _: PyTrace.from_vcd(str(path)), range(4)))
    for t in traces:
        assert t.max_index() == 199_999
        assert [t.signal_value("v", i) for i in (0, 255, 256, 199_999)] == [0, 255, 0, 199_999 % 256]
        assert t.signal_value("c", 199_999) == 1


class NameLike(str):
    """A str subclass: must be read by its text, never through the identity cache."""


def test_repeated_and_varied_name_objects_read_the_same_values(trace):
    # Many distinct objects with the same text, texts that are not signals, and more distinct
    # names than the lookup cache holds: every read must match a fresh lookup by text.
    names = trace.signal_names()
    expected = {n: [trace.signal_value(n, i) for i in range(3)] for n in names}
    ids = {n: trace.signal_id(n) for n in names}
    texts = (names + ["top.nothing", "top.clk "]) * 3 + [f"x{k}" for k in range(5000)] + names
    for text in texts:
        # Temporary objects: freed ones leave addresses that new objects of other texts reuse.
        for obj in ("".join(list(text)), NameLike(text), text):
            for i in range(3):
                assert trace.signal_value(obj, i) == expected.get(text, [None] * 3)[i], (text, i)
            assert trace.signal_id(obj) == ids.get(text)
    assert trace.signal_values_range(NameLike("top.clk"), 0, 3) == expected["top.clk"]
