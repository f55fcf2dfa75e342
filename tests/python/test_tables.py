"""Tables of values: to_arrow, to_pandas and the Parquet export, read back with DuckDB."""

import math
import os
import sys

import pytest

import quor
from quor import PyTrace

pa = pytest.importorskip("pyarrow")
np = pytest.importorskip("numpy")

FIXTURES = os.path.join(os.path.dirname(__file__), "..", "fixtures")
COUNTER = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "counter.vcd")
TRACES = [
    COUNTER,
    os.path.join(FIXTURES, "icarus", "soc.vcd"),
    os.path.join(FIXTURES, "icarus", "soc.fst"),
    os.path.join(FIXTURES, "ghdl", "fsm.fst"),  # an enumeration held as text
    os.path.join(FIXTURES, "scaled", "scaled.vcd"),
]


def bits_of(value, width):
    return format(value, f"0{max(width, 1)}b")


def runs_by_index(t, name):
    """The value signal_runs gives for every index."""
    starts, values = t.signal_runs(name)
    out = []
    bounds = starts.tolist() + [t.max_index() + 1]
    for k, value in enumerate(list(values)):
        out += [value] * (bounds[k + 1] - bounds[k])
    return out


class NoneOrUnknownBits:
    """A cell where signal_runs gives None: null, or the bits of a value with x or z bits."""

    def __init__(self, width):
        self.width = max(width, 1)

    def __eq__(self, cell):
        return cell is None or (isinstance(cell, str) and len(cell) == self.width and set(cell) <= set("01xz")
                                and not set(cell) <= set("01"))

    def __repr__(self):
        return f"NoneOrUnknownBits({self.width})"


def expected_cell(column_type, value, width):
    """What a table cell holds for a run value of signal_runs."""
    if column_type == pa.uint64():
        return None if isinstance(value, str) else value
    if value is None:
        return NoneOrUnknownBits(width) if column_type == pa.string() else None
    if column_type in (pa.float64(), pa.string()) and not isinstance(value, int):
        return value
    if isinstance(value, float):
        return repr(value)
    return value if isinstance(value, str) else bits_of(value, width)


@pytest.mark.parametrize("path", TRACES)
def test_to_arrow_matches_the_runs(path):
    t = quor.open(path)
    names = t.signal_names()
    table = t.to_arrow(names)
    n = t.max_index() + 1
    assert table.column_names == ["index", "time", *names]
    assert table.num_rows == n
    assert table.column("index").to_pylist() == list(range(n))
    assert table.column("time").to_pylist() == [t.timestamp(i) for i in range(n)]
    for name in names:
        column = table.column(name)
        assert column.type in (pa.uint64(), pa.float64(), pa.string()), name
        expected = [expected_cell(column.type, v, t.signal_width(name)) for v in runs_by_index(t, name)]
        got = column.to_pylist()
        same = [e == g or (isinstance(g, float) and isinstance(e, float) and math.isnan(g) and math.isnan(e))
                for g, e in zip(got, expected)]
        assert all(same), (name, [(i, g, e) for i, (g, e, s) in enumerate(zip(got, expected, same)) if not s][:3])


def test_column_types_follow_the_whole_signal():
    t = quor.open(COUNTER)
    names = ["counter_tb.count", "counter_tb.bus", "counter_tb.temperature", "counter_tb.en"]
    whole = t.to_arrow(names)
    assert [whole.column(n).type for n in names] == [pa.uint64(), pa.string(), pa.float64(), pa.uint64()]
    late = t.to_arrow(names, 20, 30)  # bus holds numbers only here, still bits: one schema for all ranges
    assert late.schema == whole.schema
    assert late.column("counter_tb.bus").to_pylist()[0] == bits_of(t.signal_value("counter_tb.bus", 20), 8)
    # all-x 'bxxxxxxxx' in a number column is no value, as a scalar x is
    assert whole.column("counter_tb.count").to_pylist()[0] is None


