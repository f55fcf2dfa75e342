"""Ctrl-C (SIGINT) during a load or a search raises KeyboardInterrupt within a fraction of a
second, also while the load waits on a FIFO whose writer is silent, and leaves the
interpreter, the worker pool and earlier traces working. Each case runs in a child
interpreter, which a lost signal would leave hanging."""
import gzip
import json
import os
import pathlib
import signal
import subprocess
import sys
import threading
import time

import pytest

import quor
from generated_traces import run_child

TINY = "$var wire 1 ! a $end\n$enddefinitions $end\n#0\n1!\n#1\n0!\n#2\n1!\n"

# Loads argv[1] with PyTrace.<argv[2]> (or quor.open) once the parent is told; SIGINT comes from
# the parent.
FIFO_CHILD = r"""
import sys, time
import quor
from quor import PyExpr, PyTrace
before = PyTrace.from_vcd_string(%r)
load = quor.open if sys.argv[2] == "open" else getattr(PyTrace, sys.argv[2])
print("loading", flush=True)
try:
    load(sys.argv[1])
    print("loaded", flush=True)
except KeyboardInterrupt:
    print("interrupted", flush=True)
assert before.parallel_find(PyExpr.signal(0)) == [0, 2]
assert PyTrace.from_vcd_string(%r).parallel_count(PyExpr.signal(0)) == 2
print("usable", flush=True)
""" % (TINY, TINY)


def child_env():
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([str(pathlib.Path(quor.__file__).resolve().parents[1]), env.get("PYTHONPATH", "")])
    return env


def interrupt_fifo_load(fifo, method):
    """Starts the child loading from the FIFO, sends SIGINT 0.3 s later; returns its output and
    the seconds from the signal to its exit."""
    child = subprocess.Popen([sys.executable, "-c", FIFO_CHILD, str(fifo), method], env=child_env(),
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        assert child.stdout.readline().strip() == "loading"
        time.sleep(0.3)
        child.send_signal(signal.SIGINT)
        sent = time.monotonic()
        out, err = child.communicate(timeout=10)
        return out.split(), time.monotonic() - sent, err
    finally:
        if child.poll() is None:
            child.kill()
            child.wait()


class Writer:
    """Holds the FIFO open for writing: silent after its first bytes (VCD declarations, or the
    start of a gzip member), or writing value changes without end."""

    def __init__(self, fifo, kind):
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.run, args=(fifo, kind), daemon=True)
        self.thread.start()

    def run(self, fifo, kind):
        endless = kind == "endless"
        fd = os.open(fifo, os.O_WRONLY)
        try:
            if kind == "gzip":
                os.write(fd, gzip.compress(b"$var wire 1 ! a $end\n$enddefinitions $end\n" * 100)[:40])
            else:
                os.write(fd, b"$var wire 1 ! a $end\n$enddefinitions $end\n")
            t = 0
            while not self.stop.is_set():
                if not endless:
                    time.sleep(0.01)
                    continue
                chunk = "".join(f"#{t + k}\n{k & 1}!\n" for k in range(1000)).encode()
                t += 1000
                try:
                    os.write(fd, chunk)
                except BrokenPipeError:
                    return
        finally:
            os.close(fd)

    def close(self):
        self.stop.set()
        self.thread.join(timeout=5)


@pytest.mark.parametrize("writer", ["silent", "endless", "absent", "gzip"])
@pytest.mark.parametrize("method", ["from_vcd", "from_wlf", "from_fsdb", "open"])
def test_ctrl_c_stops_a_load_from_a_fifo(tmp_path, method, writer):
    fifo = tmp_path / "dump.fifo"
    os.mkfifo(fifo)
    w = Writer(fifo, writer) if writer != "absent" else None
    try:
        out, seconds, err = interrupt_fifo_load(fifo, method)
    finally:
        if w:
            w.close()
    assert out == ["interrupted", "usable"], err[-2000:]
    assert seconds < 2.0


