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


FIXTURES = os.path.join(os.path.dirname(__file__), "..", "fixtures")
VALUES = os.path.join(FIXTURES, "cli", "icarus", "values.vcd")


def quor_command(*args, **kwargs):
    return subprocess.run([sys.executable, "-m", "quor", *args], capture_output=True, text=True, **kwargs)


@pytest.fixture(scope="module")
def long_trace(tmp_path_factory):
    # 30,000 transitions: several pipe buffers of output.
    path = tmp_path_factory.mktemp("long") / "long.vcd"
    body = "".join(f"#{i}\n{i % 2}!\n" for i in range(30_000))
    path.write_text("$scope module top $end\n$var wire 1 ! clk $end\n$upscope $end\n$enddefinitions $end\n" + body)
    return str(path)


@pytest.mark.parametrize("reader", ["first line", "nothing"])
@pytest.mark.parametrize("command", [["transitions", "{long}", "top.clk"], ["info", "{long}"]])
def test_a_closed_pipe_ends_quietly(long_trace, reader, command):
    args = [a.format(long=long_trace) for a in command]
    proc = subprocess.Popen([sys.executable, "-m", "quor", *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if reader == "first line":
        proc.stdout.readline()
    proc.stdout.close()  # as `| head -1` does once it has what it wants
    err = proc.stderr.read()
    assert proc.wait() == 0
    assert err == b""


@pytest.mark.parametrize(
    "args, message",
    [
        (["value", EXAMPLE, "counter_tb.count", "58"], "index 58 is past the end of the trace (last index 57)"),
        (["value", EXAMPLE, "counter_tb.count", "55", "60"],
         "end 60 is past the end of the trace (last index 57; the end is exclusive, so at most 58)"),
        (["value", EXAMPLE, "counter_tb.count", "6", "3"], "the end of the range (3) is not after its start (6)"),
        (["snapshot", EXAMPLE, "1000"], "index 1000 is past the end of the trace (last index 57)"),
        (["scopes", EXAMPLE, "nosuch"], "unknown scope 'nosuch'"),
        (["scopes", EXAMPLE, "counter_tbb"], "unknown scope 'counter_tbb'; did you mean counter_tb?"),
        (["snapshot", EXAMPLE, "3", "--scope", "nosuch"], "unknown scope 'nosuch'"),
        (["snapshot", EXAMPLE, "--scope", "nosuch", "3"], "unknown scope 'nosuch'"),
        (["scopes", EXAMPLE, "--json", "nosuch"], "unknown scope 'nosuch'"),
        (["find", EXAMPLE, "count > 1", "--scope", "countr_tb"], "unknown scope 'countr_tb'; did you mean counter_tb?"),
        (["stats", EXAMPLE, "counter_tb.cont"], "unknown signal 'counter_tb.cont'; did you mean counter_tb.count?"),
        (["transitions", EXAMPLE, "state"], "unknown signal 'state'; did you mean counter_tb.state?"),
        (["value", EXAMPLE, "sate", "1", "--scope", "counter_tb"],
         "unknown signal 'sate' in scope 'counter_tb'; did you mean state?"),
        (["stats", EXAMPLE, "zzzzzz"], "unknown signal 'zzzzzz'\n"),
        (["find", EXAMPLE, "counter_tb.clock == 1"], "unknown signal 'counter_tb.clock'; did you mean counter_tb.clk?"),
    ],
)
def test_typos_and_indices_past_the_end_are_errors(capsys, args, message):
    code, out, err = run(capsys, *args)
    assert (code, out) == (1, "")
    assert err.startswith("quor: error: " + message)
    assert len(err.splitlines()) == 1 or args[0] == "find"  # find adds the caret lines


@pytest.mark.parametrize(
    "options_first, options_last",
    [
        (["snapshot", EXAMPLE, "--scope", "counter_tb", "20"], ["snapshot", EXAMPLE, "20", "--scope", "counter_tb"]),
        (["value", EXAMPLE, "count", "--scope", "counter_tb", "20"],
         ["value", EXAMPLE, "count", "20", "--scope", "counter_tb"]),
        (["scopes", EXAMPLE, "--json", "counter_tb"], ["scopes", EXAMPLE, "counter_tb", "--json"]),
    ],
)
def test_options_go_anywhere_among_the_arguments(capsys, options_first, options_last):
    code, out, err = run(capsys, *options_last)
    assert (code, err) == (0, "") and out
    assert run(capsys, *options_first) == (0, out, "")


def test_running_out_of_memory_is_one_clear_message(capsys, monkeypatch):
    def no_memory(path):
        raise MemoryError()

    monkeypatch.setattr("quor.cli._open_detected", no_memory)
    assert run(capsys, "info", EXAMPLE) == (1, "", "quor: error: out of memory\n")


def test_the_python_api_still_answers_past_the_end(trace):
    last = trace.max_index()
    assert trace.signal_values_range("counter_tb.count", last, last + 3)[1:] == [None, None]
    assert trace.snapshot_scope(last, "nosuch") == {}


def strict_json(text):
    def refuse(name):
        raise ValueError(f"not standard JSON: {name}")

    return json.loads(text, parse_constant=refuse)


def test_json_writes_nan_and_infinities_as_strings(capsys):
    rows = strict_json(run(capsys, "value", VALUES, "top.rl", "0", "6", "--json")[1])
    assert [r["value"] for r in rows] == [0.5, "inf", "-inf", "nan", 1.5, 2.5]
    changes = strict_json(run(capsys, "transitions", VALUES, "top.rl", "--json")[1])
    assert [(c["old"], c["new"]) for c in changes[:3]] == [(0.5, "inf"), ("inf", "-inf"), ("-inf", "nan")]
    assert strict_json(run(capsys, "snapshot", VALUES, "2", "--json")[1])["values"]["top.rl"] == "-inf"


@pytest.mark.parametrize("limit", [0, 1, 3, 10_000])
def test_find_limit(capsys, trace, limit):
    clk = quor.PyExpr.signal(trace.signal_id("counter_tb.clk"))
    expected = trace.find(clk)[:limit]
    rows = run_json(capsys, "find", EXAMPLE, "counter_tb.clk", "--limit", str(limit), "--show", "counter_tb.count")
    assert [r["index"] for r in rows] == expected
    assert [r["values"]["counter_tb.count"] for r in rows] == [trace.signal_value("counter_tb.count", i)
                                                              for i in expected]


@pytest.mark.parametrize(
    "expr, expected",
    [
        ("top.count == 8'hff", [1]),
        ("top.count == 'hff", [1]),
        ("top.count == 8'b1111_1111", [1]),
        ("top.count == 'd10", [4, 5]),
        ("top.count[3:0] == 4'b1010", [4, 5]),
        ("top.count == 8'o12", [4, 5]),
        ("top.rl > 1.5", [1, 5, 6, 7, 8, 9, 10]),
        ("top.rl >= 2.5e0", [1, 5, 6, 7, 8, 9, 10]),
        ("top.color == 226", [1]),
    ],
)
def test_find_with_verilog_and_real_literals(capsys, expr, expected):
    assert [r["index"] for r in run_json(capsys, "find", VALUES, expr)] == expected


@pytest.mark.parametrize(
    "expr, expected",
    [
        ("signed(top.color) == -30", [1]),
        ("signed(top.color) == 8'sh80", [3]),
        ("signed(top.color) < -30", [0, 3]),
        ("signed(top.color) >= -30", [1, 2, 4, 5, 6, 7, 8, 9, 10]),
        ("signed(top.color)@-1 < -30", [1, 4]),
        ("prev(signed(top.color)) < -30", [1, 4]),
        ("top.rl < 1.5 && top.rl > 0.25", [0]),
    ],
)
def test_find_with_signed_and_real_comparisons(capsys, expr, expected):
    assert [r["index"] for r in run_json(capsys, "find", VALUES, expr)] == expected


SIGNED = os.path.join(FIXTURES, "signed", "wide_signed.vcd")


@pytest.mark.parametrize(
    "path, expr, show, expected",
    [
        # A column the expression reads through signed() prints as signed() reads it.
        (VALUES, "signed(top.color) < -30", None, {"top.color": [-40, -128]}),
        (VALUES, "signed(prev(top.color)) < 0 && top.count > 0", None, {"top.color": [-30, 127],
                                                                       "top.count": [255, 10]}),
        (VALUES, "top.color > 200", None, {"top.color": [216, 226]}),  # unsigned where it is read unsigned
        (SIGNED, "signed(s96) < -30", "s96,u64", {"wide_signed.s96": [-(2**95), -(2**64) - 5],
                                                  "wide_signed.u64": [0, 5]}),
        (SIGNED, "signed(s65) == -1", "s8,s65", {"wide_signed.s8": [255], "wide_signed.s65": [-1]}),
    ],
)
def test_find_prints_signed_columns_signed(capsys, path, expr, show, expected):
    args = ["find", path, expr, "--scope", "wide_signed" if path == SIGNED else "top"]
    args += ["--show", show] if show else []
    rows = run_json(capsys, *args)
    assert {name: [r["values"][name] for r in rows] for name in expected} == expected
    code, out, _ = run(capsys, *args, "--limit", "1")  # the table, stopping at the first match
    header, first = out.splitlines()[:2]
    assert code == 0 and header.split()[2:] == list(expected)
    assert first.split()[2:] == [str(v[0]) for v in expected.values()]


@pytest.mark.parametrize(
    "expr, expected",
    [
        ("top.wide == 5", [1]),
        ("top.wide == 0x1_0000_0000_0000_0005", [0]),
        ("top.wide > 18446744073709551615", [0, 2, 3, 4, 5, 6, 7, 8, 9, 10]),
    ],
)
def test_find_with_wide_comparisons(capsys, expr, expected):
    assert [r["index"] for r in run_json(capsys, "find", VALUES, expr)] == expected


def test_deep_nesting_is_no_internal_error(capsys):
    depth = 10_000
    expr = "(" * depth + "counter_tb.count > 10" + ")" * depth
    assert run_json(capsys, "find", EXAMPLE, expr, "--count") == run_json(
        capsys, "find", EXAMPLE, "counter_tb.count > 10", "--count")
    code, _, err = run(capsys, "find", EXAMPLE, "(" * depth + "counter_tb.count")
    assert code == 1 and err.startswith("quor: error: expected ')', found the end")


def test_a_pipe_is_read_once(tmp_path):
    with open(EXAMPLE, "rb") as f:
        out = quor_command("signals", "/dev/stdin", "--json", stdin=f)
    assert out.returncode == 0, out.stderr
    assert [s["name"] for s in json.loads(out.stdout)] == quor.open(EXAMPLE).signal_names()
    with open(EXAMPLE, "rb") as f:  # through a real pipe, not a redirected file
        cat = subprocess.Popen(["cat"], stdin=f, stdout=subprocess.PIPE)
        out = quor_command("info", "/dev/stdin", "--json", stdin=cat.stdout)
        cat.wait()
    assert out.returncode == 0, out.stderr
    assert json.loads(out.stdout)["last_index"] == 57
