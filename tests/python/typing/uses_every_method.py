"""Uses every method of the quor API, so `mypy --strict` checks the type stubs against real code."""

import pathlib
from typing import Any, Dict, List, Optional, Tuple, Union

import quor
from quor import PyArray, PyExpr, PyTrace

Value = Union[int, float, str, None]


def main(path: str) -> None:
    t: PyTrace = quor.open(path)
    t = quor.open(pathlib.Path(path))
    t = PyTrace.from_vcd(path.encode())
    loaders = [PyTrace.from_vcd, PyTrace.from_fst, PyTrace.from_fsdb, PyTrace.from_wlf, PyTrace.from_shm,
               PyTrace.from_vpd]
    assert all(callable(f) for f in loaders)
    t = PyTrace.from_vcd_string("#0")
    names: List[str] = t.signal_names()
    scopes: List[str] = t.scopes()
    last: int = t.max_index()
    time: int = t.timestamp(last)
    ident: Optional[int] = t.signal_id("a")
    width: int = t.signal_width("a")
    value: Value = t.signal_value("a", 0)
    raw: int = t.signal_value_raw("a", 0)
    values: List[Value] = t.signal_values_range("a", 0, 3)
    snap: Dict[str, Value] = t.snapshot(0)
    scoped: Dict[str, Value] = t.snapshot_scope(0, "top")
    e = PyExpr.signal(0).and_(PyExpr.const_int(1)).or_(PyExpr.const_float(2.0)).eq_(PyExpr.const_str("x"))
    e = e.neq(e).gt_(e).lt_(e).gte(e).lte(e).add(e).sub(e).bit_and(e).bit_or(e).bit_xor(e)
    e = e.slice(7, 0).signed().is_x().is_z().not_().rel_eval(-1).and_(PyExpr.always_true())
    e = e.or_(PyExpr.const_wide(2**100))
    found: List[int] = t.find(e) + t.parallel_find(e) + t.find(e, 3) + t.parallel_find(e, limit=None)
    count: int = t.parallel_count(e)
    evaluated: Value = t.eval_expr(e, 0)
    truth: bool = t.eval_expr_bool(e, 0)
    rows: List[Tuple[int, List[Value]]] = t.find_with_values(e, ["a"])
    changes: List[Tuple[int, Value, Value]] = t.transitions("a")
    at: List[Tuple[str, Value, Value]] = t.changed_at(1) + t.changed_at_scope(1, "top")
    full: Optional[str] = t.resolve("top", "a")
    listed: List[str] = t.local_scopes("") + t.local_signals("") + t.find_signals_glob("*")
    listed += t.find_signals_containing("a")
    stats: Tuple[int, int, int, int, int, int, int] = t.signal_stats("a")
    bits: int = t.bit_slice_val(0xAB, 7, 4) + t.sign_extend_val(0xF, 4)
    hits: PyArray = t.find_array(t.expr("1", scope=None))
    first: Union[int, float] = t.parallel_find_array(e)[0] if len(hits) else 0
    part: PyArray = t.timestamps()[1:]
    code: str = part.typecode + str(part.itemsize) + str(hits.tolist())
    near: Optional[int] = t.index_at(5)
    unit: Optional[Tuple[int, str]] = t.timescale()
    starts, run_values = t.signal_runs("a")
    table: Any = t.to_arrow(["a"], 0, None)
    frame: Any = t.to_pandas(["a"], start=1)
    many: Any = quor.find_many([], "a", scope="top", client=None)
    print(names, scopes, time, ident, width, value, raw, values, snap, scoped, found, count, evaluated, truth,
          rows, changes, at, full, listed, stats, bits, quor.__version__, first, code, near, unit, len(starts),
          run_values, table, frame, many)


if __name__ == "__main__":
    main("examples/counter.vcd")
