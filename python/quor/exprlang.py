"""The expression language of `quor find`, parsed into PyExpr trees.

    expr    := or
    or      := and ('||' and)*
    and     := bitor ('&&' bitor)*
    bitor   := bitxor ('|' bitxor)*
    bitxor  := bitand ('^' bitand)*
    bitand  := equal ('&' equal)*
    equal   := compare (('==' | '!=') compare)*
    compare := sum (('<' | '>' | '<=' | '>=') sum)*
    sum     := unary (('+' | '-') unary)*
    unary   := '!' unary | '-' number | postfix
    postfix := primary ('[' int (':' int)? ']' | '@' ['+'|'-'] int)*
    primary := number | name | '(' expr ')' | func '(' expr ')'
    func    := signed | isx | isz | prev | next

Integers are decimal, 0x hexadecimal, 0b binary or Verilog based literals (8'hff, 'h10,
4'b1010, 'd5, 'o17, 8'sh80), of any size, with _ between digits; reals are 1.5, 2e-3 or
1.5e3. A negative integer compares only with a signed() operand, whose side it joins as a
signed number: of 64 bits, unless the signed operand is wider (a signal or slice of more than
64 bits), when it may be of any size. A name is a full signal name, or a short name resolved
within a scope; an escaped element ends at a space before the next dot (top.\\u.1 .q). A
bracket group after a name is part of the name when the trace knows a signal of that name (an
array element such as mem[3]); otherwise it selects bits.

The parser keeps its own stacks instead of recursing, so nesting is limited only by memory.
"""

from __future__ import annotations

import re
from dataclasses import dataclass
from typing import Any, Callable, List, Optional, Set, Tuple, Union

from ._core import PyExpr, PyTrace
from ._suggest import did_you_mean


class ExprError(ValueError):
    """A syntax or name error, with the position of the offending character."""

    def __init__(self, message: str, text: str, position: int):
        self.message = message
        self.text = text
        self.position = position
        super().__init__(f"{message}\n  {text}\n  {' ' * position}^")


# The syntax tree: small tuples, so tests can state expected trees literally.
#   ("sig", name, pos) ("int", value) ("real", value) ("not", x) ("signed"|"isx"|"isz", x)
#   ("rel", x, offset) ("slice", x, high, low) (op, left, right) for binary operators
# An ("int", value) is negative only as an operand of a comparison with a ("signed", x).
Node = Tuple[Any, ...]


@dataclass
class _Token:
    kind: str  # "int", "real", "name", "op", "end"
    text: str
    pos: int
    value: Union[int, float] = 0


_OPERATORS = ("==", "!=", "<=", ">=", "&&", "||", "<", ">", "!", "+", "-", "&", "|", "^", "(", ")", "[", "]",
              ":", "@")
_FUNCTIONS = ("signed", "isx", "isz", "prev", "next")

# Numbers, tried in this order where a token starts with a digit or a quote.
_BASED = re.compile(r"([0-9][0-9_]*)?'([sS]?)([bBoOdDhH])([0-9a-zA-Z_?]*)")
_REAL = re.compile(r"[0-9][0-9_]*(?:\.[0-9][0-9_]*(?:[eE][+-]?[0-9][0-9_]*)?|[eE][+-]?[0-9][0-9_]*)")
_PLAIN = re.compile(r"[0-9][0-9a-zA-Z_]*")
_NUMBER_TAIL = re.compile(r"[0-9a-zA-Z_'.?]*")
_BASES = {"b": 2, "o": 8, "d": 10, "h": 16}

# Signed 64-bit range: where a number meets a signed operand it must fit there.
_SIGNED_MIN = -(2**63)
_SIGNED_LIMIT = 2**63


def _is_name_start(c: str) -> bool:
    return c.isalpha() or c in "_$\\"


def _is_name_char(c: str) -> bool:
    return c.isalnum() or c in "_$.\\"


