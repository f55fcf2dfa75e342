"""Tells a trace file's format from its first bytes, falling back to its extension."""

from __future__ import annotations

import os
from typing import Optional

FORMATS = ("vcd", "fst", "fsdb", "wlf", "shm", "vpd")

_EXTENSIONS = {
    ".vcd": "vcd",
    ".fst": "fst",
    ".fsdb": "fsdb",
    ".wlf": "wlf",
    ".vpd": "vpd",
    ".dsn": "shm",
    ".trn": "shm",
    ".shm": "shm",
}

_VCD_STARTS = (b"$", b"#")


def _from_magic(head: bytes) -> Optional[str]:
    if head[:2] == b"\x1f\x8b":
        return "fst"  # an FST file wrapped whole in gzip
    if len(head) >= 9 and head[0] == 0 and int.from_bytes(head[1:9], "big") == 329:
        return "fst"  # the header block opens every FST file
    if head[4:8] in (b"\xfd\xe0\x99\xc1", b"\x1c\x3e\xd9\x48"):
        return "fsdb"
    if head[:4] == b"\x78\x56\x34\x12":
        return "vpd"
    if head[:4] == b"\xa1\x95\x11\xbf":
        return "shm"
    text = head.lstrip(b" \t\r\n")
    if text.startswith(_VCD_STARTS):
        return "vcd"
    return None


def detect_format(path: str) -> str:
    """The format of the trace at path, as quor.open() tells it: from the file's first bytes,
    else from its extension; a directory is an SHM database.

    Args:
        path (str): the trace file or directory.

    Returns:
        str: one of FORMATS ("vcd", "fst", "fsdb", "wlf", "shm", "vpd").

    Raises:
        ValueError: the file cannot be opened ("Failed to open {path}: ..."), or no format fits
        ("Cannot tell the format of {path}: ...").

    Example:
        >>> quor.detect_format("examples/counter.vcd")
        'vcd'
    """
    if os.path.isdir(path):
        return "shm"
    head = b""
    try:
        with open(path, "rb") as f:
            head = f.read(64)
    except OSError as err:
        raise ValueError(f"Failed to open {path}: {err.strerror} (os error {err.errno})") from None
    found = _from_magic(head)
    if found is None:
        found = _EXTENSIONS.get(os.path.splitext(path)[1].lower())
    if found is None:
        known = ", ".join(f.upper() for f in FORMATS)
        raise ValueError(f"Cannot tell the format of {path}: it is none of the known formats ({known})")
    return found
