"""The expression language of `quor find`: text to syntax tree, and errors with a caret."""

import pytest

from quor.exprlang import ExprError, parse

KNOWN = {"mem[3]", "top.mem[0]"}


def known(name):
    return name in KNOWN


def sig(name, pos):
    return ("sig", name, pos)


@pytest.mark.parametrize(
    "text, tree",
    [
        ("a", sig("a", 0)),
        ("42", ("int", 42)),
        ("0x1F", ("int", 31)),
        ("0b101", ("int", 5)),
        ("1_000", ("int", 1000)),
        ("top.cpu.pc == 7", ("==", sig("top.cpu.pc", 0), ("int", 7))),
        ("a == 1 && b > 3", ("&&", ("==", sig("a", 0), ("int", 1)), (">", sig("b", 10), ("int", 3)))),
        ("a || b && c", ("||", sig("a", 0), ("&&", sig("b", 5), sig("c", 10)))),
        ("a | b ^ c & d", ("|", sig("a", 0), ("^", sig("b", 4), ("&", sig("c", 8), sig("d", 12))))),
        ("a + b - c", ("-", ("+", sig("a", 0), sig("b", 4)), sig("c", 8))),
        ("a + 1 < b", ("<", ("+", sig("a", 0), ("int", 1)), sig("b", 8))),
        ("a <= b != c >= d", ("!=", ("<=", sig("a", 0), sig("b", 5)), (">=", sig("c", 10), sig("d", 15)))),
        ("!a", ("not", sig("a", 1))),
        ("!!a", ("not", ("not", sig("a", 2)))),
        ("(a || b) && c", ("&&", ("||", sig("a", 1), sig("b", 6)), sig("c", 12))),
        ("sig[7:4]", ("slice", sig("sig", 0), 7, 4)),
        ("sig[3]", ("slice", sig("sig", 0), 3, 3)),
        ("mem[3]", sig("mem[3]", 0)),
        ("mem[3][1:0]", ("slice", sig("mem[3]", 0), 1, 0)),
        ("top.mem[0] == 1", ("==", sig("top.mem[0]", 0), ("int", 1))),
        ("mem[4]", ("slice", sig("mem", 0), 4, 4)),
        ("signed(a)", ("signed", sig("a", 7))),
        ("isx(a) || isz(b)", ("||", ("isx", sig("a", 4)), ("isz", sig("b", 14)))),
        ("prev(a) != a", ("!=", ("rel", sig("a", 5), -1), sig("a", 11))),
        ("next(a)", ("rel", sig("a", 5), 1)),
        ("a@-2", ("rel", sig("a", 0), -2)),
        ("a@+3 == a@2", ("==", ("rel", sig("a", 0), 3), ("rel", sig("a", 8), 2))),
        ("prev", sig("prev", 0)),
        ("\\esc$name", sig("\\esc$name", 0)),
        ("8'hff", ("int", 255)),
        ("'h10", ("int", 16)),
        ("4'b1010", ("int", 10)),
        ("'d5", ("int", 5)),
        ("'o17", ("int", 15)),
        ("16'HdE_aD", ("int", 0xDEAD)),
        ("1_6'b1", ("int", 1)),
        ("96'h1_0000_0000_0000_0000", ("int", 2**64)),
        ("18446744073709551616", ("int", 2**64)),
        ("0x1" + "0" * 40, ("int", 2**160)),
        ("1.5", ("real", 1.5)),
        ("2e3", ("real", 2000.0)),
        ("1_0.2_5E-1", ("real", 1.025)),
        ("r < -0.5", ("<", sig("r", 0), ("real", -0.5))),
        ("signed(a) < -30", ("<", ("signed", sig("a", 7)), ("int", -30))),
        ("-30 > signed(a)", (">", ("int", -30), ("signed", sig("a", 13)))),
        ("signed(a) == 8'sh80", ("==", ("signed", sig("a", 7)), ("int", -128))),
        ("signed(a) == 8'sh7f", ("==", ("signed", sig("a", 7)), ("int", 127))),
        ("a - 1", ("-", sig("a", 0), ("int", 1))),
        ("a-1", ("-", sig("a", 0), ("int", 1))),
        ("!(a)[3]", ("not", ("slice", sig("a", 2), 3, 3))),
        ("signed(a)[7:4]", ("slice", ("signed", sig("a", 7)), 7, 4)),
        ("signed(a)@-1 < -3", ("<", ("rel", ("signed", sig("a", 7)), -1), ("int", -3))),
        ("-3 > prev(signed(a))", (">", ("int", -3), ("rel", ("signed", sig("a", 17)), -1))),
        ("(a || b)@-1", ("rel", ("||", sig("a", 1), sig("b", 6)), -1)),
        ("a == 1 || b == 2 && c", ("||", ("==", sig("a", 0), ("int", 1)),
                                   ("&&", ("==", sig("b", 10), ("int", 2)), sig("c", 20)))),
        ("!a == !b", ("==", ("not", sig("a", 1)), ("not", sig("b", 7)))),
    ],
)
def test_parse(text, tree):
    assert parse(text, known) == tree


