"""The quor command: each subcommand on the bundled example trace, tables and JSON, and errors."""

import json
import os
import subprocess
import sys

import pytest

import quor
from quor.cli import main

EXAMPLE = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "counter.vcd")


@pytest.fixture(scope="module")
def trace():
    return quor.PyTrace.from_vcd(EXAMPLE)


def run(capsys, *args):
    code = main(list(args))
    out, err = capsys.readouterr()
    return code, out, err


def run_json(capsys, *args):
    code, out, err = run(capsys, *args, "--json")
    assert code == 0, err
    return json.loads(out)


def test_info(capsys, trace):
    info = run_json(capsys, "info", EXAMPLE)
    assert info["format"] == "VCD"
    assert info["signals"] == len(trace.signal_names())
    assert (info["first_index"], info["last_index"]) == (0, trace.max_index())
    assert info["last_time"] == trace.timestamp(trace.max_index())
    code, out, _ = run(capsys, "info", EXAMPLE)
    assert code == 0 and out.splitlines()[0].split() == ["field", "value"]


@pytest.mark.parametrize(
    "pattern, expected",
    [
        (None, None),
        ("*.c*", ["counter_tb.clk", "counter_tb.count"]),
        ("TEMPER", ["counter_tb.temperature"]),  # every name contains "count" (counter_tb)
        ("nothing", []),
    ],
)
def test_signals(capsys, trace, pattern, expected):
    args = ["signals", EXAMPLE] + ([pattern] if pattern else [])
    rows = run_json(capsys, *args)
    assert [r["name"] for r in rows] == (expected if expected is not None else trace.signal_names())
    for r in rows:
        assert r["width"] == trace.signal_width(r["name"]) and r["id"] == trace.signal_id(r["name"])


def test_scopes(capsys):
    assert run_json(capsys, "scopes", EXAMPLE)["scopes"] == ["counter_tb"]
    inner = run_json(capsys, "scopes", EXAMPLE, "counter_tb")
    assert inner["scopes"] == [] and "counter_tb.clk" in inner["signals"]


def test_value_and_range(capsys, trace):
    rows = run_json(capsys, "value", EXAMPLE, "counter_tb.count", "3", "8")
    assert [r["value"] for r in rows] == trace.signal_values_range("counter_tb.count", 3, 8)
    assert [r["time"] for r in rows] == [trace.timestamp(i) for i in range(3, 8)]
    one = run_json(capsys, "value", EXAMPLE, "count", "5", "--scope", "counter_tb")
    assert one == [{"index": 5, "time": trace.timestamp(5), "value": trace.signal_value("counter_tb.count", 5)}]


def test_snapshot(capsys, trace):
    snap = run_json(capsys, "snapshot", EXAMPLE, "20")
    assert snap["values"] == trace.snapshot(20)
    scoped = run_json(capsys, "snapshot", EXAMPLE, "20", "--scope", "counter_tb")
    assert scoped["values"] == trace.snapshot_scope(20, "counter_tb")


def test_find(capsys, trace):
    count = trace.signal_id("counter_tb.count")
    en = trace.signal_id("counter_tb.en")
    expr = quor.PyExpr.signal(en).and_(quor.PyExpr.signal(count).gt_(quor.PyExpr.const_int(10)))
    expected = trace.find(expr)
    assert expected
    rows = run_json(capsys, "find", EXAMPLE, "en && count > 10", "--scope", "counter_tb")
    assert [r["index"] for r in rows] == expected
    assert rows[0]["values"] == {
        "counter_tb.en": 1, "counter_tb.count": trace.signal_value("counter_tb.count", expected[0])}
    assert run_json(capsys, "find", EXAMPLE, "counter_tb.en && counter_tb.count > 10", "--count") == {
        "count": len(expected)}
    limited = run_json(capsys, "find", EXAMPLE, "counter_tb.clk", "--limit", "2", "--show", "counter_tb.state")
    assert len(limited) == 2 and list(limited[0]["values"]) == ["counter_tb.state"]


def test_transitions_and_stats(capsys, trace):
    rows = run_json(capsys, "transitions", EXAMPLE, "counter_tb.state")
    assert [(r["index"], r["old"], r["new"]) for r in rows] == trace.transitions("counter_tb.state")
    stats = run_json(capsys, "stats", EXAMPLE, "counter_tb.count")
    fields = ("min", "max", "sum", "count", "transitions", "num_x", "num_z")
    assert tuple(stats[f] for f in fields) == trace.signal_stats("counter_tb.count")


@pytest.mark.parametrize(
    "args, needle",
    [
        (["info", "/no/such/file.vcd"], "Failed to open /no/such/file.vcd"),
        (["value", EXAMPLE, "nope", "0"], "unknown signal 'nope'"),
        (["find", EXAMPLE, "counter_tb.count >"], "unexpected end of expression"),
        (["find", EXAMPLE, "nope == 1"], "unknown signal 'nope'"),
    ],
)
def test_errors_are_one_clear_message(capsys, args, needle):
    code, out, err = run(capsys, *args)
    assert code == 1 and out == ""
    assert err.startswith("quor: error: ") and needle in err
    assert "Traceback" not in err


def test_unknown_format(capsys, tmp_path):
    path = tmp_path / "x.bin"
    path.write_bytes(b"\x00\x01\x02 not a trace")
    code, _, err = run(capsys, "info", str(path))
    assert code == 1 and "VCD, FST, FSDB, WLF, SHM, VPD" in err


def test_python_dash_m_and_version():
    out = subprocess.run([sys.executable, "-m", "quor", "--version"], capture_output=True, text=True)
    assert out.returncode == 0 and out.stdout.strip() == f"quor {quor.__version__}"


def test_open_picks_the_loader(tmp_path):
    t = quor.open(EXAMPLE)
    assert t.signal_names() == quor.PyTrace.from_vcd(EXAMPLE).signal_names()
    with pytest.raises(ValueError, match="known formats"):
        bad = tmp_path / "y.dat"
        bad.write_bytes(b"\x07" * 100)
        quor.open(str(bad))
