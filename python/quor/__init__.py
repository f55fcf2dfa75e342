"""quor: waveform traces (VCD, FST, FSDB, WLF, SHM, VPD) loaded into memory and queried fast."""

from ._core import PyExpr, PyTrace

__all__ = ["PyExpr", "PyTrace"]
