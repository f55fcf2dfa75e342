"""Values wider than 64 bits, nine-valued logic and short bit strings, on traces written by
Icarus (registers of 65 to 200 bits whose changes lie above bit 63) and GHDL (std_logic stepping
through U X 0 1 Z W L H -), each to VCD and to FST (tests/fixtures/values), and on small texts.
"""
import pathlib
import random
import re

import pytest

import quor
from quor import PyExpr, PyTrace

VALUES = pathlib.Path(__file__).resolve().parents[1] / "fixtures" / "values"
LOW64 = (1 << 64) - 1


def load(name):
    path = str(VALUES / name)
    return quor.open(path)


def leaf(name):
    """The signal's own name: FST names keep their range, GHDL's FST has no top scope."""
    return re.sub(r"\s*\[[^\]]*\]$", "", name).rsplit(".", 1)[-1]


def by_leaf(trace):
    return {leaf(n): n for n in trace.signal_names()}


@pytest.mark.parametrize("vcd,fst", [
    ("wide.vcd", "wide.fst"),
    ("wide.vcd", "wide.vcd2fst.fst"),
    ("dumpctl.vcd", "dumpctl.fst"),
    ("logic9.vcd", "logic9.fst"),
])
def test_vcd_and_fst_read_alike_at_every_index(vcd, fst):
    a, b = load(vcd), load(fst)
    names_a, names_b = by_leaf(a), by_leaf(b)
    assert sorted(names_a) == sorted(names_b)
    assert a.max_index() == b.max_index()
    for key, name in names_a.items():
        other = names_b[key]
        assert a.signal_width(name) == b.signal_width(other), key
        for i in range(a.max_index() + 1):
            x, y = a.signal_value(name, i), b.signal_value(other, i)
            assert (type(x), x) == (type(y), y), (key, i)
            assert a.signal_value_raw(name, i) == b.signal_value_raw(other, i), (key, i)
        assert a.signal_stats(name) == b.signal_stats(other), key
        assert a.transitions(name) == b.transitions(other), key
        # Runs too: a std_logic scalar at U is no value through either format, not the bit 'x'.
        starts_a, values_a = a.signal_runs(name)
        starts_b, values_b = b.signal_runs(other)
        assert (list(starts_a), list(values_a)) == (list(starts_b), list(values_b)), key


@pytest.fixture(scope="module", params=["wide.vcd", "wide.fst", "wide.vcd2fst.fst"])
def wide(request):
    trace = load(request.param)
    return trace, by_leaf(trace)


def test_wide_registers_are_whole_numbers(wide):
    t, n = wide
    # Sampled every 5 ns; the test bench changes the registers every 10 ns from 10 ns on.
    assert t.signal_values_range(n["r65"], 0, 14) == [0, 0, 1 << 64, 1 << 64] + [0] * 6 + [1 << 64] * 2 + [0] * 2
    assert t.signal_value(n["r96"], 2) == 0xDEADBEEF << 64
    assert t.signal_value(n["r96"], 4) is None  # an x in the upper word only
    assert t.signal_value(n["r96"], 6) == (1 << 64) + 5
    assert t.signal_value(n["r96"], 8) == (2 << 64) + 5
    assert t.signal_value(n["r128"], 4) == 1 << 127
    assert t.signal_value(n["r200"], 6) == (1 << 199) + 7
    assert t.signal_value(n["r200"], 8) is None  # a z bit
    assert t.signal_value(n["r64"], 4) == LOW64
    # The low 64 bits only.
    assert t.signal_value_raw(n["r96"], 6) == 5
    assert t.signal_value_raw(n["r128"], 4) == 0
    assert t.snapshot(6)[n["r200"]] == (1 << 199) + 7
    sig = PyExpr.signal(t.signal_id(n["r128"]))
    assert t.eval_expr(sig, 4) == 1 << 127


