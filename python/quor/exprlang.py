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
    unary   := '!' unary | postfix
    postfix := primary ('[' int (':' int)? ']' | '@' ['+'|'-'] int)*
    primary := int | name | '(' expr ')' | func '(' expr ')'
    func    := signed | isx | isz | prev | next

Integers are decimal, 0x hexadecimal or 0b binary. A name is a full signal name, or a short name
resolved within a scope. A bracket group after a name is part of the name when the trace knows a
signal of that name (an array element such as mem[3]); otherwise it selects bits.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Callable, List, Optional, Tuple

from ._core import PyExpr, PyTrace


class ExprError(ValueError):
    """A syntax or name error, with the position of the offending character."""

    def __init__(self, message: str, text: str, position: int):
        self.message = message
        self.text = text
        self.position = position
        super().__init__(f"{message}\n  {text}\n  {' ' * position}^")


# The syntax tree: small tuples, so tests can state expected trees literally.
#   ("sig", name, pos) ("int", value) ("not", x) ("signed"|"isx"|"isz", x)
#   ("rel", x, offset) ("slice", x, high, low) (op, left, right) for binary operators
Node = Tuple


@dataclass
class _Token:
    kind: str  # "int", "name", "op", "end"
    text: str
    pos: int
    value: int = 0


_OPERATORS = ("==", "!=", "<=", ">=", "&&", "||", "<", ">", "!", "+", "-", "&", "|", "^", "(", ")", "[", "]",
              ":", "@")
_FUNCTIONS = ("signed", "isx", "isz", "prev", "next")


def _is_name_start(c: str) -> bool:
    return c.isalpha() or c in "_$\\"


def _is_name_char(c: str) -> bool:
    return c.isalnum() or c in "_$.\\"


def _tokenize(text: str) -> List[_Token]:
    tokens: List[_Token] = []
    i = 0
    n = len(text)
    while i < n:
        c = text[i]
        if c.isspace():
            i += 1
            continue
        if c.isdigit():
            start = i
            while i < n and (text[i].isalnum() or text[i] == "_"):
                i += 1
            word = text[start:i]
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
            if value >= 2**64:
                raise ExprError(f"number {word} does not fit in 64 bits", text, start)
            tokens.append(_Token("int", word, start, value))
            continue
        if _is_name_start(c):
            start = i
            while i < n and _is_name_char(text[i]):
                i += 1
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


_BINARY_LEVELS: List[Tuple[str, ...]] = [
    ("||",),
    ("&&",),
    ("|",),
    ("^",),
    ("&",),
    ("==", "!="),
    ("<", ">", "<=", ">="),
    ("+", "-"),
]


class _Parser:
    def __init__(self, text: str, is_signal: Callable[[str], bool]):
        self.text = text
        self.tokens = _tokenize(text)
        self.i = 0
        self.is_signal = is_signal

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

    def parse(self) -> Node:
        if self.peek().kind == "end":
            raise self.error("empty expression")
        node = self.binary(0)
        if self.peek().kind != "end":
            raise self.error(f"unexpected '{self.peek().text}'")
        return node

    def binary(self, level: int) -> Node:
        if level == len(_BINARY_LEVELS):
            return self.unary()
        node = self.binary(level + 1)
        while self.peek().kind == "op" and self.peek().text in _BINARY_LEVELS[level]:
            op = self.take().text
            node = (op, node, self.binary(level + 1))
        return node

    def unary(self) -> Node:
        tok = self.peek()
        if tok.kind == "op" and tok.text == "!":
            self.take()
            return ("not", self.unary())
        return self.postfix(self.primary())

    def integer(self, what: str) -> int:
        tok = self.peek()
        if tok.kind != "int":
            raise self.error(f"expected {what}")
        return self.take().value

    def postfix(self, node: Node) -> Node:
        while self.peek().kind == "op" and self.peek().text in ("[", "@"):
            if self.take().text == "[":
                high = self.integer("a bit index")
                low = high
                if self.peek().kind == "op" and self.peek().text == ":":
                    self.take()
                    low = self.integer("a bit index")
                self.expect("]")
                node = ("slice", node, high, low)
            else:
                sign = 1
                if self.peek().kind == "op" and self.peek().text in ("+", "-"):
                    sign = -1 if self.take().text == "-" else 1
                offset = sign * self.integer("a sample offset")
                if not -(2**63) <= offset < 2**63:
                    raise self.error("sample offset out of range")
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

    def primary(self) -> Node:
        tok = self.peek()
        if tok.kind == "int":
            self.take()
            return ("int", tok.value)
        if tok.kind == "op" and tok.text == "(":
            self.take()
            node = self.binary(0)
            self.expect(")")
            return node
        if tok.kind == "name":
            self.take()
            nxt = self.peek()
            if tok.text in _FUNCTIONS and nxt.kind == "op" and nxt.text == "(":
                self.take()
                arg = self.binary(0)
                self.expect(")")
                if tok.text == "prev":
                    return ("rel", arg, -1)
                if tok.text == "next":
                    return ("rel", arg, 1)
                return (tok.text, arg)
            return ("sig", self.name_with_index(tok), tok.pos)
        if tok.kind == "end":
            raise self.error("unexpected end of expression")
        raise self.error(f"unexpected '{tok.text}'")


def parse(text: str, is_signal: Callable[[str], bool] = lambda name: False) -> Node:
    """The syntax tree of text. is_signal tells whether a name with a bracket group is a signal."""
    return _Parser(text, is_signal).parse()


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


def build(text: str, trace: PyTrace, scope: str = "") -> Tuple[PyExpr, List[str]]:
    """Parses text against the trace; returns the expression and the full names it reads."""
    tree = parse(text, lambda name: resolve_name(trace, name, scope) is not None)
    names: List[str] = []

    def walk(node: Node) -> PyExpr:
        kind = node[0]
        if kind == "int":
            return PyExpr.const_int(node[1])
        if kind == "sig":
            full = resolve_name(trace, node[1], scope)
            if full is None:
                where = f" in scope '{scope}'" if scope else ""
                raise ExprError(f"unknown signal '{node[1]}'{where}", text, node[2])
            if full not in names:
                names.append(full)
            return PyExpr.signal(trace.signal_id(full))
        if kind == "not":
            return walk(node[1]).not_()
        if kind == "signed":
            return walk(node[1]).signed()
        if kind == "isx":
            return walk(node[1]).is_x()
        if kind == "isz":
            return walk(node[1]).is_z()
        if kind == "rel":
            return walk(node[1]).rel_eval(node[2])
        if kind == "slice":
            return walk(node[1]).slice(node[2], node[3])
        return getattr(walk(node[1]), _BUILDERS[kind])(walk(node[2]))

    return walk(tree), names



def trace_expr(trace: PyTrace, text: str, scope: Optional[str] = None) -> PyExpr:
    """PyTrace.expr: the expression text parsed against the trace, short names resolved in scope."""
    if not isinstance(text, str):
        raise TypeError(f"argument 'text': '{type(text).__name__}' object is not a str")
    if scope is not None and not isinstance(scope, str):
        raise TypeError(f"argument 'scope': '{type(scope).__name__}' object is not a str")
    return build(text, trace, scope or "")[0]
