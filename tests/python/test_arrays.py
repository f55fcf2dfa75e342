"""Array results (PyArray and the buffer protocol), times, timescales, runs and expression text."""

import copy
import gc
import os
import pickle

import pytest

import quor
from quor import PyArray, PyTrace

FIXTURES = os.path.join(os.path.dirname(__file__), "..", "fixtures")
COUNTER = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "counter.vcd")
SCALED_VCD = os.path.join(FIXTURES, "scaled", "scaled.vcd")
SCALED_FST = os.path.join(FIXTURES, "scaled", "scaled.fst")
SOC_VCD = os.path.join(FIXTURES, "icarus", "soc.vcd")


@pytest.fixture(scope="module")
def counter():
    return quor.open(COUNTER)


# --- find_array / parallel_find_array give exactly the indices of find / parallel_find ---

SEARCHES = [
    (COUNTER, "en && count > 10", "counter_tb"),
    (COUNTER, "count != prev(count)", "counter_tb"),
    (COUNTER, "isx(count) || isz(bus)", "counter_tb"),
    (COUNTER, "state == 7", "counter_tb"),  # no match
    (COUNTER, "rst || !rst", "counter_tb"),  # every index
    (SOC_VCD, "u_core.u_cnt8.count > 3 && !clk", "top"),
    (SCALED_VCD, "n >= 2", "scaled"),
]


@pytest.mark.parametrize("path, text, scope", SEARCHES)
def test_find_arrays_match_the_list_searches(path, text, scope):
    t = quor.open(path)
    e = t.expr(text, scope=scope)
    expected = t.find(e)
    assert t.parallel_find(e) == expected
    for found in (t.find_array(e), t.parallel_find_array(e)):
        assert isinstance(found, PyArray)
        assert found.typecode == "Q" and found.itemsize == 8
        assert len(found) == len(expected)
        assert found.tolist() == expected
        assert list(found) == expected
        assert memoryview(found).tolist() == expected


def test_numpy_wraps_without_a_copy(counter):
    np = pytest.importorskip("numpy")
    found = counter.find_array(counter.expr("count > 3", scope="counter_tb"))
    a, b = np.asarray(found), np.asarray(found)
    assert a.dtype == np.uint64 and a.tolist() == found.tolist()
    assert a.__array_interface__["data"][0] == b.__array_interface__["data"][0]
    assert not a.flags.writeable  # the memory is the array's, never changed after it is made
    with pytest.raises(ValueError):
        a[0] = 1
    times = counter.timestamps()
    view = np.asarray(times)
    assert view.tolist() == [counter.timestamp(i) for i in range(counter.max_index() + 1)]
    # a slice with step 1 views the same memory, one with another step is a copy
    part = times[3:7]
    assert np.asarray(part).__array_interface__["data"][0] == view.__array_interface__["data"][0] + 3 * 8
    assert times[1:9:3].tolist() == view[1:9:3].tolist()


def test_buffer_is_read_only_and_described(counter):
    view = memoryview(counter.timestamps())
    assert (view.format, view.itemsize, view.ndim, view.readonly) == ("Q", 8, 1, True)
    assert view.shape == (counter.max_index() + 1,)
    with pytest.raises(TypeError):
        view[0] = 5
    import io

    with pytest.raises(TypeError, match="read-write"):  # a writable buffer is refused
        io.BytesIO(b"\1" * 8).readinto(counter.timestamps())
    assert counter.timestamps()[1] == 5000


INDEXING = [
    (0, 0), (1, 5000), (-1, 262000), (-58, 0), (57, 262000),
]


@pytest.mark.parametrize("key, expected", INDEXING)
def test_indexing(counter, key, expected):
    assert counter.timestamps()[key] == expected


@pytest.mark.parametrize("key, error", [(58, IndexError), (-59, IndexError), (2**70, IndexError), ("1", TypeError),
                                        (1.0, TypeError)])
def test_bad_indices(counter, key, error):
    with pytest.raises(error):
        counter.timestamps()[key]


def test_array_outlives_its_trace():
    t = quor.open(COUNTER)
    times = t.timestamps()
    found = t.find_array(t.expr("count > 20", scope="counter_tb"))
    del t
    gc.collect()
    assert times[57] == 262000 and times[0] == 0
    assert found.tolist()[:2] == [47, 48]


def test_empty_results_and_repr(counter):
    empty = counter.find_array(counter.expr("state == 7", scope="counter_tb"))
    assert len(empty) == 0 and empty.tolist() == [] and bytes(memoryview(empty)) == b""
    assert repr(empty) == "PyArray('Q', [])"
    assert repr(counter.timestamps()[:3]) == "PyArray('Q', [0, 5000, 10000])"
    assert repr(counter.timestamps()).startswith("PyArray('Q', [0, 5000, 10000, ..., ") and "length=58" in repr(
        counter.timestamps())
    starts, reals = counter.signal_runs("counter_tb.temperature")
    assert repr(reals) == "PyArray('d', [20.5, 21.25])" and reals[1] == 21.25


