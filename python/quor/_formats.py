"""Tells a trace file's format from its first bytes, falling back to its extension."""

from __future__ import annotations

import os
import stat
import zlib
from typing import Optional, Union

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

# Bytes read to tell the format: enough for every magic number and for the first keyword of a
# VCD after a few blank lines.
_HEAD_BYTES = 4096
_GZIP_MAGIC = b"\x1f\x8b"
_FST_GZIP_WRAPPER = 254  # an FST file wrapped whole in gzip starts with this block type

PathArg = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]


def fs_path(path: object, function: str) -> Union[str, bytes]:
    """path as str or bytes; TypeError unless it is str, bytes or os.PathLike.

    Checked before anything is opened: an int would be taken for a file descriptor (and closed
    after reading), True for standard output."""
    if not isinstance(path, (str, bytes, os.PathLike)):
        raise TypeError(f"{function}() argument 'path' must be str, bytes or os.PathLike, not {type(path).__name__}")
    return os.fspath(path)


def _shown(path: Union[str, bytes]) -> str:
    return os.fsdecode(path)


def is_vcd_text(head: bytes) -> Optional[bool]:
    """Whether head, the first bytes of a file, starts as VCD text does: a $ keyword or a #
    timestamp after any blank space (and a UTF-8 byte order mark). None when head is blank."""
    text = head[3:] if head.startswith(b"\xef\xbb\xbf") else head
    text = text.lstrip(b" \t\r\n\f\v")
    if not text:
        return None
    return text[:1] in (b"$", b"#")


def _is_wrapped_fst(head: bytes) -> bool:
    # block type, section length (0 while the file is still being wrapped), length, gzip data
    return head[:1] == bytes([_FST_GZIP_WRAPPER]) and (head[17:19] == _GZIP_MAGIC or head[1:9] == bytes(8))


def _from_magic(head: bytes) -> Optional[str]:
    if _is_wrapped_fst(head):
        return "fst"
    if len(head) >= 9 and head[0] == 0 and int.from_bytes(head[1:9], "big") == 329:
        return "fst"  # the header block opens every other FST file
    if head[4:8] in (b"\xfd\xe0\x99\xc1", b"\x1c\x3e\xd9\x48"):
        return "fsdb"
    if head[:4] == b"\x78\x56\x34\x12":
        return "vpd"
    if head[:4] == b"\xa1\x95\x11\xbf":
        return "shm"
    if is_vcd_text(head):
        return "vcd"
    return None


def _gzip_holds_vcd(path: Union[str, bytes]) -> bool:
    """Whether the gzip file at path starts with VCD text once inflated."""
    inflater = zlib.decompressobj(wbits=16 + zlib.MAX_WBITS)
    text = b""
    try:
        with open(path, "rb") as f:
            while len(text) < _HEAD_BYTES and not inflater.eof:
                chunk = f.read(1 << 16)
                if not chunk:
                    break
                text += inflater.decompress(chunk, _HEAD_BYTES - len(text))
                if inflater.unconsumed_tail:  # output bound reached
                    break
    except (OSError, zlib.error):
        return False
    return bool(is_vcd_text(text))


def _refuse(path: Union[str, bytes], why: str) -> ValueError:
    return ValueError(f"Cannot tell the format of {_shown(path)}: {why}")


def detect_format(path: PathArg) -> str:
    """The format of the trace at path, as quor.open() tells it: from the file's first bytes,
    else (where they are blank) from its extension; a directory is an SHM database.

    A gzip file is a compressed VCD (.vcd.gz); an FST wrapped whole in gzip is an FST, whatever
    its name. Any other file named .vcd must hold VCD text (plain or gzip-compressed): other
    bytes, those of a plain FST included, are refused (PyTrace.from_fst and the other loaders read such a file). A pipe
    or device is not read (its bytes would be gone): it is taken for VCD, the one format read
    from a stream.

    Args:
        path (str | bytes | os.PathLike): the trace file or directory.

    Returns:
        str: one of FORMATS ("vcd", "fst", "fsdb", "wlf", "shm", "vpd").

    Raises:
        TypeError: path is not a str, bytes or os.PathLike.
        ValueError: the file cannot be opened ("Failed to open {path}: ..."), or no format fits
        ("Cannot tell the format of {path}: ...": also an empty file, and a file named .vcd
        whose first bytes are not VCD text, a plain FST's among them).

    Example:
        >>> quor.detect_format("examples/counter.vcd")
        'vcd'
    """
    path = fs_path(path, "quor.detect_format")
    try:
        mode = os.stat(path).st_mode
        if stat.S_ISDIR(mode):
            return "shm"
        if not stat.S_ISREG(mode):  # not even opened: a writer to a FIFO would see it closed
            return "vcd"
        with open(path, "rb") as f:
            head = f.read(_HEAD_BYTES)
    except OSError as err:
        raise ValueError(f"Failed to open {_shown(path)}: {err.strerror} (os error {err.errno})") from None
    if not head:
        raise _refuse(path, "the file is empty")
    if head.startswith(_GZIP_MAGIC):
        if _gzip_holds_vcd(path):
            return "vcd"
        raise _refuse(path, "it is compressed with gzip, and what it holds is not VCD text")
    found = _from_magic(head)
    by_name = _EXTENSIONS.get(os.path.splitext(_shown(path))[1].lower())
    if by_name == "vcd" and found not in (None, "vcd") and not _is_wrapped_fst(head):
        # A name that promises VCD text on other bytes is a mistake somewhere (a renamed or
        # overwritten file): refused, as any other bytes under that name are.
        why = f"it is named .vcd, but its first bytes are not VCD text (they are those of {found.upper()})"
        raise _refuse(path, why)
    if found is not None:
        return found
    if by_name == "vcd" and is_vcd_text(head) is False:
        raise _refuse(path, "it is named .vcd, but its first bytes are not VCD text")
    if by_name is None:
        known = ", ".join(f.upper() for f in FORMATS)
        raise _refuse(path, f"it is none of the known formats ({known})")
    return by_name
