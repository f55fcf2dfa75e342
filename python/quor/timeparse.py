"""Times given on the command line (`--time`): in trace units ("1500") or with a unit ("1.5us")."""

from __future__ import annotations

import re
from fractions import Fraction
from typing import Optional, Tuple

from ._core import PyTrace

UNIT_EXPONENTS = {"s": 0, "ms": -3, "us": -6, "\u00b5s": -6, "ns": -9, "ps": -12, "fs": -15, "as": -18}

_TIME = re.compile(r"\s*((?:[0-9]+(?:\.[0-9]*)?|\.[0-9]+)(?:[eE][+-]?[0-9]+)?)\s*([a-zA-Z\u00b5]*)\s*")


def to_trace_units(text: str, timescale: Optional[Tuple[int, str]]) -> int:
    """The time text names, in units of the trace's timescale, rounded down (a sample at or
    before the time is what a lookup wants). ValueError for text that is not a time, for a
    fraction of a trace unit written without a unit, and for a unit when the trace states none."""
    match = _TIME.fullmatch(text)
    if not match:
        raise ValueError(f"'{text}' is not a time: give a number of trace units, or one with a unit such as 1.5us")
    number, unit = Fraction(match.group(1)), match.group(2)
    if not unit:
        if number.denominator != 1:
            raise ValueError(f"'{text}': a time in trace units is a whole number (or give a unit, such as 1.5us)")
        return int(number)
    exponent = UNIT_EXPONENTS.get(unit)
    if exponent is None:
        known = ", ".join(u for u in UNIT_EXPONENTS if u != "\u00b5s")
        raise ValueError(f"'{text}': unknown time unit '{unit}' (known: {known})")
    if timescale is None:
        raise ValueError(f"'{text}': the trace states no timescale, so give the time in trace units")
    magnitude, trace_unit = timescale
    seconds = number * Fraction(10) ** exponent
    per_unit = magnitude * Fraction(10) ** UNIT_EXPONENTS[trace_unit]
    return int(seconds / per_unit)  # int() of a positive Fraction rounds down


def index_for_time(trace: PyTrace, text: str) -> int:
    """The index of the sample that holds at the time text names: the last one at or before it."""
    units = min(to_trace_units(text, trace.timescale()), 2**64 - 1)  # past every sample: the last one
    index = trace.index_at(units)
    if index is None:
        raise ValueError(f"time {text} is before the first sample")
    return index
