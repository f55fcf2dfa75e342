"""Differential test: every FST fixture written by an independent tool
(tests/fixtures: Icarus, Verilator, GHDL, vcd2fst with each option) against
the VCD that GTKWave's fst2vcd writes from it, loaded with from_vcd.

Names, widths and the Python value of every signal at every time must agree,
up to these systematic differences of the two readers:

- FST writers keep a declared bit range in the name (``count [7:0]``,
  GHDL's ``q[7:0]``); the VCD reader drops a trailing range.
- A real is declared with length 8 in FST hierarchies and 64 in fst2vcd's VCD.
- FST value-change blocks repeat the boundary time of consecutive blocks, so
  values are compared per time (the last sample of each time).
- Variable-length signals (GHDL enumerations) are text in FST; fst2vcd writes
  them as ``s`` values, which the VCD reader does not read (None).
- VHDL nine-valued letters: the VCD reader reads U, W, H, L and - as 0 (only 1
  counts as one) or skips a scalar ``-``; the FST adapter reads upper-case
  letters in a vector as text and a scalar or vector with ``-``, ``h``, ``l``,
  ``u`` or ``w`` as unknown (None).
"""

import glob
import math
import os
import re

import pytest

from quor import PyTrace

FIXTURES = os.path.join(os.path.dirname(__file__), "..", "fixtures")
FST_FILES = sorted(glob.glob(os.path.join(FIXTURES, "*", "*.fst")))
NINE_VALUED = set("UWHL-uwhl")


def strip_range(name):
    return re.sub(r"\s*\[[^\]]*\]$", "", name)


def raw_vcd_values(path):
    """(time, name) -> the value text as written, for the letters check."""
    codes, scopes, raw, time = {}, [], {}, 0
    with open(path) as f:
        lines = iter(f)
        for line in lines:
            words = line.split()
            if not words:
                continue
            if words[0] == "$scope":
                scopes.append(words[2])
            elif words[0] == "$upscope":
                scopes.pop()
            elif words[0] == "$var":
                full = ".".join(scopes + [words[4]])
                codes.setdefault(words[3], []).extend({full, strip_range(full)})
            elif words[0] == "$enddefinitions":
                break
        for line in lines:
            line = line.strip()
            if not line or line.startswith("$"):
                continue
            if line[0] == "#":
                time = int(line[1:])
            elif line[0] in "bBrRsS":
                value, code = line[1:].split()
                for name in codes.get(code, []):
                    raw[(time, name)] = value
            else:
                for name in codes.get(line[1:], []):
                    raw[(time, name)] = line[0]
    return raw


def per_time(trace, name):
    values = {}
    for i in range(trace.max_index() + 1):
        values[trace.timestamp(i)] = trace.signal_value(name, i)
    return values


def test_fixtures_present():
    assert len(FST_FILES) >= 20


@pytest.mark.parametrize("path", FST_FILES, ids=lambda p: os.path.relpath(p, FIXTURES))
def test_fst_agrees_with_fst2vcd(path):
    vcd_path = path[:-4] + ".fst2vcd.vcd"
    fst = PyTrace.from_fst(path)
    vcd = PyTrace.from_vcd(vcd_path)
    raw = raw_vcd_values(vcd_path)

    vcd_names = set(vcd.signal_names())
    mapped = {}
    for name in fst.signal_names():
        mapped[name] = name if name in vcd_names else strip_range(name)
    assert sorted(mapped.values()) == sorted(vcd_names)

    for name, vname in mapped.items():
        assert fst.signal_id(name) is not None
        ours, theirs = per_time(fst, name), per_time(vcd, vname)
        assert set(ours) == set(theirs), name
        is_real = any(isinstance(v, float) for v in theirs.values())
        if not is_real:
            assert fst.signal_width(name) == vcd.signal_width(vname), name
        for time, expected in theirs.items():
            got = ours[time]
            if got == expected:
                continue
            if isinstance(expected, float) and math.isnan(expected):
                assert isinstance(got, float) and math.isnan(got), (name, time)
                continue
            if isinstance(expected, float):
                assert got == pytest.approx(expected, rel=1e-15), (name, time)
                continue
            if isinstance(got, str) and expected is None:
                continue  # variable-length text that the VCD reader skips
            # The last raw change at or before this time must hold a VHDL letter.
            text = next((raw[(t, vname)] for t in sorted(theirs, reverse=True)
                         if t <= time and (t, vname) in raw), "")
            assert NINE_VALUED & set(text), (name, time, got, expected, text)
