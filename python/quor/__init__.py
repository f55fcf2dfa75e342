"""quor: waveform traces (VCD, FST, FSDB, WLF, SHM, VPD) loaded into memory and queried fast."""

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
    that, its extension; a directory is an SHM database). Raises ValueError when the format is
    none of the known ones or the file cannot be loaded."""
    fmt = detect_format(path)
    loader = getattr(PyTrace, _LOADERS[fmt], None)
    if loader is None:
        raise ValueError(f"{fmt.upper()} traces are not supported by this build")
    return loader(path)