def _number(text: str, start: int) -> _Token:
    """The number token at start (a digit or a quote); ExprError when it is malformed."""
    for pattern in (_BASED, _REAL, _PLAIN):
        m = pattern.match(text, start)
        if m:
            break
    end = m.end() if m else start
    tail = _NUMBER_TAIL.match(text, end)
    word = text[start : tail.end() if tail else end]
    if m is None or (tail is not None and tail.end() > end):
        raise ExprError(f"bad number '{word}'", text, start)
    if pattern is _REAL:
        return _Token("real", word, start, float(word.replace("_", "")))
    if pattern is _BASED:
        return _Token("int", word, start, _based_value(m, word, text, start))
    digits = word.replace("_", "")
    try:
        if digits[:2].lower() == "0x":
            value = int(digits[2:], 16)
        elif digits[:2].lower() == "0b":
            value = int(digits[2:], 2)
        else:
            value = int(digits, 10)
    except ValueError:
        raise ExprError(f"bad number '{word}'", text, start) from None
    return _Token("int", word, start, value)


def _based_value(m: "re.Match[str]", word: str, text: str, start: int) -> int:
    """The value of a Verilog based literal such as 8'hff, 'd5 or 8'sh80 (negative)."""
    size_text, signed, base, digits = m.groups()
    digits = digits.replace("_", "")
    if any(c in "xXzZ?" for c in digits):
        raise ExprError("x and z digits are not supported in numbers; use isx() or isz()", text, start)
    try:
        value = int(digits, _BASES[base.lower()])
    except ValueError:  # no digits, or a digit the base does not have
        raise ExprError(f"bad number '{word}'", text, start) from None
    if size_text is None:
        if signed:
            raise ExprError(f"signed number {word} needs a size, as in 8'sh80", text, start)
        return value
    size = int(size_text.replace("_", ""))
    if size == 0:
        raise ExprError(f"number {word} has a size of 0 bits", text, start)
    if value >> size:
        raise ExprError(f"number {word} does not fit in {size} bits", text, start)
    if signed and value >> (size - 1):
        value -= 1 << size
    return value


def _tokenize(text: str) -> List[_Token]:
    tokens: List[_Token] = []
    i = 0
    n = len(text)
    while i < n:
        c = text[i]
        if c.isspace():
            i += 1
            continue
        if c.isdigit() or c == "'":
            tok = _number(text, i)
            tokens.append(tok)
            i += len(tok.text)
            continue
        if _is_name_start(c):
            start = i
            escaped = False  # inside an escaped element (one that begins with a backslash)
            while i < n:
                if _is_name_char(text[i]):
                    if text[i] == "\\" and (i == start or text[i - 1] == "."):
                        escaped = True
                    i += 1
                elif escaped and text[i] == " " and text.startswith(".", i + 1):
                    i += 1  # a space ends an escaped element, and the name goes on: top.\u.1 .q
                    escaped = False
                else:
                    break
            tokens.append(_Token("name", text[start:i], start))
            continue
        for op in _OPERATORS:
            if text.startswith(op, i):
                tokens.append(_Token("op", op, i))
                i += len(op)
                break
        else:
            raise ExprError(f"unexpected character '{c}'", text, i)
    tokens.append(_Token("end", "", n))
    return tokens


# Binary operators by binding strength: a higher number binds tighter; all associate left.
_PRECEDENCE = {
    "||": 1, "&&": 2, "|": 3, "^": 4, "&": 5, "==": 6, "!=": 6, "<": 7, ">": 7, "<=": 7, ">=": 7, "+": 8, "-": 8,
}
_COMPARISONS = frozenset(("==", "!=", "<", ">", "<=", ">="))
_NEGATIVE_HINT = "a negative number compares only with a signed operand, as in signed(x) < -3"


def _is_negative(node: Node) -> bool:
    return node[0] == "int" and bool(node[1] < 0)