def test_wide_and_four_state_values_become_bits():
    t = quor.open(os.path.join(FIXTURES, "scaled", "scaled.vcd"))
    table = t.to_arrow(["scaled.wide", "scaled.n", "scaled.level"])
    wide, n = table.column("scaled.wide").to_pylist(), table.column("scaled.n").to_pylist()
    assert wide[0] == "x" * 70 and wide[-1] == "z" * 70 and len(wide[5]) == 70
    assert n[:3] == ["xx01", "xx01", "0000"] and n[-1] == "zzzz" and n[5] == "0001"
    assert table.column("scaled.level").to_pylist()[:5] == [0.5, 0.5, 0.5, 0.5, 1.0]


@pytest.mark.parametrize("start, end, rows", [(0, None, 58), (5, 9, 4), (50, 1000, 8), (9, 5, 0), (58, None, 0),
                                              (1000, None, 0)])
def test_ranges(start, end, rows):
    t = quor.open(COUNTER)
    table = t.to_arrow(["counter_tb.count"], start, end)
    assert table.num_rows == rows
    if rows:
        assert table.column("index")[0].as_py() == start
        assert table.column("counter_tb.count").to_pylist() == t.signal_values_range("counter_tb.count", start,
                                                                                    start + rows)


@pytest.mark.parametrize("args, error, match", [
    ((["counter_tb.nope"],), KeyError, "counter_tb.nope"),
    (("counter_tb.count",), TypeError, "names"),
    (([3],), TypeError, "names"),
    ((["counter_tb.count"], -1), OverflowError, "start"),
    ((["counter_tb.count"], 0, -5), OverflowError, "end"),
    ((["counter_tb.count"], "0"), TypeError, "start"),
])
def test_bad_arguments(args, error, match):
    t = quor.open(COUNTER)
    with pytest.raises(error, match=match):
        t.to_arrow(*args)


def test_duplicate_and_empty_name_lists():
    t = quor.open(COUNTER)
    assert t.to_arrow([]).column_names == ["index", "time"]
    twice = t.to_arrow(["counter_tb.en", "counter_tb.en"])
    assert twice.column_names == ["index", "time", "counter_tb.en", "counter_tb.en"]


def test_to_pandas_uses_nullable_types():
    pd = pytest.importorskip("pandas")
    t = quor.open(COUNTER)
    df = t.to_pandas(["counter_tb.count", "counter_tb.temperature", "counter_tb.bus"])
    assert str(df["index"].dtype) == "uint64" and str(df["time"].dtype) == "uint64"
    assert df["counter_tb.count"].dtype == pd.UInt64Dtype()
    assert df["counter_tb.temperature"].dtype == pd.Float64Dtype()
    assert df["counter_tb.bus"].dtype == pd.StringDtype()
    assert df["counter_tb.count"].isna().tolist()[:2] == [True, False]
    assert df.loc[df["counter_tb.count"] > 24, "index"].tolist() == [55, 56, 57]


def test_missing_extra_names_what_to_install(monkeypatch):
    t = quor.open(COUNTER)
    monkeypatch.setitem(sys.modules, "pyarrow", None)  # makes `import pyarrow` raise ImportError
    with pytest.raises(ImportError, match=r"pip install quor\[arrow\]"):
        t.to_arrow(["counter_tb.count"])
    with pytest.raises(ImportError, match=r"pip install quor\[pandas\]"):
        t.to_pandas(["counter_tb.count"])


# --- the Parquet export, read back with DuckDB ---

duckdb = pytest.importorskip("duckdb")


def export_rows(path, out, pattern=None):
    from quor.export import export_parquet

    return export_parquet(quor.open(path), str(out), pattern)


