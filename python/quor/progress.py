"""Progress bars of the `quor` command on standard error.

A bar is drawn only when standard error is a terminal, and only once the work has taken longer
than a second, so quick commands and scripts reading the output see nothing of it. It is
cleared when the work ends.
"""

from __future__ import annotations

import os
import sys
import threading
import time
from typing import Callable, Optional, TextIO, TypeVar

T = TypeVar("T")

_WIDTH = 30  # characters of the bar itself
_REDRAW_SECONDS = 0.1


class Progress:
    """A one-line bar: label, bar, percentage and elapsed time (without a total: the amount done)."""

    def __init__(self, label: str, total: Optional[float], stream: Optional[TextIO] = None,
                 delay: float = 1.0, unit: str = ""):
        self.label = label
        self.total = total
        self.stream = stream if stream is not None else sys.stderr
        self.delay = delay
        self.unit = unit
        self.started = time.monotonic()
        self.drawn_at = 0.0
        self.shown = False
        self.active = _is_terminal(self.stream)

    def update(self, done: float) -> None:
        """Redraws the bar for done units of work (at most ten times a second)."""
        if not self.active:
            return
        now = time.monotonic()
        if now - self.started < self.delay or now - self.drawn_at < _REDRAW_SECONDS:
            return
        self.drawn_at = now
        self.shown = True
        self.stream.write("\r" + self.line(done, now - self.started) + "\x1b[K")
        self.stream.flush()

    def line(self, done: float, elapsed: float) -> str:
        if self.total:
            share = min(max(done / self.total, 0.0), 0.99)
            filled = int(share * _WIDTH)
            bar = "#" * filled + "." * (_WIDTH - filled)
            return f"quor: {self.label} [{bar}] {share * 100:3.0f}% {elapsed:5.1f} s"
        amount = f"{done:,.0f}{self.unit}" if self.unit else f"{done:,.0f}"
        return f"quor: {self.label} {amount} {elapsed:5.1f} s"

    def close(self) -> None:
        """Clears the bar, when one was drawn."""
        if self.shown:
            self.stream.write("\r\x1b[K")
            self.stream.flush()
            self.shown = False

    def __enter__(self) -> "Progress":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()


def _is_terminal(stream: TextIO) -> bool:
    try:
        return stream.isatty()
    except (AttributeError, ValueError):
        return False


def _bytes_read() -> Optional[int]:
    """Bytes this process has read from files so far (Linux), or None when unknown."""
    try:
        with open("/proc/self/io", "rb") as f:
            for line in f:
                if line.startswith(b"rchar:"):
                    return int(line.split()[1])
    except (OSError, ValueError, IndexError):
        pass
    return None


def _size_of(path: str) -> Optional[int]:
    try:
        if os.path.isdir(path):  # an SHM database
            return sum(e.stat().st_size for e in os.scandir(path) if e.is_file())
        size = os.stat(path).st_size
        return size if size > 0 else None
    except OSError:
        return None


def load_with_progress(path: str, load: Callable[[str], T], stream: Optional[TextIO] = None) -> T:
    """load(path), with a bar of the bytes read so far while a load takes more than a second.

    The load runs on the calling thread, where Ctrl-C reaches it (the loaders ask for signals
    as they go, and only the main thread receives them); the loaders release the interpreter
    lock, so a thread of its own draws the bar meanwhile. Without a terminal on stream it is a
    plain call.
    """
    bar = Progress(f"loading {os.path.basename(path)}", _size_of(path), stream, unit=" bytes")
    if not bar.active:
        return load(path)
    finished = threading.Event()
    first = _bytes_read()

    def draw() -> None:
        while not finished.wait(_REDRAW_SECONDS):
            now = _bytes_read()
            if now is not None and first is not None:
                bar.update(now - first)

    drawer = threading.Thread(target=draw, name="quor-progress", daemon=True)
    drawer.start()
    with bar:
        try:
            return load(path)
        finally:
            finished.set()
            drawer.join()
