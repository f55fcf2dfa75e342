"""quor: waveform traces (VCD, FST, FSDB, WLF, SHM, VPD) loaded into memory and queried fast.

open(path) loads a trace as a PyTrace, whose methods read names, values and times and search
the samples with expressions (PyExpr, or text through PyTrace.expr()); searches can answer
with PyArray, a read-only array that numpy wraps without a copy. find_many() runs one query
over many traces, on a Dask cluster or local processes. FORMATS lists the formats, and
detect_format() tells a file's.

Example:
    >>> import quor
    >>> trace = quor.open("examples/counter.vcd")
    >>> trace.find(trace.expr("en && count > 10", scope="counter_tb"))[:3]
    [25, 26, 27]
"""

from __future__ import annotations

from ._core import PyArray, PyExpr, PyTrace
from ._formats import FORMATS, detect_format
from .many import find_many

__version__ = "0.1.0"

__all__ = ["FORMATS", "PyArray", "PyExpr", "PyTrace", "__version__", "detect_format", "find_many", "open"]

_LOADERS = {
    "vcd": "from_vcd",
    "fst": "from_fst",
    "fsdb": "from_fsdb",
    "wlf": "from_wlf",
    "shm": "from_shm",
    "vpd": "from_vpd",
}


def open(path: str) -> PyTrace:  # noqa: A001 - the natural name for a file loader
    """Loads the trace at path, choosing the loader from the file's first bytes (or, failing
    that, its extension; a directory is an SHM database).

    Args:
        path (str): the trace file, or the directory of an SHM database.

    Returns:
        PyTrace: the loaded trace.

    Raises:
        ValueError: the file cannot be opened ("Failed to open {path}: ..."), its format is
        none of the known ones ("Cannot tell the format of {path}: ..."), or it cannot be
        loaded (the loader's message, as the PyTrace.from_* loaders raise it).

    Example:
        >>> trace = quor.open("examples/counter.vcd")
        >>> trace.signal_names()[:2]
        ['counter_tb.bus', 'counter_tb.clk']
    """
    fmt = detect_format(path)
    loader = getattr(PyTrace, _LOADERS[fmt], None)
    if loader is None:
        raise ValueError(f"{fmt.upper()} traces are not supported by this build")
    return loader(path)