def test_changes_above_bit_63_are_changes(wide):
    t, n = wide
    assert t.transitions(n["r65"]) == [(2, 0, 1 << 64), (4, 1 << 64, 0), (10, 0, 1 << 64), (12, 1 << 64, 0),
                                       (14, 0, 1 << 64), (16, 1 << 64, 0)]
    # r96 goes from 2**64 + 5 to 2 * 2**64 + 5; r128 is written with its own value at index 6.
    assert (8, (1 << 64) + 5, (2 << 64) + 5) in t.transitions(n["r96"])
    assert [i for i, _, _ in t.transitions(n["r128"])] == [2, 4, 8, 10, 12, 14, 16]
    changed = {leaf(name): (old, new) for name, old, new in t.changed_at(2)}
    assert changed["r65"] == (0, 1 << 64) and changed["r128"] == (0, 1 << 64)
    assert "r128" not in {leaf(name) for name, _, _ in t.changed_at(6)}
    # min, max, sum, count, transitions, x bits, z bits
    assert t.signal_stats(n["r65"])[4] == 6


def test_searches_over_wide_values_match_evaluation_at_each_index(wide):
    t, n = wide
    r65 = PyExpr.signal(t.signal_id(n["r65"]))
    r64 = PyExpr.signal(t.signal_id(n["r64"]))
    exprs = [r65.neq(r65.rel_eval(-1)), r65.eq_(PyExpr.const_int(0)), r64.eq_(PyExpr.const_int(LOW64)).and_(r65.eq_(r65))]
    for expr in exprs:
        want = [i for i in range(t.max_index() + 1) if t.eval_expr_bool(expr, i)]
        assert t.find(expr) == want
        assert t.parallel_find(expr) == want
        assert t.parallel_count(expr) == len(want)


def test_short_bit_strings_extend_to_the_declared_width(wide):
    t, n = wide
    # Icarus writes `bx` for the 32-bit integer and `bz` for the 8-bit register: all bits count.
    x_samples = sum(t.signal_value(n["i"], k) is None for k in range(t.max_index() + 1))
    assert t.signal_stats(n["i"])[5] == 32 * x_samples
    assert t.signal_stats(n["nib"])[6] == 8 * 4  # `bz` over indices 0-3
    # `b1x01` is 00001x01, then `bx` eight x bits: one x, then eight, at two indices each.
    assert t.signal_stats(n["nib"])[5] == 2 * 1 + 8 * (t.max_index() + 1 - 8)


@pytest.fixture(scope="module", params=["logic9.vcd", "logic9.fst"])
def logic9(request):
    trace = load(request.param)
    return trace, by_leaf(trace)


def test_nine_valued_logic(logic9):
    t, n = logic9
    # sl: U X 0 1 Z W L H - U 1
    assert [t.signal_value(n["sl"], i) for i in range(11)] == [None, None, 0, 1, None, None, 0, 1, None, None, 1]
    # slv: UUUUUUUU LH-U0101 WWWWLLHH ZZZZ0000 HHHHLLLL XXXXXXXX -0-1-0-1 0000LLLL HLHLHLHL UUUU0000 00000101
    assert [t.signal_value(n["slv"], i) for i in range(11)] == [None, None, None, None, 0xF0, None, None, 0, 0xAA, None, 5]
    assert t.signal_values_range(n["hl"], 0, 5) == [0, 1, 2, 4, 8]
    assert t.signal_value(n["wide"], 1) == 1 << 69  # H then 69 L
    assert t.signal_value(n["wide"], 4) == (1 << 70) - 1
    # Unknown bits of each word above (U, W, X and - all count), one sample each.
    assert t.signal_stats(n["slv"])[5] == 8 + 2 + 4 + 0 + 0 + 8 + 4 + 0 + 0 + 4 + 0
    assert t.signal_stats(n["slv"])[6] == 4


def vcd(declarations, changes):
    return PyTrace.from_vcd_string(declarations + "$enddefinitions $end\n" + changes)


