import gzip
import json
import os
import shutil
import subprocess
import time

import pytest

import quor


def test_resolve(small):
    assert small.resolve("top", "clk") == "top.clk"
    assert small.resolve("top.sub", "clk") == "top.sub.clk"
    assert small.resolve("", "clk") == "top.clk"
    assert small.resolve("top", "nothing") is None


def test_local(small):
    assert small.local_scopes("") == ["top", "topx"]
    assert small.local_scopes("top") == ["top.sub"]
    assert small.local_signals("top") == ["top.clk", "top.cnt", "top.r"]
    assert small.local_signals("") == []


def test_name_searches(small):
    assert small.find_signals_glob("*clk") == ["top.clk", "top.sub.clk", "topx.clk"]
    assert small.find_signals_glob("top.?") == ["top.r"]
    assert small.find_signals_containing("CLK") == ["top.clk", "top.sub.clk", "topx.clk"]
    assert small.find_signals_containing("") == small.signal_names()


@pytest.mark.parametrize("method", ["resolve", "local_scopes", "local_signals", "find_signals_glob",
                                    "find_signals_containing", "signal_stats", "transitions"])
def test_non_str_arguments(small, method):
    fn = getattr(small, method)
    args = (1, "x") if method == "resolve" else (1,)
    with pytest.raises(TypeError):
        fn(*args)


# --- escaped identifiers and names that keep their bit range ----------------------------------
# Icarus (escaped.v) and GHDL (extended.vhd) traces of one run each to VCD and to FST: an
# escaped identifier is one element of a path, dots and all. (Icarus drops the backslash of an
# escaped instance name; its scope "inst.a" is one element all the same, "top.\inst.a ".)
FST_DATA = os.path.join(os.path.dirname(__file__), "..", "cpp", "fst_data")
# (file, scope, its signals, its child scopes, a name that only looks like a scope)
ESCAPED = [
    ("escaped.vcd", "top", ["top.\\bus.v", "top.clk", "top.cnt", "top.esc", "top.\\esc.dotted"],
     ["top.inst", "top.\\inst.a "], "top.\\esc"),
    ("escaped.fst", "top", ["top.\\bus.v [7:0]", "top.clk", "top.cnt [7:0]", "top.esc", "top.\\esc.dotted"],
     ["top.inst", "top.\\inst.a "], "top.\\esc"),
    ("extended.vcd", "tb.\\u.1\\", ["tb.\\u.1\\.clk", "tb.\\u.1\\.\\inner.x\\", "tb.\\u.1\\.plain"], [], "tb.\\u"),
    ("extended.fst", "\\u.1\\", ["\\u.1\\.clk", "\\u.1\\.\\inner.x\\", "\\u.1\\.plain[3:0]"], [], "\\u"),
]


@pytest.mark.parametrize("name, scope, signals, children, not_a_scope", ESCAPED)
def test_escaped_identifiers_are_one_path_element(name, scope, signals, children, not_a_scope):
    t = quor.open(os.path.join(FST_DATA, name))
    assert t.local_signals(scope) == signals
    assert t.local_scopes(scope) == children
    assert t.local_signals(not_a_scope) == [] and t.local_scopes(not_a_scope) == []
    assert sorted(t.snapshot_scope(1, scope)) == sorted(s[len(scope) + 1:] for s in t.signal_names()
                                                      if s.startswith(scope + "."))
    assert t.snapshot_scope(1, not_a_scope) == {}
    for i in range(1, t.max_index() + 1):
        assert t.changed_at_scope(i, not_a_scope) == []
        assert t.changed_at_scope(i, scope) == [c for c in t.changed_at(i) if c[0].startswith(scope + ".")]
    assert any(t.changed_at_scope(i, scope) for i in range(1, t.max_index() + 1))


def test_escaped_names_resolve_as_whole_elements():
    t = quor.open(os.path.join(FST_DATA, "escaped.vcd"))
    assert t.resolve("top", "\\esc.dotted") == "top.\\esc.dotted"
    assert t.resolve("top", "dotted") is None
    assert t.resolve("top.inst", "\\q.x") == "top.inst.\\q.x"


