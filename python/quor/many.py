"""quor.find_many: one query over many traces, on a Dask cluster or a local process pool."""

from __future__ import annotations

import concurrent.futures
import multiprocessing
import os
from typing import Any, List, Optional, Sequence, Tuple

from ._tables import require
from .exprlang import parse

# What one file gives back: its path, the matching indices and their times (numpy arrays, or
# None when the file failed), and the error message of a failure.
FileResult = Tuple[str, Any, Any, Optional[str]]


def find_in_file(path: str, expression: str, scope: Optional[str] = None) -> FileResult:
    """Loads one trace and searches it; a failure to load or to resolve a name is returned as
    its message, so that one bad file never stops the others."""
    import numpy as np

    from . import open as open_trace

    try:
        trace = open_trace(path)
        found = trace.find_array(trace.expr(expression, scope=scope))
    except Exception as err:  # noqa: BLE001 - every failure of one file is that file's result
        return path, None, None, f"{type(err).__name__}: {err}"
    indices = np.array(found, dtype=np.uint64)  # a copy that pickles, not a view of the trace
    return path, indices, np.asarray(trace.timestamps())[indices], None


def _check_args(paths: Any, expression: Any, scope: Any) -> List[str]:
    if isinstance(paths, (str, bytes, os.PathLike)):
        raise TypeError("argument 'paths': give a list of paths, not one path")
    wanted = [os.fspath(p) for p in paths]
    for p in wanted:
        if not isinstance(p, str):
            raise TypeError(f"argument 'paths': '{type(p).__name__}' object is not a str path")
    if not isinstance(expression, str):
        raise TypeError(f"argument 'expression': '{type(expression).__name__}' object is not a str")
    if scope is not None and not isinstance(scope, str):
        raise TypeError(f"argument 'scope': '{type(scope).__name__}' object is not a str")
    # A syntax error is the same for every file: raise it before any work is sent out. Names
    # are resolved per file, where the signals are known.
    parse(expression)
    return wanted


def _run_local(paths: Sequence[str], expression: str, scope: Optional[str]) -> List[FileResult]:
    workers = max(1, min(len(paths), os.cpu_count() or 1))
    # Fresh interpreters, not forks: a fork of a process whose worker pool is running would
    # inherit the pool's state without its threads.
    context = multiprocessing.get_context("spawn")
    with concurrent.futures.ProcessPoolExecutor(max_workers=workers, mp_context=context) as pool:
        return list(pool.map(find_in_file, paths, [expression] * len(paths), [scope] * len(paths)))


def _run_on_cluster(client: Any, paths: Sequence[str], expression: str, scope: Optional[str]) -> List[FileResult]:
    futures = client.map(find_in_file, list(paths), expression=expression, scope=scope, pure=False)
    return client.gather(futures)


def find_many(paths: Sequence[str], expression: str, *, scope: Optional[str] = None, client: Any = None) -> Any:
    """The indices where expression holds in each of many traces, as one pandas DataFrame.

    Each file is loaded and searched in a task of its own; only the results travel back. With
    client (a dask.distributed.Client) the tasks run on the cluster's workers, which need quor
    installed; without one, on a pool of local processes (one per processor), which, like any
    process pool, needs the calling script's top level guarded by
    ``if __name__ == "__main__":``.

    Args:
        paths: the trace files (any format quor.open() reads).
        expression: text in the language of `quor find`, e.g. "en && count > 10".
        scope: the scope short names in expression are resolved in, in every file.
        client: a dask.distributed.Client, or None for the local process pool.

    Returns:
        pandas.DataFrame with the columns path (str), index and time (UInt64) and error (str):
        one row per match, files in the order of paths and each file's matches ascending. A
        file that cannot be loaded, or lacks a signal of the expression, gives one row with
        its error message and index and time <NA>; error is <NA> on every match.

    Raises:
        ValueError: expression does not parse (raised before any task is sent).
        TypeError: paths is one str, or expression or scope is not a str.
        ImportError: pandas (or, with a client, dask) is not installed: pip install quor[dask].

    Example:
        >>> df = quor.find_many(["run1.vcd", "run2.fst"], "en && count > 10", scope="top")
        >>> df.groupby("path").size()
    """
    pd = require("pandas", "dask", "quor.find_many")
    np = require("numpy", "dask", "quor.find_many")
    wanted = _check_args(paths, expression, scope)
    if not wanted:
        results = []
    elif client is None:
        results = _run_local(wanted, expression, scope)
    else:
        require("dask.distributed", "dask", "quor.find_many with a client")
        results = _run_on_cluster(client, wanted, expression, scope)
    return _frame(pd, np, results)


def _frame(pd: Any, np: Any, results: List[FileResult]) -> Any:
    paths, indices, times, missing, errors = [], [], [], [], []
    for path, found, at, error in results:
        if error is not None:  # one row holding the message
            found = at = np.zeros(1, dtype=np.uint64)
        paths.append(np.full(len(found), path, dtype=object))
        indices.append(found)
        times.append(at)
        missing.append(np.full(len(found), error is not None))
        errors.append(np.full(len(found), error, dtype=object))

    def joined(parts: List[Any], dtype: Any) -> Any:
        return np.concatenate(parts) if parts else np.zeros(0, dtype=dtype)

    absent = joined(missing, bool)
    return pd.DataFrame({
        "path": joined(paths, object),
        "index": pd.arrays.IntegerArray(joined(indices, np.uint64), absent.copy()),
        "time": pd.arrays.IntegerArray(joined(times, np.uint64), absent.copy()),
        "error": pd.array(joined(errors, object), dtype="string"),
    })
