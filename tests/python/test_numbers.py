"""Comparisons, slices and statistics over numbers the 64-bit unsigned reading gets wrong:
signed registers that go negative, reals (1.5, NaN, -1.5) and a 96-bit register, on the traces
Icarus wrote from tests/fixtures/numbers/numbers.v.

Samples 0..5:  color (signed 8)  10, -30, 30, -128, 127, 127
               temp (signed 16)  100, -1, -1, -300, -300, -300
               rl (real)         0.0, 1.5, nan, -1.5, 1.0, 1.0
               wide (96 bits)    5, 5, 2**64 + 5, 2**96 - 1, 2**65, 2**65
               big (64 bits)     3, then 2**64 - 1
"""
import math
import pathlib

import pytest

import quor
from quor import PyExpr as E

NUMBERS = pathlib.Path(__file__).resolve().parents[1] / "fixtures" / "numbers"
MINUS = 2**64  # E.const_int(MINUS - n) is -n to a signed operand


@pytest.fixture(scope="module", params=["numbers.vcd", "numbers.fst"])
def trace(request):
    path = str(NUMBERS / request.param)
    return quor.open(path)


def sig(t, short):
    # FST names carry the bit range ("numbers.color [7:0]"); VCD names do not.
    (name,) = [n for n in t.signal_names() if n == f"numbers.{short}" or n.startswith(f"numbers.{short} ")]
    return E.signal(t.signal_id(name)), name


def holds(t, expr):
    found = t.find(expr)
    assert t.parallel_find(expr) == found
    assert t.parallel_count(expr) == len(found)
    assert found == [i for i in range(t.max_index() + 1) if t.eval_expr_bool(expr, i)]
    return found


def test_signed_compares_signed(trace):
    color, _ = sig(trace, "color")
    temp, _ = sig(trace, "temp")
    cases = [
        (color.signed().lt_(E.const_int(0)), [1, 3]),
        (color.gt_(E.const_int(127)), [1, 3]),  # unsigned: -30 reads 226
        (color.signed().eq_(E.const_int(MINUS - 30)), [1]),
        (color.signed().gte(E.const_int(MINUS - 30)), [0, 1, 2, 4, 5]),
        (E.const_int(MINUS - 100).gt_(color.signed()), [3]),
        (temp.signed().lte(E.const_int(MINUS - 300)), [3, 4, 5]),
        (color.signed().lt_(temp.signed()), [0, 1]),
        (color.signed().rel_eval(-1).lt_(E.const_int(0)), [2, 4]),
        (color.signed().lt_(E.const_float(-29.5)), [1, 3]),
    ]
    for expr, expected in cases:
        assert holds(trace, expr) == expected


def test_eval_expr_of_signed_is_negative(trace):
    color, _ = sig(trace, "color")
    temp, _ = sig(trace, "temp")
    assert [trace.eval_expr(color.signed(), i) for i in range(6)] == [10, -30, 30, -128, 127, 127]
    assert trace.eval_expr(temp.signed(), 3) == -300
    assert trace.eval_expr(color, 1) == 226
    assert trace.eval_expr(color.signed().rel_eval(1), 2) == -128
    assert trace.eval_expr(color.signed().add(E.const_int(30)), 3) == 2**64 - 98  # arithmetic stays unsigned


def test_expression_language(trace):
    cases = [
        ("signed(color) < 0", [1, 3]),
        ("signed(color) == -30", [1]),
        ("-100 > signed(color)", [3]),
        ("signed(prev(temp)) <= -300", [4, 5]),
        ("rl == 1", [4, 5]),
        ("rl > 1", [1]),
        ("rl != rl", [2]),
        ("big == 18446744073709551615", [1, 2, 3, 4, 5]),
    ]
    for text, expected in cases:
        assert holds(trace, trace.expr(text, "numbers")) == expected, text


def test_reals_compare_as_reals(trace):
    rl, _ = sig(trace, "rl")
    nan = E.const_float(math.nan)
    cases = [
        (rl.eq_(E.const_int(1)), [4, 5]),
        (rl.neq(E.const_int(1)), [0, 1, 2, 3]),
        (rl.gt_(E.const_int(1)), [1]),
        (rl.lt_(E.const_int(0)), [3]),
        (rl.gte(rl), [0, 1, 3, 4, 5]),
        (rl.eq_(rl), [0, 1, 3, 4, 5]),
        (rl.neq(rl), [2]),
        (rl.lt_(nan), []),
        (rl.neq(nan), [0, 1, 2, 3, 4, 5]),
        (rl.signed().lt_(E.const_int(0)), [3]),
    ]
    for expr, expected in cases:
        assert holds(trace, expr) == expected
    assert trace.eval_expr(rl.signed(), 3) == -1.5


def test_stats_sum_is_exact(trace):
    _, big = sig(trace, "big")
    _, color = sig(trace, "color")
    assert trace.signal_stats(big) == (3, 2**64 - 1, 3 + 5 * (2**64 - 1), 6, 1, 0, 0)
    assert trace.signal_stats(color) == (10, 226, 648, 6, 4, 0, 0)


def wide_loaded(t):
    _, wide = sig(t, "wide")
    return t.signal_value(wide, 2) == 2**64 + 5


def test_wide_values_are_whole_numbers(trace):
    if not wide_loaded(trace):
        pytest.skip("this loader reads vectors wider than 64 bits as their low 64 bits")
    wide, name = sig(trace, "wide")
    cases = [
        (wide.eq_(E.const_int(5)), [0, 1]),
        (wide.eq_(E.const_wide(2**64 + 5)), [2]),
        (wide.lt_(E.const_wide(2**96 - 1)), [0, 1, 2, 4, 5]),
        (trace.expr("wide[95:64] == 2", "numbers"), [4, 5]),
        (wide.neq(wide.rel_eval(-1)), [0, 2, 3, 4]),  # no sample before 0
        (wide.gt_(E.const_int(2**64 - 1)), [2, 3, 4, 5]),
        (wide.slice(95, 64).eq_(E.const_int(1)), [2]),
        (wide.slice(67, 60).eq_(E.const_int(0x10)), [2]),
        (wide.bit_and(E.const_int(0xFF)).eq_(E.const_int(5)), [0, 1, 2]),  # the low 64 bits
    ]
    for expr, expected in cases:
        assert holds(trace, expr) == expected
    assert [trace.eval_expr(wide.slice(95, 64), i) for i in range(6)] == [0, 0, 1, 2**32 - 1, 2, 2]
    assert [i for i, _, _ in trace.transitions(name)] == [2, 3, 4]
    assert trace.signal_stats(name) == (5, 2**96 - 1, 10 + 2**64 + 5 + 2**96 - 1 + 2 * 2**65, 6, 3, 0, 0)
