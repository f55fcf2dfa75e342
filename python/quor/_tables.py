"""PyTrace.to_arrow and PyTrace.to_pandas: signal values as tables, one row per sample.

A signal's column type follows what the signal holds anywhere in the trace (so tables of
different ranges of one trace share a schema): uint64 when its values are two-state numbers of
at most 64 bits, float64 for reals, string for text, and otherwise strings of bits. A sample
without a value is null; so is a value whose bits are all x, as the VCD reader already reads a
scalar x, unless the column holds bits anyway.
"""

from __future__ import annotations

import importlib
from types import ModuleType
from typing import Any, List, Sequence, Tuple

from . import _core

# The kinds of value _core._runs reports per run.
NUMBER, WIDE, FOUR_STATE, REAL, TEXT, NO_VALUE, ALL_X = range(7)

_NUMBER_KINDS = (1 << NUMBER) | (1 << NO_VALUE) | (1 << ALL_X)
_REAL_KINDS = (1 << REAL) | (1 << NO_VALUE)
_TEXT_KINDS = (1 << TEXT) | (1 << NO_VALUE)
_HAS_TEXT = (WIDE, FOUR_STATE, TEXT, ALL_X)


def require(module: str, extra: str, what: str) -> ModuleType:
    """Imports an optional dependency; ImportError naming the extra to install when it is missing."""
    try:
        return importlib.import_module(module)
    except ImportError as err:
        raise ImportError(f"{what} needs {module}, which is not installed: pip install quor[{extra}]") from err


def signal_names_arg(names: Any) -> List[str]:
    if isinstance(names, str):
        raise TypeError("argument 'names': give a list of signal names, not one str")
    out = list(names)
    for name in out:
        if not isinstance(name, str):
            raise TypeError(f"argument 'names': '{type(name).__name__}' object is not a str")
    return out


def index_range(trace: _core.PyTrace, start: Any, end: Any) -> Tuple[int, int]:
    """[start, end) as ints, end clipped to the number of samples; errors as the binding words them."""
    samples = len(trace.timestamps())
    bounds = []
    for param, value, default in (("start", start, 0), ("end", end, samples)):
        if value is None and param == "end":
            value = default
        if isinstance(value, bool) or not hasattr(value, "__index__"):
            raise TypeError(f"argument '{param}': '{type(value).__name__}' object cannot be interpreted as an integer")
        value = value.__index__()
        if value < 0:
            raise OverflowError(f"argument '{param}': can't convert negative int to unsigned")
        bounds.append(value)
    first, stop = bounds[0], min(bounds[1], samples)
    return first, max(first, stop)


def _column(pa: ModuleType, np: ModuleType, trace: _core.PyTrace, name: str, start: int, end: int) -> Any:
    probe = _core._runs(trace, name, start, end, False)
    anywhere = probe[4]
    as_bits = not (anywhere & ~_NUMBER_KINDS == 0 or anywhere & ~_REAL_KINDS == 0 or anywhere & ~_TEXT_KINDS == 0)
    starts, kinds, payloads, texts, _, _ = _core._runs(trace, name, start, end, True) if as_bits else probe
    lengths = np.diff(np.append(np.asarray(starts), np.uint64(end))).astype(np.int64)
    kind = np.frombuffer(kinds, dtype=np.uint8)
    if anywhere & ~_NUMBER_KINDS == 0:
        values = np.repeat(np.asarray(payloads), lengths)
        return pa.array(values, type=pa.uint64(), mask=np.repeat(kind != NUMBER, lengths))
    if anywhere & ~_REAL_KINDS == 0:
        values = np.repeat(np.asarray(payloads).view(np.float64), lengths)
        return pa.array(values, type=pa.float64(), mask=np.repeat(kind != REAL, lengths))
    run_rows = np.repeat(np.arange(len(kind), dtype=np.int64), lengths)
    return pa.array(texts, type=pa.string()).take(pa.array(run_rows))


def to_arrow(trace: _core.PyTrace, names: Sequence[str], start: int = 0, end: Any = None) -> Any:
    """PyTrace.to_arrow: see its docstring."""
    pa = require("pyarrow", "arrow", "PyTrace.to_arrow")
    np = require("numpy", "arrow", "PyTrace.to_arrow")
    wanted = signal_names_arg(names)
    for name in wanted:
        if trace.signal_id(name) is None:
            raise KeyError(name)
    first, stop = index_range(trace, start, end)
    columns = [
        pa.array(np.arange(first, stop, dtype=np.uint64), type=pa.uint64()),
        pa.array(np.asarray(trace.timestamps())[first:stop], type=pa.uint64()),
    ]
    columns += [_column(pa, np, trace, name, first, stop) for name in wanted]
    return pa.Table.from_arrays(columns, names=["index", "time", *wanted])


def to_pandas(trace: _core.PyTrace, names: Sequence[str], start: int = 0, end: Any = None) -> Any:
    """PyTrace.to_pandas: see its docstring."""
    pd = require("pandas", "pandas", "PyTrace.to_pandas")
    pa = require("pyarrow", "pandas", "PyTrace.to_pandas")
    table = to_arrow(trace, names, start, end)
    nullable = {pa.uint64(): pd.UInt64Dtype(), pa.float64(): pd.Float64Dtype(), pa.string(): pd.StringDtype()}
    frame = table.to_pandas(types_mapper=nullable.get)
    for position in (0, 1):  # index and time never lack a value: plain uint64
        frame.isetitem(position, table.column(position).to_numpy())
    return frame
