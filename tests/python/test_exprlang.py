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
        ("18446744073709551616", "number 18446744073709551616 does not fit in 64 bits", 0),
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
