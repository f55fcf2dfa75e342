"""The quor command's times (--time, the timescale in info), its export and its progress bars."""

import io
import json
import os

import pytest

import quor
from quor.cli import main
from quor.progress import Progress, load_with_progress
from quor.timeparse import to_trace_units

EXAMPLE = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "counter.vcd")
SCALED = os.path.join(os.path.dirname(__file__), "..", "fixtures", "scaled", "scaled.vcd")


def run(capsys, *args):
    code = main(list(args))
    out, err = capsys.readouterr()
    return code, out, err


@pytest.mark.parametrize("path, expected, shown", [(EXAMPLE, [1, "ps"], "1ps"), (SCALED, [10, "ps"], "10ps")])
def test_info_shows_the_timescale(capsys, path, expected, shown):
    code, out, _ = run(capsys, "info", path, "--json")
    assert code == 0 and json.loads(out)["timescale"] == expected
    code, out, _ = run(capsys, "info", path)
    assert "timescale    " + shown in out


def test_info_without_a_timescale(capsys, tmp_path):
    bare = tmp_path / "bare.vcd"
    bare.write_text("$var wire 1 ! a $end\n$enddefinitions $end\n#0\n1!\n")
    code, out, _ = run(capsys, "info", str(bare), "--json")
    assert json.loads(out)["timescale"] is None
    assert "timescale    none" in run(capsys, "info", str(bare))[1]


@pytest.mark.parametrize("text, timescale, units", [
    ("15000", (1, "ps"), 15000),
    ("15ns", (1, "ps"), 15000),
    ("1.5 us", (1, "ps"), 1500000),
    ("1.5us", (10, "ps"), 150000),
    ("1.5\u00b5s", (1, "ns"), 1500),
    ("2.5ns", (1, "ns"), 2),       # rounded down: the sample at or before the time
    ("1e3ns", (1, "us"), 1),
    ("1s", (100, "fs"), 10**13),
    (".5ms", (1, "us"), 500),
])
def test_times_in_trace_units(text, timescale, units):
    assert to_trace_units(text, timescale) == units


@pytest.mark.parametrize("text, timescale, message", [
    ("-5", (1, "ps"), "not a time"),
    ("five", (1, "ps"), "not a time"),
    ("1.5", (1, "ps"), "whole number"),
    ("3 hours", (1, "ps"), "unknown time unit"),
    ("1ns", None, "states no timescale"),
])
def test_bad_times(text, timescale, message):
    with pytest.raises(ValueError, match=message):
        to_trace_units(text, timescale)


@pytest.mark.parametrize("args, index", [
    (["--time", "15ns"], 4),
    (["--time", "14999"], 3),
    (["--time", "0.262us"], 57),
    (["--time", "1s"], 57),        # past the last sample: the last one
])
def test_value_and_snapshot_at_a_time(capsys, args, index):
    code, out, err = run(capsys, "value", EXAMPLE, "counter_tb.count", *args, "--json")
    assert code == 0, err
    assert json.loads(out)[0]["index"] == index
    code, out, err = run(capsys, "snapshot", EXAMPLE, *args, "--json")
    assert code == 0, err
    assert json.loads(out)["index"] == index


@pytest.mark.parametrize("args, message", [
    (["value", EXAMPLE, "counter_tb.count"], "give an index or --time"),
    (["value", EXAMPLE, "counter_tb.count", "3", "--time", "5"], "give an index or --time"),
    (["snapshot", EXAMPLE], "give an index or --time"),
    (["value", EXAMPLE, "counter_tb.count", "--time", "-1"], "not a time"),
    (["snapshot", EXAMPLE, "--time", "3 days"], "unknown time unit"),
])
def test_time_errors(capsys, args, message):
    code, _, err = run(capsys, *args)
    assert code == 1 and err.startswith("quor: error: ") and message in err


def test_time_before_the_first_sample(capsys, tmp_path):
    late = tmp_path / "late.vcd"
    late.write_text("$timescale 1ns $end\n$var wire 1 ! a $end\n$enddefinitions $end\n#10\n1!\n#20\n0!\n")
    code, _, err = run(capsys, "value", str(late), "a", "--time", "5ns")
    assert code == 1 and "before the first sample" in err
    code, out, _ = run(capsys, "value", str(late), "a", "--time", "10ns", "--json")
    assert json.loads(out) == [{"index": 0, "time": 10, "value": 1}]


def test_export_command(capsys, tmp_path):
    duckdb = pytest.importorskip("duckdb")
    out_path = tmp_path / "c.parquet"
    code, out, err = run(capsys, "export", EXAMPLE, str(out_path), "--signals", "*.en", "--json")
    assert code == 0, err
    assert json.loads(out) == {"path": str(out_path), "signals": 1, "rows": 3}
    rows = duckdb.sql(f"SELECT \"index\", time, value FROM '{out_path}' ORDER BY \"index\"").fetchall()
    assert rows == [(0, 0, 0), (10, 42000, 1), (44, 202000, 0)]
    assert "warning" not in err
    code, out, err = run(capsys, "export", EXAMPLE, str(tmp_path / "none.parquet"), "--signals", "*.typo", "--json")
    assert code == 0 and json.loads(out)["rows"] == 0
    assert err == f"quor: warning: no signal matches '*.typo'; {tmp_path / 'none.parquet'} holds no rows\n"
    code, _, err = run(capsys, "export", EXAMPLE, str(tmp_path / "no" / "dir.parquet"))
    assert code == 1 and err.startswith("quor: error: ")


class Terminal(io.StringIO):
    def isatty(self):
        return True


def test_progress_bar_draws_only_on_a_terminal_and_clears():
    screen = Terminal()
    with Progress("exporting x", 10, screen, delay=0) as bar:
        bar.update(5)
    text = screen.getvalue()
    assert "exporting x [###############...............]  50%" in text
    assert text.endswith("\r\x1b[K")  # cleared at the end
    pipe = io.StringIO()
    with Progress("exporting x", 10, pipe, delay=0) as bar:
        bar.update(5)
    assert pipe.getvalue() == ""


def test_quick_work_draws_nothing():
    screen = Terminal()
    with Progress("loading", 10, screen, delay=60) as bar:
        bar.update(5)
    assert screen.getvalue() == ""


def test_load_with_progress_passes_results_and_errors():
    screen = Terminal()
    trace = load_with_progress(EXAMPLE, quor.open, screen)
    assert trace.max_index() == 57
    with pytest.raises(ValueError, match="Failed to open"):
        load_with_progress("/no/such/file.vcd", quor.open, screen)
