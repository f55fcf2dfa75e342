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


class _RowGroup:
    """The rows of some signals, collected until they are written as one row group."""

    def __init__(self) -> None:
        self.names: List[str] = []
        self.parts: List[Tuple[int, Any, Any, Any, List[Optional[str]]]] = []
        self.rows = 0

    def add(self, np: Any, name: str, runs: Tuple[Any, ...]) -> None:
        starts, kinds, payloads, texts = runs[:4]
        if not len(starts):
            return
        self.names.append(name)
        self.parts.append((len(self.names) - 1, np.asarray(starts), np.frombuffer(kinds, dtype=np.uint8),
                           np.asarray(payloads), texts))
        self.rows += len(starts)

    def table(self, pa: Any, np: Any, times: Any) -> Any:
        signal = np.concatenate([np.full(len(s), k, dtype=np.int32) for k, s, _, _, _ in self.parts])
        index = np.concatenate([s for _, s, _, _, _ in self.parts])
        kind = np.concatenate([k for _, _, k, _, _ in self.parts])
        payload = np.concatenate([p for _, _, _, p, _ in self.parts])
        text = np.full(len(index), None, dtype=object)
        text_rows = np.isin(kind, _TEXT_KINDS)  # in the order _core._runs lists their texts
        text[text_rows] = [t for *_, texts in self.parts for t in texts]
        return pa.Table.from_arrays([
            pa.DictionaryArray.from_arrays(pa.array(signal, type=pa.int32()), pa.array(self.names, type=pa.string())),
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
    samples = len(times)
    partial = f"{out_path}.part{os.getpid()}"
    rows = 0
    try:
        with pq.ParquetWriter(partial, _schema(pa)) as writer, \
                Progress(f"exporting {label or 'signals'}", len(names)) as bar:
            group = _RowGroup()
            for done, name in enumerate(names):
                group.add(np, name, _core._runs(trace, name, 0, samples, False))
                if group.rows >= ROW_GROUP_ROWS:
                    writer.write_table(group.table(pa, np, times), row_group_size=group.rows)
                    rows += group.rows
                    group = _RowGroup()
                bar.update(done + 1)
            if group.rows or rows == 0:
                writer.write_table(group.table(pa, np, times) if group.rows else _schema(pa).empty_table())
                rows += group.rows
        os.replace(partial, out_path)
    except BaseException:
        if os.path.exists(partial):
            os.remove(partial)
        raise
    return len(names), rows
