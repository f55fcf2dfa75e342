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

import os
import stat
from typing import Tuple, Union

from ._core import PyArray, PyExpr, PyTrace
from ._formats import FORMATS, PathArg, detect_format, fs_path
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


def _is_stream(path: Union[str, bytes]) -> bool:
    try:
        mode = os.stat(path).st_mode
    except (OSError, ValueError):
        return False  # the loader reports what is wrong with the path
    return not stat.S_ISREG(mode) and not stat.S_ISDIR(mode)


def _open_detected(path: PathArg, function: str = "quor.open") -> Tuple[PyTrace, str]:
    """The trace at path and its format (one of FORMATS)."""
    path = fs_path(path, function)
    if _is_stream(path):
        # A pipe or device can be read only once: the loader reads it and tells its format from
        # the bytes it has read.
        return PyTrace._from_stream(path), "vcd"
    fmt = detect_format(path)
    loader = getattr(PyTrace, _LOADERS[fmt], None)
    if loader is None:
        raise ValueError(f"{fmt.upper()} traces are not supported by this build")
    return loader(path), fmt


def open(path: PathArg) -> PyTrace:  # noqa: A001 - the natural name for a file loader
    """Loads the trace at path, choosing the loader from the file's first bytes (or, where they
    are blank, its extension; a directory is an SHM database).

    The bytes decide, whatever the name, except that a file named .vcd must hold VCD text
    (plain or gzip-compressed): an FST wrapped whole in gzip (as GHDL and vcd2fst -c write it)
    is an FST under any name, any other gzip file a compressed VCD, and a plain FST or any
    other bytes named .vcd are refused (PyTrace.from_fst reads such an FST). A pipe or device
    (/dev/stdin) is read once, as VCD text, plain or gzip-compressed.

    Args:
        path (str | bytes | os.PathLike): the trace file, or the directory of an SHM database.

    Returns:
        PyTrace: the loaded trace.

    Raises:
        TypeError: path is not a str, bytes or os.PathLike (an int is not taken for a file
        descriptor); nothing is opened.
        ValueError: the file cannot be opened ("Failed to open {path}: ..."), its format is
        none of the known ones ("Cannot tell the format of {path}: ...": also an empty file, and
        a file named .vcd whose first bytes are not VCD text, a plain FST's among them), or it
        cannot be loaded (the loader's message, as the PyTrace.from_* loaders raise it).

    Example:
        >>> trace = quor.open("examples/counter.vcd")
        >>> trace.signal_names()[:2]
        ['counter_tb.bus', 'counter_tb.clk']
    """
    return _open_detected(path)[0]
