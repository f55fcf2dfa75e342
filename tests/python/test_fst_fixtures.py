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

VHDL's nine-valued letters (U, W, H, L, -, either case) read alike in both.
"""

import glob
import math
import os
import re

import pytest

from quor import PyTrace

FIXTURES = os.path.join(os.path.dirname(__file__), "..", "fixtures")
FST_FILES = sorted(glob.glob(os.path.join(FIXTURES, "*", "*.fst")))


def strip_range(name):
    return re.sub(r"\s*\[[^\]]*\]$", "", name)


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
            # Only variable-length text, which the VCD reader skips, may differ.
            assert isinstance(got, str) and expected is None, (name, time, got, expected)