# Runs one long call with SIGINT sent about 50 ms into it (by another process: a search holds the
# interpreter lock, so no thread of this one could send it); the handler notes whether the call
# ran. Prints JSON: how the call ended, and when the handler ran (seconds after the call began).
MID_CALL_CHILD = r"""
import json, os, signal, subprocess, sys, time
from quor import PyExpr, PyTrace
handled = []
def handler(signum, frame):
    handled.append(time.monotonic())
    raise KeyboardInterrupt
signal.signal(signal.SIGINT, handler)
kind, arg = sys.argv[1], sys.argv[2]
if kind == "vcd_file":
    call = lambda: PyTrace.from_vcd(arg)
elif kind == "vcd_text":
    text = open(arg).read()
    call = lambda: PyTrace.from_vcd_string(text)
else:
    trace = PyTrace.from_vcd(arg)
    expr = PyExpr.signal(0)
    for k in range(100):  # too deep for the bit-per-index search: evaluated number by number
        expr = expr.add(PyExpr.signal(k % 4))
    expr = expr.gt_(PyExpr.const_int(3))
    call = lambda: getattr(trace, kind)(expr)
t0 = time.monotonic()
killer = subprocess.Popen(["/bin/sh", "-c", f"sleep 0.05; kill -INT {os.getpid()}"])
try:
    call()
    finished = "returned"
except KeyboardInterrupt:
    finished = "interrupted"
seconds = time.monotonic() - t0
try:
    killer.wait()
    time.sleep(0.05)  # a signal that came after the call is handled here
except KeyboardInterrupt:
    pass
assert PyTrace.from_vcd_string("$var wire 1 ! a $end\n$enddefinitions $end\n#0\n1!\n").parallel_count(PyExpr.signal(0)) == 1
print(json.dumps({"finished": finished, "handled_after": handled[0] - t0, "seconds": seconds}))
"""


def write_long_dump(path, steps):
    """A dump of four signals changing at every one of `steps` timestamps, written quickly."""
    bodies = [f"{t & 1}!\n{(t >> 1) & 1}\"\nb{t:b} #\n{(t >> 2) & 1}$\n" for t in range(256)]
    with open(path, "w") as f:
        f.write("$scope module top $end\n$var wire 1 ! a $end\n$var wire 1 \" b $end\n"
                "$var wire 8 # c $end\n$var wire 1 $ d $end\n$upscope $end\n$enddefinitions $end\n")
        block = 1 << 16
        for start in range(0, steps, block):
            f.write("".join("#%d\n%s" % (t, bodies[t & 255]) for t in range(start, min(steps, start + block))))
    return path


@pytest.fixture(scope="module")
def long_dump(tmp_path_factory):
    return write_long_dump(tmp_path_factory.mktemp("sigint") / "long.vcd", 2_000_000)


@pytest.mark.parametrize("kind", ["vcd_file", "vcd_text", "parallel_count", "parallel_find", "find", "find_array",
                                  "parallel_find_array"])
def test_ctrl_c_is_handled_while_the_call_runs(long_dump, kind):
    child = run_child(MID_CALL_CHILD, kind, long_dump, env={"RAYON_NUM_THREADS": "2"})
    assert child.returncode == 0, child.stderr[-2000:]
    result = json.loads(child.stdout)
    if result["finished"] == "returned":
        assert result["seconds"] < 0.1, "the signal was handled only after the call"
        pytest.skip("the call ended before the signal came")
    # Signal at 0.05 s, asked for every 0.04 s; the uninterrupted calls take 0.8 to 3 s here.
    assert result["handled_after"] < 0.5


@pytest.mark.parametrize("writer", ["silent", "endless"])
def test_ctrl_c_ends_the_command_loading_with_a_progress_bar(tmp_path, writer):
    # Standard error on a terminal turns the progress bar on; the load must still be where
    # Ctrl-C reaches it, not on a thread the interpreter abandons at exit (which aborted).
    import pty

    fifo = tmp_path / "dump.fifo"
    os.mkfifo(fifo)
    w = Writer(fifo, writer)
    terminal, terminal_side = pty.openpty()
    try:
        child = subprocess.Popen([sys.executable, "-m", "quor", "info", str(fifo)], env=child_env(),
                                 stdout=subprocess.PIPE, stderr=terminal_side)
        opened = f"/proc/{child.pid}/fd"
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and not any(
                os.path.realpath(os.path.join(opened, fd)) == os.path.realpath(fifo) for fd in os.listdir(opened)):
            time.sleep(0.02)  # until the load reads the FIFO
        time.sleep(0.2)
        child.send_signal(signal.SIGINT)
        out, _ = child.communicate(timeout=10)
    finally:
        w.close()
        os.close(terminal)
        os.close(terminal_side)
    assert (child.returncode, out) == (130, b"")