class _Parser:
    """Operator precedence parsing with explicit stacks: operands with the position where each
    starts, and pending operators (binary, '!', and open parentheses with their function)."""

    def __init__(self, text: str, is_signal: Callable[[str], bool], is_wide: Callable[[str], bool]):
        self.text = text
        self.tokens = _tokenize(text)
        self.i = 0
        self.is_signal = is_signal
        self.is_wide = is_wide
        self.operands: List[Tuple[Node, int]] = []
        # ("bin", op, pos) | ("not", "", pos) | ("open", function or "", pos)
        self.pending: List[Tuple[str, str, int]] = []
        self.open_count = 0

    def peek(self) -> _Token:
        return self.tokens[self.i]

    def take(self) -> _Token:
        tok = self.tokens[self.i]
        self.i += 1
        return tok

    def error(self, message: str, tok: Optional[_Token] = None) -> ExprError:
        tok = tok or self.peek()
        return ExprError(message, self.text, tok.pos)

    def expect(self, op: str) -> _Token:
        tok = self.peek()
        if tok.kind != "op" or tok.text != op:
            found = "the end" if tok.kind == "end" else f"'{tok.text}'"
            raise self.error(f"expected '{op}', found {found}")
        return self.take()

    def is_op(self, *ops: str) -> bool:
        tok = self.peek()
        return tok.kind == "op" and tok.text in ops

    def parse(self) -> Node:
        if self.peek().kind == "end":
            raise self.error("empty expression")
        while True:
            self.operand()
            if not self.operator():
                break
        node, pos = self.operands.pop()
        if _is_negative(node):
            raise ExprError(_NEGATIVE_HINT, self.text, pos)
        return node

    def operand(self) -> None:
        """Reads prefix operators and open parentheses up to one operand, with its postfixes."""
        while True:
            tok = self.peek()
            if tok.kind == "op" and tok.text == "!":
                self.pending.append(("not", "", self.take().pos))
            elif tok.kind == "op" and tok.text == "(":
                self.pending.append(("open", "", self.take().pos))
                self.open_count += 1
            elif (tok.kind == "name" and tok.text in _FUNCTIONS and self.tokens[self.i + 1].kind == "op"
                  and self.tokens[self.i + 1].text == "("):
                self.take()
                self.take()
                self.pending.append(("open", tok.text, tok.pos))
                self.open_count += 1
            else:
                break
        tok = self.take()
        if tok.kind in ("int", "real"):
            node: Node = (tok.kind, tok.value)
        elif tok.kind == "name":
            node = ("sig", self.name_with_index(tok), tok.pos)
        elif tok.kind == "op" and tok.text == "-" and self.peek().kind in ("int", "real"):
            num = self.take()
            node = (num.kind, -num.value)
        elif tok.kind == "op" and tok.text == "-":
            raise self.error("expected a number after '-'")
        elif tok.kind == "end":
            raise self.error("unexpected end of expression", tok)
        else:
            raise self.error(f"unexpected '{tok.text}'", tok)
        self.operands.append((self.postfix(node, tok.pos), tok.pos))

    def operator(self) -> bool:
        """Reads closing parentheses and one binary operator; False at the end of the text."""
        while True:
            tok = self.peek()
            if tok.kind == "op" and tok.text in _PRECEDENCE:
                self.reduce_while(lambda kind, op: kind == "not" or (kind == "bin" and
                                                                   _PRECEDENCE[op] >= _PRECEDENCE[tok.text]))
                self.pending.append(("bin", self.take().text, tok.pos))
                return True
            if tok.kind == "op" and tok.text == ")" and self.open_count:
                self.take()
                self.reduce_while(lambda kind, op: kind != "open")
                _, function, pos = self.pending.pop()
                self.open_count -= 1
                node, start = self.operands.pop()
                if function:
                    self.check_operand(node, start)
                    node = {"prev": ("rel", node, -1), "next": ("rel", node, 1)}.get(function, (function, node))
                    start = pos
                self.operands.append((self.postfix(node, start), start))
                continue
            if tok.kind == "end":
                if self.open_count:
                    self.expect(")")
                self.reduce_while(lambda kind, op: True)
                return False
            if self.open_count:
                self.expect(")")
            raise self.error(f"unexpected '{tok.text}'")

    def reduce_while(self, applies: Callable[[str, str], bool]) -> None:
        while self.pending and applies(self.pending[-1][0], self.pending[-1][1]):
            kind, op, pos = self.pending.pop()
            right, right_pos = self.operands.pop()
            self.check_operand(right, right_pos, op if kind == "bin" else "")
            if kind == "not":
                self.operands.append((("not", right), pos))
                continue
            left, left_pos = self.operands.pop()
            self.check_operand(left, left_pos, op)
            if op in _COMPARISONS:
                self.check_signed_comparison(left, left_pos, right, right_pos)
            self.operands.append(((op, left, right), left_pos))

    def check_operand(self, node: Node, pos: int, op: str = "") -> None:
        """A negative number stands only beside a comparison operator."""
        if _is_negative(node) and op not in _COMPARISONS:
            raise ExprError(_NEGATIVE_HINT, self.text, pos)

    def check_signed_comparison(self, left: Node, left_pos: int, right: Node, right_pos: int) -> None:
        for number, pos, other in ((left, left_pos, right), (right, right_pos, left)):
            if number[0] != "int":
                continue
            while other[0] == "rel":  # signed(x)@-1 is as signed as signed(x)
                other = other[1]
            if other[0] == "signed":
                if not self.reads_wide(other[1]) and not _SIGNED_MIN <= number[1] < _SIGNED_LIMIT:
                    raise ExprError("number out of the signed 64-bit range", self.text, pos)
            elif number[1] < 0:
                raise ExprError(_NEGATIVE_HINT, self.text, pos)

    def reads_wide(self, node: Node) -> bool:
        """Whether signed() of node reads more than 64 bits: a wide signal or slice."""
        while node[0] == "rel":
            node = node[1]
        if node[0] == "sig":
            return self.is_wide(node[1])
        return node[0] == "slice" and node[2] - node[3] >= 64

    def integer(self, what: str, limit: int) -> int:
        tok = self.peek()
        if tok.kind != "int":
            raise self.error(f"expected {what}")
        if tok.value >= limit:
            raise self.error(f"{what} out of range")
        return int(self.take().value)

    def postfix(self, node: Node, pos: int) -> Node:
        while self.is_op("[", "@"):
            if _is_negative(node):
                raise ExprError(_NEGATIVE_HINT, self.text, pos)
            if self.take().text == "[":
                high = self.integer("a bit index", 2**64)
                low = high
                if self.is_op(":"):
                    self.take()
                    low = self.integer("a bit index", 2**64)
                self.expect("]")
                node = ("slice", node, high, low)
            else:
                sign = 1
                if self.is_op("+", "-"):
                    sign = -1 if self.take().text == "-" else 1
                offset = sign * self.integer("a sample offset", 2**64)
                if not -(2**63) <= offset < 2**63:
                    raise self.error("sample offset out of range", self.tokens[self.i - 1])
                node = ("rel", node, offset)
        return node

    def name_with_index(self, tok: _Token) -> str:
        """Joins bracket groups to the name while the longer name is a known signal."""
        name = tok.text
        while True:
            j = self.i
            toks = self.tokens
            if not (toks[j].kind == "op" and toks[j].text == "["):
                return name
            k = j + 1
            inner = ""
            while toks[k].kind in ("int", "op") and toks[k].text not in ("]", "[") and toks[k].kind != "end":
                inner += toks[k].text
                k += 1
            if not (toks[k].kind == "op" and toks[k].text == "]"):
                return name
            candidate = f"{name}[{inner}]"
            if not self.is_signal(candidate):
                return name
            name = candidate
            self.i = k + 1


