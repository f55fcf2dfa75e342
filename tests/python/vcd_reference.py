"""A small, deliberately simple VCD reader used to derive expected values for
the fixture tests. It is independent of quor and favours obviousness over
speed: every change is kept in a list and looked up by bisection.

Reading rules (the ones quor's VCD loader follows):
- the text is read line by line; each trimmed line is classified on its own
  (keyword blocks are not tracked, only the line holding the keyword is skipped);
- `$scope <type> <name>` pushes <name>, `$upscope` pops; a name holding a dot is
  one path element, written escaped: `u.1` joins as `\\u.1 ` (`top.\\u.1 .q`),
  and an escaped one ends with a space or a backslash (`\\u.1\\` stays);
- `$var <type> <width> <code> <reference> ...` declares <scope path>.<reference>;
  a trailing bit-range group holding a colon is cut from the reference
  (`data[7:0]` -> `data`, `mem[3][7:0]` -> `mem[3]`, `mem[3]` stays); a later
  declaration of the same full name replaces the earlier one, the name keeps
  its first position; all names of one code share one id;
- every `#<time>` line opens a new sample index (times are neither merged nor
  sorted); value changes before the first one are dropped;
- values are carried forward; the value at an index is the last change at or
  before it.

Python-level values (bits in nine-valued logic, any case: 0 and L are 0, 1 and
H are 1, X, U, W and - are unknown, Z is high impedance):
- scalar 0/L -> 0, 1/H -> 1; x/z/u/w/- -> None;
- vector: an unknown or high-impedance bit anywhere -> None; otherwise the int
  of all its characters (1 and H are ones, anything else a zero bit), however
  many there are; empty bit string -> None;
- real -> float, 0.0 when the text is not a number;
- lines starting with any other character (such as `s` string values) are ignored.
"""
from bisect import bisect_right
from dataclasses import dataclass, field

UNKNOWN_SCALARS = set("xXzZuUwW-")
NINE_VALUED_LETTERS = set("uUwWhHlL-")


def path_element(name):
    """A scope name as one element of a dotted path."""
    if name.startswith("\\"):
        return name if len(name) >= 2 and name[-1] in " \\" else name + " "
    return name if "." not in name else f"\\{name} "


def cut_bit_range(reference):
    """Drop a trailing `[..:..]` group; keep element indices such as `[3]`."""
    if reference.endswith("]"):
        start = reference.rfind("[")
        if start >= 0 and ":" in reference[start:]:
            return reference[:start]
    return reference


def parse_u64(text, default):
    body = text[1:] if text.startswith("+") else text
    if body.isascii() and body.isdigit():
        value = int(body)
        if value <= (1 << 64) - 1:
            return value
    return default


def parse_u32(text, default):
    value = parse_u64(text, default)
    return value if value <= 0xFFFFFFFF else default


def vector_value(bits):
    """An unknown or high-impedance bit anywhere reads as None; otherwise 1 and H are one bits."""
    if not bits or any(c in UNKNOWN_SCALARS for c in bits):
        return None
    return int("".join("1" if c in "1hH" else "0" for c in bits), 2)


def real_value(text):
    try:
        return float(text)
    except ValueError:
        return 0.0


@dataclass
class VcdVar:
    reference: str
    width: int
    code: str


@dataclass
class VcdReference:
    signal_names: list = field(default_factory=list)
    scopes: list = field(default_factory=list)
    timestamps: list = field(default_factory=list)
    vars: dict = field(default_factory=dict)        # full name -> VcdVar
    changes: dict = field(default_factory=dict)     # code -> ([index], [value], [text])

    def width(self, name):
        var = self.vars.get(name)
        return var.width if var else 0

    def _last_change(self, name, index):
        var = self.vars.get(name)
        if var is None or index >= len(self.timestamps):
            return None
        indices, values, texts = self.changes[var.code]
        pos = bisect_right(indices, index)
        return (values[pos - 1], texts[pos - 1]) if pos else None

    def value(self, name, index):
        change = self._last_change(name, index)
        return change[0] if change else None

    def value_text(self, name, index):
        """The value as written in the file (scalar letter or bit string), or None."""
        change = self._last_change(name, index)
        return change[1] if change else None

    def max_index(self):
        return max(len(self.timestamps) - 1, 0)


def read_vcd(path):
    trace = VcdReference()
    stack = []
    seen_scopes = set()
    seen_names = set()
    started = False
    index = 0

    def store(code, value, text):
        series = trace.changes.get(code)
        if series is None:
            return  # undeclared code
        indices, values, texts = series
        if indices and indices[-1] == index:
            values[-1], texts[-1] = value, text
        else:
            indices.append(index)
            values.append(value)
            texts.append(text)

    with open(path, "rb") as handle:
        for raw in handle:
            try:
                line = raw.decode("utf-8").strip()
            except UnicodeDecodeError:
                continue
            if not line:
                continue
            if line.startswith("$scope"):
                tokens = line.split()
                if len(tokens) >= 3:
                    stack.append(path_element(tokens[2]))
                    scope = ".".join(stack)
                    if scope not in seen_scopes:
                        seen_scopes.add(scope)
                        trace.scopes.append(scope)
            elif line.startswith("$upscope"):
                if stack:
                    stack.pop()
            elif line.startswith("$var"):
                tokens = line.split()
                if len(tokens) < 5:
                    continue
                width = parse_u32(tokens[2], 1)
                code = tokens[3]
                reference = cut_bit_range(tokens[4])
                name = ".".join(stack + [reference])
                trace.changes.setdefault(code, ([], [], []))
                if name not in seen_names:
                    seen_names.add(name)
                    trace.signal_names.append(name)
                trace.vars[name] = VcdVar(reference, width, code)
            elif line.startswith("$"):
                continue
            elif line.startswith("#"):
                time = parse_u64(line[1:].strip(), 0)
                index = len(trace.timestamps)
                trace.timestamps.append(time)
                started = True
            elif started:
                first = line[0]
                if first in "01lLhH":
                    store(line[1:], int(first in "1hH"), first)
                elif first in UNKNOWN_SCALARS:
                    store(line[1:], None, first)
                elif first in "bBrR":
                    parts = line.split(" ", 1)
                    if len(parts) != 2:
                        continue
                    text, code = parts[0][1:], parts[1].strip()
                    value = vector_value(text) if first in "bB" else real_value(text)
                    store(code, value, text)
    return trace
