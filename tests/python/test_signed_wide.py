"""signed() of registers wider than 64 bits, on the traces Icarus wrote from
tests/fixtures/signed/wide_signed.v: every comparison is checked at every index against Python's
own integers, read from the unsigned values and the declared widths.

Samples 0..8:  s65   1, -1, 2**63, -2**64, 2**64 - 1, -30, -2**63, 2**63 - 1, same
               s96   5, -1, 2**63, -2**95, 2**95 - 1, -30, -2**64 - 5, 2**64 + 5, same
               s128  0, -1, 2**63, -2**127, 2**127 - 1, -30, -2**100, 2**100, same
               u64   3, 2**64 - 1, 2**63, 0, 0, 30, 5, 5, same (unsigned)
               s8    5, -1, 127, -128, 0, -30, -30, -30, same
"""
import operator
import pathlib

import pytest

import quor
from quor import PyExpr as E
from quor.exprlang import ExprError

SIGNED = pathlib.Path(__file__).resolve().parents[1] / "fixtures" / "signed"
SCOPE = "wide_signed"
OPS = {"<": operator.lt, ">": operator.gt, "<=": operator.le, ">=": operator.ge, "==": operator.eq, "!=": operator.ne}


@pytest.fixture(scope="module", params=["wide_signed.vcd", "wide_signed.fst"])
def trace(request):
    path = str(SIGNED / request.param)
    return quor.open(path)


def full_name(t, short):
    # FST names carry the bit range ("wide_signed.s96 [95:0]"); VCD names do not.
    (name,) = [n for n in t.signal_names() if n == f"{SCOPE}.{short}" or n.startswith(f"{SCOPE}.{short} ")]
    return name


def numbers(t, short, signed):
    """The signal's number at every index, from its unsigned value and declared width."""
    name = full_name(t, short)
    width = t.signal_width(name)
    values = [t.signal_value(name, i) for i in range(t.max_index() + 1)]
    if not signed:
        return values
    return [v - (1 << width) if v >> (width - 1) & 1 else v for v in values]


def holds(t, expr):
    found = t.find(expr)
    assert t.parallel_find(expr) == found
    assert t.parallel_count(expr) == len(found)
    assert found == [i for i in range(t.max_index() + 1) if t.eval_expr_bool(expr, i)]
    return found


def test_eval_expr_gives_the_whole_signed_number(trace):
    assert numbers(trace, "s96", True)[:7] == [5, -1, 2**63, -(2**95), 2**95 - 1, -30, -(2**64) - 5]
    for short in ("s65", "s96", "s128", "s8"):
        sig = E.signal(trace.signal_id(full_name(trace, short)))
        expected = numbers(trace, short, True)
        assert [trace.eval_expr(sig.signed(), i) for i in range(len(expected))] == expected, short
        assert [trace.eval_expr(sig.rel_eval(-1).signed(), i) for i in range(1, len(expected))] == expected[:-1]


# Right-hand operands: literals of every size and sign, and signals read signed or not.
LITERALS = [0, 1, -1, -30, 2**63, -(2**63), 2**64 - 1, -(2**64), 2**95 - 1, -(2**95), -(2**95) - 1, 2**100,
            -(2**127), 2**200, -(2**200)]
SIGNALS = [("u64", False), ("s8", True), ("s96", True), ("s65", False), ("s128", True)]


@pytest.mark.parametrize("left", ["s65", "s96", "s128"])
def test_comparisons_with_a_signed_wide_operand_are_whole(trace, left):
    a = numbers(trace, left, True)
    for op, compare in OPS.items():
        for literal in LITERALS:
            text = f"signed({left}) {op} {literal}"
            assert holds(trace, trace.expr(text, SCOPE)) == [i for i, x in enumerate(a) if compare(x, literal)], text
            mirrored = f"{literal} {op} signed({left})"
            assert holds(trace, trace.expr(mirrored, SCOPE)) == [i for i, x in enumerate(a) if compare(literal, x)]
        for right, signed in SIGNALS:
            text = f"signed({left}) {op} " + (f"signed({right})" if signed else right)
            b = numbers(trace, right, signed)
            assert holds(trace, trace.expr(text, SCOPE)) == [i for i, (x, y) in enumerate(zip(a, b)) if compare(x, y)], text


def test_builders_and_reals(trace):
    s96 = E.signal(trace.signal_id(full_name(trace, "s96"))).signed()
    a = numbers(trace, "s96", True)
    cases = [
        # An unsigned constant is its own number beside a wide signed operand: 2**64 - 1, not -1.
        (s96.eq_(E.const_int(2**64 - 1)), [i for i, x in enumerate(a) if x == 2**64 - 1]),
        (s96.gt_(E.const_int(2**64 - 1)), [i for i, x in enumerate(a) if x > 2**64 - 1]),
        # signed() of a wide constant reads its words as two's complement.
        (s96.eq_(E.const_wide(2**128 - 1).signed()), [i for i, x in enumerate(a) if x == -1]),
        (s96.lt_(E.const_wide(2**128 - 2**64 - 5).signed()), [i for i, x in enumerate(a) if x < -(2**64) - 5]),
        # Beside a real the number converts to the nearest float: 2**95 - 1 becomes 2**95.
        (s96.lt_(E.const_float(-0.5)), [i for i, x in enumerate(a) if x < -0.5]),
        (s96.gte(E.const_float(2.0**95)), [i for i, x in enumerate(a) if float(x) >= 2.0**95]),
        (E.const_float(-1e30).lt_(s96), [i for i, x in enumerate(a) if -1e30 < x]),
    ]
    for expr, expected in cases:
        assert holds(trace, expr) == expected


def test_narrow_signed_comparisons_keep_the_64_bit_reading(trace):
    # Beside a signed operand of at most 64 bits both sides read as signed 64-bit numbers.
    s8 = numbers(trace, "s8", True)
    minus_one = E.signal(trace.signal_id(full_name(trace, "s8"))).signed().eq_(E.const_int(2**64 - 1))
    assert holds(trace, minus_one) == [i for i, x in enumerate(s8) if x == -1]
    as_int64 = [u - 2**64 if u >= 2**63 else u for u in numbers(trace, "u64", False)]
    assert as_int64[1:3] == [-1, -(2**63)]
    expected = [i for i, (x, y) in enumerate(zip(s8, as_int64)) if x < y]
    assert holds(trace, trace.expr("signed(s8) < u64", SCOPE)) == expected


def test_expression_language_numbers_beside_signed_operands(trace):
    for text in ("signed(s96) < -9223372036854775809", "signed(s96[80:0]) > 9223372036854775808",
                 "signed(prev(s128)) == -170141183460469231731687303715884105728"):
        trace.expr(text, SCOPE)
    for text in ("signed(s8) < -9223372036854775809", "signed(u64) > 9223372036854775808",
                 "signed(s96[63:0]) > 9223372036854775808"):
        with pytest.raises(ExprError, match="out of the signed 64-bit range"):
            trace.expr(text, SCOPE)


def test_stats_read_the_unsigned_values(trace):
    name = full_name(trace, "s96")
    values = numbers(trace, "s96", False)
    assert trace.signal_stats(name)[:3] == (min(values), max(values), sum(values))
