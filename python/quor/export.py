"""`quor export TRACE OUT.parquet`: every change of every signal (or of those matching a glob) as
rows of a Parquet file, for DuckDB, Spark, pandas or Polars.

One row per run of a signal's value (a change, or the value a signal starts with):

    signal  dictionary-encoded string: the full signal name
    index   uint64: the first sample index of the run
    time    uint64: the time of that sample
    value   uint64: the value when it is a two-state number of at most 64 bits, else null
    real    float64: the value when it is a real, else null
    text    string: a text value, or the bits ('0', '1', 'x', 'z') of a wider value or of one
            with x or z bits, else null

A run without a value has all three of value, real and text null. Signals come in the order of
the trace's signal names, each signal's rows in index order. The file is written in row groups
as the signals are read, so it never holds a second copy of the trace, into a temporary file
renamed when complete.
"""

from __future__ import annotations

import os
from typing import Any, List, Optional, Tuple

from . import _core
from ._tables import ALL_X, FOUR_STATE, NUMBER, REAL, TEXT, WIDE, require
from .progress import Progress

ROW_GROUP_ROWS = 1 << 20
_TEXT_KINDS = (WIDE, FOUR_STATE, TEXT, ALL_X)


def _schema(pa: Any) -> Any:
    return pa.schema([
        ("signal", pa.dictionary(pa.int32(), pa.string())),
        ("index", pa.uint64()),
        ("time", pa.uint64()),
        ("value", pa.uint64()),
        ("real", pa.float64()),
        ("text", pa.string()),
    ])


def _row_group(pa: Any, np: Any, times: Any, names: List[str], rows: Tuple[Any, ...]) -> Any:
    """The table of one batch of _core._change_rows."""
    signals, starts, kinds, payloads, texts = rows
    index = np.asarray(starts)
    kind = np.frombuffer(kinds, dtype=np.uint8)
    payload = np.asarray(payloads)
    text = np.full(len(index), None, dtype=object)
    text[np.isin(kind, _TEXT_KINDS)] = texts  # in the order the rows list them
    return pa.Table.from_arrays([
        pa.DictionaryArray.from_arrays(pa.array(np.asarray(signals).astype(np.int32)), pa.array(names, pa.string())),
        pa.array(index, type=pa.uint64()),
        pa.array(times[index], type=pa.uint64()),
        pa.array(payload, type=pa.uint64(), mask=kind != NUMBER),
        pa.array(payload.view(np.float64), type=pa.float64(), mask=kind != REAL),
        pa.array(text, type=pa.string()),
    ], schema=_schema(pa))


def export_parquet(trace: _core.PyTrace, out_path: str, pattern: Optional[str] = None,
                   label: Optional[str] = None) -> Tuple[int, int]:
    """Writes the changes of the trace's signals (those matching the glob pattern, when given) to
    out_path as Parquet; returns (signals, rows). A progress bar shows on standard error when it
    is a terminal and the export takes more than a second."""
    pa = require("pyarrow", "arrow", "quor export")
    pq = require("pyarrow.parquet", "arrow", "quor export")
    np = require("numpy", "arrow", "quor export")
    names = trace.signal_names() if pattern is None else trace.find_signals_glob(pattern)
    times = np.asarray(trace.timestamps())
    partial = f"{out_path}.part{os.getpid()}"
    rows = 0
    try:
        with pq.ParquetWriter(partial, _schema(pa)) as writer, \
                Progress(f"exporting {label or 'signals'}", len(names)) as bar:
            first = 0
            while first < len(names):
                taken, *batch = _core._change_rows(trace, names, first, ROW_GROUP_ROWS)
                group = _row_group(pa, np, times, names[first:taken], tuple(batch))
                if group.num_rows:
                    writer.write_table(group, row_group_size=group.num_rows)
                rows += group.num_rows
                first = taken
                bar.update(first)
        os.replace(partial, out_path)
    except BaseException:
        if os.path.exists(partial):
            os.remove(partial)
        raise
    return len(names), rows