@pytest.mark.parametrize("make", [
    lambda t: t.timestamps(),
    lambda t: t.timestamps()[::7],
    lambda t: t.signal_runs("counter_tb.temperature")[1],
    lambda t: t.find_array(t.expr("state == 7", scope="counter_tb")),
])
@pytest.mark.parametrize("copy_of", [
    lambda a: pickle.loads(pickle.dumps(a)),
    lambda a: pickle.loads(pickle.dumps(a, protocol=5)),
    copy.deepcopy,
])
def test_arrays_pickle_and_copy(counter, make, copy_of):
    original = make(counter)
    copied = copy_of(original)
    assert type(copied) is PyArray and copied.typecode == original.typecode
    assert copied.tolist() == original.tolist()


@pytest.mark.parametrize("typecode, data, message", [
    ("x", b"", "typecode must be 'Q' or 'd'"),
    ("Q", b"1234567", "whole number of 8-byte items"),
])
def test_array_rebuild_refuses_bad_input(typecode, data, message):
    with pytest.raises(ValueError, match=message):
        quor._core._array_from_bytes(typecode, data)


def test_array_cannot_be_made_directly():
    with pytest.raises(TypeError):
        PyArray()


# --- index_at ---

@pytest.mark.parametrize("time, expected", [
    (0, 0), (4999, 0), (5000, 1), (12000, 3), (12999, 3), (262000, 57), (2**64 - 1, 57),
])
def test_index_at(counter, time, expected):
    assert counter.index_at(time) == expected


TIMES_BACK = "$var wire 1 ! a $end\n$enddefinitions $end\n#10\n0!\n#20\n1!\n#5\n0!\n#30\n1!\n"


@pytest.mark.parametrize("text, time, expected", [
    ("$enddefinitions $end\n#7\n", 6, None),    # before the first sample
    ("$enddefinitions $end\n#7\n", 7, 0),
    ("$enddefinitions $end\n", 0, None),        # no samples at all
    ("$enddefinitions $end\n#3\n#3\n#8\n", 3, 1),  # the last of equal times
    (TIMES_BACK, 4, None),                      # times that go back: the last index at or before
    (TIMES_BACK, 7, 2),
    (TIMES_BACK, 25, 2),
    (TIMES_BACK, 10, 2),
    (TIMES_BACK, 30, 3),
])
def test_index_at_edges(text, time, expected):
    assert PyTrace.from_vcd_string(text).index_at(time) == expected


@pytest.mark.parametrize("time, error", [(-1, OverflowError), (2**64, OverflowError), ("5", TypeError),
                                         (5.0, TypeError)])
def test_index_at_bad_times(counter, time, error):
    with pytest.raises(error, match="time"):
        counter.index_at(time)


# --- timescale ---

@pytest.mark.parametrize("header, expected", [
    ("$timescale 1ns $end", (1, "ns")),
    ("$timescale 10 ps $end", (10, "ps")),
    ("$timescale\n\t100us\n$end", (100, "us")),
    ("$timescale\n  1 fs\n$end", (1, "fs")),
    ("$timescale 1s $end", (1, "s")),
    ("$timescale 1 ms $end", (1, "ms")),
    ("", None),
    ("$timescale 1 xs $end", None),
    ("$timescale ns $end", None),
    ("$timescale 0ns $end", None),
    ("$timescale 1ns", None),  # never closed
])
def test_vcd_timescale(header, expected):
    text = header + "\n$scope module t $end\n$var wire 1 ! a $end\n$upscope $end\n$enddefinitions $end\n#0\n1!\n"
    assert PyTrace.from_vcd_string(text).timescale() == expected


@pytest.mark.parametrize("path, expected", [
    (SCALED_VCD, (10, "ps")),
    (SCALED_FST, (10, "ps")),  # the FST header's exponent -11
    (os.path.join(FIXTURES, "icarus", "soc.fst"), (1, "ps")),
    (os.path.join(FIXTURES, "ghdl", "fsm.vcd"), (1, "fs")),
    (os.path.join(FIXTURES, "ghdl", "fsm.fst"), (1, "fs")),
    (os.path.join(FIXTURES, "verilator", "soc.vcd"), (1, "ps")),
])
def test_timescale_from_simulator_files(path, expected):
    assert quor.open(path).timescale() == expected


# --- signal_runs ---