def parse(text: str, is_signal: Callable[[str], bool] = lambda name: False,
          is_wide: Callable[[str], bool] = lambda name: False) -> Node:
    """The syntax tree of text. is_signal tells whether a name with a bracket group is a signal,
    is_wide whether a name is a signal of more than 64 bits."""
    return _Parser(text, is_signal, is_wide).parse()


_BUILDERS = {
    "||": "or_", "&&": "and_", "|": "bit_or", "^": "bit_xor", "&": "bit_and", "==": "eq_", "!=": "neq",
    "<": "lt_", ">": "gt_", "<=": "lte", ">=": "gte", "+": "add", "-": "sub",
}


def resolve_name(trace: PyTrace, name: str, scope: str = "") -> Optional[str]:
    """The full name of a signal: the name itself, or a short name completed within scope."""
    if trace.signal_id(name) is not None:
        return name
    if scope:
        full = f"{scope}.{name}"
        if trace.signal_id(full) is not None:
            return full
        return trace.resolve(scope, name)
    return None


def _constant(value: Union[int, float]) -> PyExpr:
    if isinstance(value, float):
        return PyExpr.const_float(value)
    if value < 0:  # beside a signed operand: signed() of its two's complement in whole words
        if value >= _SIGNED_MIN:
            return PyExpr.const_int(value + 2**64).signed()
        words = ((-value - 1).bit_length() + 64) // 64
        return PyExpr.const_wide(value + 2 ** (64 * words)).signed()
    if value < 2**64:
        return PyExpr.const_int(value)
    return PyExpr.const_wide(value)