@pytest.mark.parametrize("stem", ["escaped", "extended"])
def test_fst_and_vcd_of_one_run_agree_by_name(stem):
    vcd = quor.open(os.path.join(FST_DATA, stem + ".vcd"))
    fst = quor.open(os.path.join(FST_DATA, stem + ".fst"))
    assert fst.max_index() == vcd.max_index()
    # GHDL's FST has no scope for the top entity; otherwise the FST names are the VCD's, some
    # with their bit range kept, and each is found by the VCD's name too.
    prefix = "tb." if stem == "extended" else ""
    for name in vcd.signal_names():
        short = name[len(prefix):]
        assert fst.signal_id(short) is not None, short
        assert fst.signal_values_range(short, 0, fst.max_index() + 1) == \
            vcd.signal_values_range(name, 0, vcd.max_index() + 1), name


# Names kept with their range ("cnt [7:0]") are also found without it, by every lookup, when
# exactly one name gives it.
def test_fst_names_without_their_range():
    t = quor.open(os.path.join(FST_DATA, "escaped.fst"))
    full, bare = "top.cnt [7:0]", "top.cnt"
    assert t.signal_id(bare) == t.signal_id(full) is not None
    assert t.signal_width(bare) == 8
    assert [t.signal_value(bare, i) for i in range(4)] == [t.signal_value(full, i) for i in range(4)]
    assert t.signal_value_raw(bare, 3) == t.signal_value_raw(full, 3) == 3
    assert t.signal_values_range(bare, 0, 5) == t.signal_values_range(full, 0, 5)
    assert t.transitions(bare) == t.transitions(full) != []
    assert t.signal_stats(bare) == t.signal_stats(full)
    assert t.find_with_values(quor.PyExpr.always_true(), [bare])[:3] == \
        t.find_with_values(quor.PyExpr.always_true(), [full])[:3]
    assert t.resolve("top", "cnt") == bare
    assert t.resolve("", "cnt") == full  # found by scanning: the name as the trace holds it
    assert t.signal_id("top.\\bus.v") == t.signal_id("top.\\bus.v [7:0]")
    assert t.signal_id("top.cnt [7") is None and t.signal_id("top.cn") is None



# The expression language names FST vectors without the range their writers keep in the name.
FIXTURES = os.path.join(os.path.dirname(__file__), "..", "fixtures")


@pytest.mark.parametrize(
    "path, expr, scope, name",
    [
        ("icarus/soc.fst", "top.count8 == 3", "", "top.count8"),
        ("icarus/soc.fst", "count8 == 3 && count4 != 0", "top", "top.count8"),
        ("verilator/soc.fst", "TOP.core.count8 == 3", "", "TOP.core.count8"),
        ("verilator/soc.fst", "u_alu.a[3:0] == 5 || count8 == 3", "TOP.core", "TOP.core.count8"),
    ],
)
def test_find_names_fst_vectors(capsys, path, expr, scope, name):
    from quor.cli import main

    fst = os.path.join(FIXTURES, path)
    t = quor.open(fst)
    args = ["find", fst, expr, "--json"] + (["--scope", scope] if scope else [])
    assert main(args) == 0
    rows = json.loads(capsys.readouterr().out)
    assert rows and all(name in r["values"] for r in rows)
    assert any(r["values"][name] == 3 for r in rows)
    full = [n for n in t.signal_names() if n.startswith(name + " [")]
    assert len(full) == 1 and t.signal_id(name) == t.signal_id(full[0])
    assert main(["value", fst, name, str(rows[0]["index"]), "--json"]) == 0
    assert str(t.signal_value(name, rows[0]["index"])) in capsys.readouterr().out


# --- deep hierarchies -----------------------------------------------------------------------
# Every full name repeats its scope's path, so names grow with the square of the depth. They
# may take 256 bytes per byte of declarations plus 64 MiB; a deeper hierarchy fails at once.


def nested_vcd(depth, name_length, signals_per_level):
    lines = ["$timescale 1ns $end"]
    for d in range(depth):
        lines.append(f"$scope module {chr(97 + d % 26) * name_length} $end")
        lines += [f"$var wire 1 {chr(33 + s)} s{s} $end" for s in range(signals_per_level)]
    lines += ["$upscope $end"] * depth + ["$enddefinitions $end", "#0", "1!", "#1", "0!", ""]
    return "\n".join(lines)