@pytest.mark.parametrize("path", TRACES)
def test_export_holds_every_run(tmp_path, path):
    out = tmp_path / "t.parquet"
    t = quor.open(path)
    signals, rows = export_rows(path, out)
    assert signals == len(t.signal_names())
    got = duckdb.sql(f"SELECT signal, \"index\", time, value, real, text FROM '{out}'").fetchall()
    assert len(got) == rows
    expected = []
    for name in t.signal_names():
        starts, values = t.signal_runs(name)
        for start, value in zip(starts.tolist(), list(values)):
            number = value if isinstance(value, int) and value < 2**64 and t.signal_width(name) <= 64 else None
            real = value if isinstance(value, float) else None
            text = NoneOrUnknownBits(t.signal_width(name)) if value is None else None
            if isinstance(value, str):
                text = value
            elif isinstance(value, int) and number is None:
                text = bits_of(value, t.signal_width(name))
            expected.append((name, start, t.timestamp(start), number, real, text))
    same = [g[:5] == e[:5] and e[5] == g[5] or (g[:4] == e[:4] and e[5] == g[5] and math.isnan(g[4]) and math.isnan(e[4]))
            for g, e in zip(got, expected)]
    assert len(got) == len(expected) and all(same), [(g, e) for g, e, s in zip(got, expected, same) if not s][:3]


def test_export_types_and_glob(tmp_path):
    out = tmp_path / "c.parquet"
    assert export_rows(COUNTER, out, "*.c*") == (2, 80)
    schema = dict(duckdb.sql(f"DESCRIBE SELECT * FROM '{out}'").fetchall()[i][:2] for i in range(6))
    assert schema == {"signal": "VARCHAR", "index": "UBIGINT", "time": "UBIGINT", "value": "UBIGINT",
                      "real": "DOUBLE", "text": "VARCHAR"}
    assert pa.parquet.read_schema(out).field("signal").type == pa.dictionary(pa.int32(), pa.string())
    counts = duckdb.sql(f"SELECT signal, count(*) FROM '{out}' GROUP BY signal ORDER BY signal").fetchall()
    assert counts == [("counter_tb.clk", 53), ("counter_tb.count", 27)]


def test_export_writes_row_groups_as_it_goes(tmp_path, monkeypatch):
    import pyarrow.parquet as pq

    from quor import export

    monkeypatch.setattr(export, "ROW_GROUP_ROWS", 30)
    out = tmp_path / "g.parquet"
    _, rows = export_rows(COUNTER, out)
    meta = pq.ParquetFile(out).metadata
    assert meta.num_row_groups > 3 and meta.num_rows == rows == 141
    first_group = pq.ParquetFile(out).read_row_group(0).column("signal").to_pylist()
    assert first_group[0] == "counter_tb.bus"
    assert duckdb.sql(f"SELECT count(DISTINCT signal) FROM '{out}'").fetchall()[0] == (8,)


def test_export_of_nothing_and_failures(tmp_path):
    out = tmp_path / "none.parquet"
    assert export_rows(COUNTER, out, "no.such.*") == (0, 0)
    assert duckdb.sql(f"SELECT count(*) FROM '{out}'").fetchall()[0] == (0,)
    with pytest.raises(OSError):
        export_rows(COUNTER, tmp_path / "missing" / "x.parquet")
    assert os.listdir(tmp_path) == ["none.parquet"]  # no partial file left behind


def test_export_without_pyarrow(tmp_path, monkeypatch):
    monkeypatch.setitem(sys.modules, "pyarrow", None)
    monkeypatch.setitem(sys.modules, "pyarrow.parquet", None)
    with pytest.raises(ImportError, match=r"quor\[arrow\]"):
        export_rows(COUNTER, tmp_path / "x.parquet")


def test_a_trace_without_samples_exports_no_rows(tmp_path):
    from quor.export import export_parquet

    t = PyTrace.from_vcd_string("$var wire 1 ! a $end\n$enddefinitions $end\n")
    out = tmp_path / "e.parquet"
    assert export_parquet(t, str(out)) == (1, 0)
    assert duckdb.sql(f"SELECT count(*) FROM '{out}'").fetchall()[0] == (0,)