_UNARY_BUILDERS = {"not": "not_", "signed": "signed", "isx": "is_x", "isz": "is_z"}


def build(text: str, trace: PyTrace, scope: str = "") -> Tuple[PyExpr, List[str]]:
    """Parses text against the trace; returns the expression and the full names it reads."""
    expr, names, _ = build_with_signed(text, trace, scope)
    return expr, names


def build_with_signed(text: str, trace: PyTrace, scope: str = "") -> Tuple[PyExpr, List[str], Set[str]]:
    """As build, and also the full names the expression reads through signed() (directly, or
    at a neighbouring sample)."""
    def is_wide(name: str) -> bool:
        full = resolve_name(trace, name, scope)
        return full is not None and trace.signal_width(full) > 64

    tree = parse(text, lambda name: resolve_name(trace, name, scope) is not None, is_wide)
    names: List[str] = []

    def leaf(node: Node) -> PyExpr:
        if node[0] in ("int", "real"):
            return _constant(node[1])
        full = resolve_name(trace, node[1], scope)
        if full is None:
            where = f" in scope '{scope}'" if scope else ""
            known = trace.signal_names()
            if scope:
                prefix = f"{scope}."
                known = [n[len(prefix):] for n in known if n.startswith(prefix)] or known
            hint = did_you_mean(node[1], known)
            raise ExprError(f"unknown signal '{node[1]}'{where}{hint}", text, node[2])
        if full not in names:
            names.append(full)
        ident = trace.signal_id(full)
        assert ident is not None  # resolve_name gives only names the trace knows
        return PyExpr.signal(ident)

    # Post-order with an explicit stack, children left to right, so names are listed in the
    # order the text reads them and no depth of nesting can exhaust Python's recursion limit.
    built: List[PyExpr] = []
    signed: Set[str] = set()
    work: List[Tuple[Node, bool]] = [(tree, False)]
    while work:
        node, children_done = work.pop()
        kind = node[0]
        if kind in ("int", "real", "sig"):
            built.append(leaf(node))
        elif not children_done:
            if kind == "signed":
                operand = node[1]
                while operand[0] == "rel":
                    operand = operand[1]
                full = resolve_name(trace, operand[1], scope) if operand[0] == "sig" else None
                if full is not None:
                    signed.add(full)
            work.append((node, True))
            if kind in _BUILDERS:
                work.append((node[2], False))
            work.append((node[1], False))
        elif kind in _UNARY_BUILDERS:
            built.append(getattr(built.pop(), _UNARY_BUILDERS[kind])())
        elif kind == "rel":
            built.append(built.pop().rel_eval(node[2]))
        elif kind == "slice":
            built.append(built.pop().slice(node[2], node[3]))
        else:
            right = built.pop()
            built.append(getattr(built.pop(), _BUILDERS[kind])(right))
    return built[0], names, signed


def trace_expr(trace: PyTrace, text: str, scope: Optional[str] = None) -> PyExpr:
    """PyTrace.expr: the expression text parsed against the trace, short names resolved in scope."""
    if not isinstance(text, str):
        raise TypeError(f"argument 'text': '{type(text).__name__}' object is not a str")
    if scope is not None and not isinstance(scope, str):
        raise TypeError(f"argument 'scope': '{type(scope).__name__}' object is not a str")
    return build(text, trace, scope or "")[0]