@pytest.mark.parametrize(
    "text, message, position",
    [
        ("", "empty expression", 0),
        ("(a", "expected ')', found the end", 2),
        ("a ==", "unexpected end of expression", 4),
        ("a b", "unexpected 'b'", 2),
        ("a # b", "unexpected character '#'", 2),
        ("a[x]", "expected a bit index", 2),
        ("a[3:1", "expected ']', found the end", 5),
        ("a@b", "expected a sample offset", 2),
        ("0x", "bad number '0x'", 0),
        ("12ab", "bad number '12ab'", 0),
        ("4'hff", "number 4'hff does not fit in 4 bits", 0),
        ("0'h0", "number 0'h0 has a size of 0 bits", 0),
        ("a == 4'bx01", "x and z digits are not supported in numbers; use isx() or isz()", 5),
        ("8'hfg", "bad number '8'hfg'", 0),
        ("'h", "bad number ''h'", 0),
        ("'sh80", "signed number 'sh80 needs a size, as in 8'sh80", 0),
        ("1.5.2", "bad number '1.5.2'", 0),
        ("2e", "bad number '2e'", 0),
        ("a == -1", "a negative number compares only with a signed operand, as in signed(x) < -3", 5),
        ("-1", "a negative number compares only with a signed operand, as in signed(x) < -3", 0),
        ("a + -1 > 0", "a negative number compares only with a signed operand, as in signed(x) < -3", 4),
        ("!-1 == signed(a)", "a negative number compares only with a signed operand, as in signed(x) < -3", 1),
        ("-1 < -2", "a negative number compares only with a signed operand, as in signed(x) < -3", 0),
        ("signed(a)[7:4] < -1", "a negative number compares only with a signed operand, as in signed(x) < -3", 17),
        ("signed(a) < 9223372036854775808", "number out of the signed 64-bit range", 12),
        ("signed(a) < -9223372036854775809", "number out of the signed 64-bit range", 12),
        ("- a", "expected a number after '-'", 2),
        ("a[99999999999999999999]", "a bit index out of range", 2),
        ("isx(a b", "expected ')', found 'b'", 6),
        ("(a))", "unexpected ')'", 3),
        ("isx(a", "expected ')', found the end", 5),
        (")", "unexpected ')'", 0),
    ],
)
def test_errors_point_at_the_fault(text, message, position):
    with pytest.raises(ExprError) as err:
        parse(text, known)
    assert err.value.message == message
    assert err.value.position == position
    lines = str(err.value).splitlines()
    assert lines[0] == message
    assert lines[2].index("^") - 2 == position


@pytest.mark.parametrize(
    "text, depth",
    [
        ("(" * 10_000 + "a" + ")" * 10_000, 0),
        ("!" * 10_000 + "a", 10_000),
        ("signed(" * 5_000 + "a" + ")" * 5_000, 5_000),
    ],
)
def test_nesting_is_limited_by_memory_only(text, depth):
    tree = parse(text, known)
    for _ in range(depth):
        tree = tree[1]
    assert tree == sig("a", text.index("a"))


def test_unclosed_deep_nesting_is_one_error():
    with pytest.raises(ExprError) as err:
        parse("(" * 100_000 + "a")
    assert err.value.message == "expected ')', found the end"