@pytest.mark.parametrize("path", [COUNTER, SOC_VCD, SCALED_VCD, SCALED_FST])
def test_signal_runs_agree_with_values(path):
    t = quor.open(path)
    for name in t.signal_names():
        starts, values = t.signal_runs(name)
        assert starts[0] == 0 and len(starts) == len(values)
        assert starts.tolist() == sorted(set(starts.tolist()))
        ends = starts.tolist()[1:] + [t.max_index() + 1]
        for start, end, value in zip(starts.tolist(), ends, list(values)):
            for i in range(start, end):
                got = t.signal_value(name, i)
                assert got == value or (got != got and value != value), (name, i)


@pytest.mark.parametrize("name, kind, starts, values", [
    ("counter_tb.en", "Q", [0, 10, 44], [0, 1, 0]),
    ("counter_tb.temperature", "d", [0, 31], [20.5, 21.25]),
    ("counter_tb.state", "list", [0, 1, 11, 19, 27, 36, 45, 53], [None, 0, 1, 2, 3, 0, 1, 2]),
    ("counter_tb.bus", "list", [0, 10, 11], [None, 3, 4]),
    ("counter_tb.nothing", "Q", [], []),
])
def test_signal_runs_forms(counter, name, kind, starts, values):
    got_starts, got_values = counter.signal_runs(name)
    assert isinstance(got_starts, PyArray) and got_starts.tolist()[: len(starts)] == starts
    if kind == "list":
        assert isinstance(got_values, list) and got_values[: len(values)] == values
    else:
        assert isinstance(got_values, PyArray) and got_values.typecode == kind
        assert got_values.tolist() == values


def test_signal_runs_of_a_never_assigned_signal():
    t = PyTrace.from_vcd_string("$var wire 1 ! a $end\n$var wire 1 # b $end\n$enddefinitions $end\n#0\n1!\n#5\n0!\n")
    starts, values = t.signal_runs("b")
    assert starts.tolist() == [0] and values == [None]


# --- expr ---

def test_expr_resolves_names_as_the_command(counter):
    by_scope = counter.expr("en && count > 10", scope="counter_tb")
    full = counter.expr("counter_tb.en && counter_tb.count > 10")
    assert counter.find(by_scope) == counter.find(full) == list(range(25, 44))
    assert counter.find(counter.expr("count[0] && !isx(count)", "counter_tb")) == counter.find(
        counter.expr("counter_tb.count[0:0] == 1"))


@pytest.mark.parametrize("text, scope, message", [
    ("count >", "counter_tb", "unexpected end of expression\n  count >\n         ^"),
    ("en && cnt > 1", "counter_tb", "unknown signal 'cnt' in scope 'counter_tb'; did you mean count?\n  en && cnt > 1\n        ^"),
    ("en", None, "unknown signal 'en'; did you mean counter_tb.en?\n  en\n  ^"),
    ("1 # 2", None, "unexpected character '#'\n  1 # 2\n    ^"),
])
def test_expr_errors_carry_the_caret(counter, text, scope, message):
    with pytest.raises(ValueError) as err:
        counter.expr(text, scope=scope)
    assert message in str(err.value)


@pytest.mark.parametrize("args, kwargs", [((5,), {}), (("en",), {"scope": 3}), ((), {}), (("en",), {"where": "x"})])
def test_expr_argument_errors(counter, args, kwargs):
    with pytest.raises(TypeError):
        counter.expr(*args, **kwargs)


def test_wide_runs_are_whole_numbers():
    t = quor.open(SCALED_VCD)
    if t.signal_value("scaled.wide", 2) is not None and t.signal_value("scaled.wide", 2) < 2**64:
        pytest.skip("this build reads values wider than 64 bits as their low 64 bits")
    starts, values = t.signal_runs("scaled.wide")
    first = (0b100000 << 64) | 0xFFFF_0000_0000_0001
    assert starts.tolist() == [0, 2, 4, 6, 8, 10, 12, 14, 16]
    assert values == [None] + [first + k for k in range(7)] + [None]
    table_bits = t.to_arrow(["scaled.wide"]).column("scaled.wide").to_pylist()
    assert table_bits[2] == format(first, "070b") and table_bits[15] == format(first + 6, "070b")


NEW_METHODS = ["find_array", "parallel_find_array", "timestamps", "index_at", "timescale", "signal_runs", "expr",
               "to_arrow", "to_pandas"]


@pytest.mark.parametrize("name", NEW_METHODS)
def test_help_describes_the_method_in_the_binding_and_the_stubs(name):
    doc = getattr(PyTrace, name).__doc__
    assert "Returns:" in doc and "Example:" in doc
    stub = open(os.path.join(os.path.dirname(quor.__file__), "_core.pyi")).read()
    body = stub[stub.index(f"    def {name}("):]
    assert doc.split("\n\n")[0].split()[:6] == body[body.index('"""') + 3:].split()[:6]
    assert "Returns:" in quor.find_many.__doc__ and "Raises:" in quor.find_many.__doc__