@pytest.mark.parametrize("width,written,expected", [
    (4, "b101010", 42),                       # longer than declared: every character counts
    (4, "b" + "1" * 70, (1 << 70) - 1),
    (8, "b1", 1),
    (65, "b1", 1),
    (128, "b1" + "0" * 127, 1 << 127),
    (96, "bx", None),
    (8, "bLH01", 5),
    (8, "bhl", 2),
    (8, "bUUUUUUUU", None),
    (8, "bLH-U0101", None),
    (8, "bW", None),
    (0, "b11", 3),                            # width 0: strings; nothing to extend to
    (1, "H", 1), (1, "h", 1), (1, "L", 0), (1, "l", 0),
    (1, "U", None), (1, "u", None), (1, "W", None), (1, "-", None), (1, "X", None),
])
def test_written_values(width, written, expected):
    line = f"{written} !" if written.startswith("b") else f"{written}!"
    t = vcd(f"$var wire {width} ! s $end\n", f"#0\n{line}\n#1\n")
    got = t.signal_value("s", 0)
    assert (type(got), got) == (type(expected), expected)
    assert t.signal_value("s", 1) == expected
    assert t.signal_width("s") == width


@pytest.mark.parametrize("width,first,second,x_bits", [
    (8, "bx", "bxxxxxxxx", 8),
    (8, "bz", "bzzzzzzzz", 0),
    (8, "b0x", "b0000000x", 1),
    (8, "b1", "b00000001", 0),
    # One bit: the scalar and the vector spelling of x are one value (no value), and of z too.
    (1, "x", "bx", 1),
    (1, "X", "bU", 1),
    (1, "U", "b-", 1),
    (1, "z", "bZ", 0),
    (1, "1", "bH", 0),
])
def test_spellings_of_one_value_are_one_value(width, first, second, x_bits):
    def line(written):
        return f"{written} !" if written[0] in "bB" else f"{written}!"
    t = vcd(f"$var wire {width} ! s $end\n", f"#0\n{line(first)}\n#1\n{line(second)}\n#2\n{line(first)}\n")
    assert t.transitions("s") == []
    assert t.signal_stats("s")[5] == 3 * x_bits
    runs = t.signal_runs("s")
    assert list(runs[0]) == [0]


def test_a_million_characters_load_in_linear_time():
    bits = "1" + "0" * 999_998 + "1"
    t = vcd("$var wire 1000000 ! s $end\n", f"#0\nb{bits} !\n#1\nb{bits[:-1]}x !\n#2\nb1 !\n")
    assert t.signal_value("s", 0) == (1 << 999_999) + 1
    assert t.signal_value("s", 1) is None
    assert t.signal_value("s", 2) == 1
    assert t.signal_stats("s")[5] == 1


def test_a_huge_declared_width_allocates_nothing_for_short_strings():
    # A width is a number read from the file: extending "bx" to it must not take gigabytes.
    t = vcd("$var wire 4000000000 ! s $end\n", "#0\nbx !\n#1\nb1 !\n")
    assert t.signal_width("s") == 4000000000
    assert t.signal_value("s", 0) is None
    assert t.signal_value("s", 1) == 1


@pytest.mark.parametrize("width", [65, 96, 127, 128, 129, 192, 255, 256, 300])
def test_wide_numbers_reach_python_whole(width):
    # Random values plus the edges of each word: every bit of every word must land in the int,
    # read unsigned and through signed() as the two's-complement number.
    rng = random.Random(width)
    values = [0, 1, (1 << width) - 1, 1 << (width - 1), (1 << 64) - 1, 1 << 64, (1 << (width - 1)) - 1]
    values += [rng.getrandbits(width) for _ in range(20)]
    t = vcd(f"$var wire {width} ! w $end\n",
            "".join(f"#{i}\nb{v:b} !\n" for i, v in enumerate(values)))
    signed = PyExpr.signal(t.signal_id("w")).signed()
    for i, v in enumerate(values):
        assert t.signal_value("w", i) == v
        assert t.eval_expr(signed, i) == (v - (1 << width) if v >> (width - 1) else v)