def deep_files(tmp_path, depth, name_length, signals_per_level):
    vcd = tmp_path / f"d{depth}.vcd"
    vcd.write_text(nested_vcd(depth, name_length, signals_per_level))
    files = [str(vcd)]
    if shutil.which("vcd2fst"):
        fst = tmp_path / f"d{depth}.fst"
        subprocess.run(["vcd2fst", str(vcd), str(fst)], check=True, stdout=subprocess.DEVNULL)
        files.append(str(fst))
    return files


def test_hierarchy_too_deep_fails_at_once(tmp_path):
    files = deep_files(tmp_path, 20000, 1, 1)  # 0.5 MB of VCD; a 1.6 KB FST
    for path in files:
        start = time.perf_counter()
        with pytest.raises(ValueError, match=r"^(VCD|FST) hierarchy: too deep or its names too long: after \d+ bytes"):
            quor.open(path)
        assert time.perf_counter() - start < 30  # a bound against hanging, not a timing test
    with pytest.raises(ValueError, match="too deep"):
        quor.PyTrace.from_vcd_string(nested_vcd(20000, 1, 1))
    packed = tmp_path / "deep.vcd.gz"
    packed.write_bytes(gzip.compress(nested_vcd(20000, 1, 1).encode()))
    with pytest.raises(ValueError, match="^VCD hierarchy: too deep"):
        quor.PyTrace.from_vcd(str(packed))
    assert len(files) == 2 or shutil.which("vcd2fst") is None


def test_ordinary_depth_loads(tmp_path):
    for path in deep_files(tmp_path, 400, 24, 3):
        t = quor.open(path)
        assert len(t.scopes()) == 400 and len(t.signal_names()) == 1200
        deepest = t.scopes()[-1]
        assert deepest.count(".") == 399
        assert t.local_signals(deepest) == [f"{deepest}.s{s}" for s in range(3)]
        first = t.signal_names()[0]
        assert [t.signal_value(first, i) for i in range(2)] == [1, 0]


# --- scopes whose names hold dots -------------------------------------------------------------
# Icarus writes the instance \u.1 as the scope "u.1" (tests/fixtures/scopes/dotted.v); a scope
# name is one element, so it joins its path escaped: top.\u.1 .q, beside the plain top.u.q.
DOTTED_SCOPES = ["top", "top.\\m.2 ", "top.\\m.2 .\\in.ner ", "top.u", "top.\\u.1 "]


@pytest.mark.parametrize("path", ["scopes/dotted.vcd", "scopes/dotted.fst"])
def test_dotted_scope_names_are_one_element(path, capsys):
    from quor.cli import main

    t = quor.open(os.path.join(FIXTURES, path))
    assert t.scopes() == DOTTED_SCOPES
    expected_children = {"": ["top"], "top": ["top.\\m.2 ", "top.u", "top.\\u.1 "],
                         "top.\\m.2 ": ["top.\\m.2 .\\in.ner "]}
    reached = []
    for scope in [""] + t.scopes():
        children = t.local_scopes(scope)
        assert children == expected_children.get(scope, []), scope
        assert set(children) <= set(t.scopes())
        reached += t.local_signals(scope)
        assert main(["scopes", os.path.join(FIXTURES, path), scope, "--json"]) == 0
        listed = json.loads(capsys.readouterr().out)
        assert (listed["scopes"], listed["signals"]) == (children, t.local_signals(scope))
    assert sorted(reached) == sorted(t.signal_names())  # every signal lies in exactly one scope
    assert [s.split(" [")[0] for s in t.local_signals("top.\\u.1 ")] == ["top.\\u.1 .clk", "top.\\u.1 .q"]
    assert t.local_signals("top") == ["top.clk", "top.\\sig.dot"]
    # The escaped name reads in expressions too, as in Verilog: a space ends the escaped element.
    assert t.find(t.expr("top.\\u.1 .q == 2")) == t.find(t.expr("q == 2", "top.\\u.1 "))
    assert t.find(t.expr("top.\\u.1 .q == 2")) != []
    assert sorted(t.snapshot_scope(0, "top.u")) == sorted(n[len("top.u."):] for n in t.local_signals("top.u"))
