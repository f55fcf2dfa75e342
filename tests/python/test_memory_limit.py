"""Loads and searches under an address-space limit (RLIMIT_AS, as `ulimit -v` sets), in child
interpreters: each load either gives the right answers or raises MemoryError, and afterwards
the process, the worker pool and the trace still work. Dying is the failure this catches: a
worker thread whose first exception finds no memory for its exception storage used to end the
process ("cannot allocate memory for thread-local data")."""
import json
import os

import pytest

from generated_traces import run_child, to_fst, write_vcd

CHILD = r"""
import json, resource, sys
from quor import PyExpr, PyTrace

path, mode = sys.argv[1], sys.argv[2]
extras_mb = [int(x) for x in sys.argv[3].split(",")]
load = PyTrace.from_fst if path.endswith(".fst") else PyTrace.from_vcd
TINY = "$var wire 1 ! a $end\n$enddefinitions $end\n#0\n1!\n#1\n0!\n#2\n1!\n"
expr = PyExpr.signal(1).eq_(PyExpr.const_int(1)).or_(PyExpr.signal(3).gt_(PyExpr.const_int(40000)))

def answers(t):
    return [t.max_index(), t.parallel_count(expr), t.parallel_find(expr)[-20:], t.find(expr)[:20],
            [t.signal_value(f"top.s{i}", t.max_index() // 2) for i in range(12)]]

def mapped_bytes():
    with open("/proc/self/status") as f:
        return next(int(l.split()[1]) for l in f if l.startswith("VmSize:")) * 1024

if mode == "warm":
    PyTrace.from_vcd_string(TINY)  # the pool starts before any limit
soft, hard = resource.getrlimit(resource.RLIMIT_AS)
limited = []
for extra in extras_mb:
    resource.setrlimit(resource.RLIMIT_AS, (mapped_bytes() + (extra << 20), hard))
    try:
        limited.append(answers(load(path)))
    except MemoryError:
        limited.append(None)
    finally:
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    # Whatever happened, the pool still runs jobs.
    assert PyTrace.from_vcd_string(TINY).parallel_find(PyExpr.signal(0)) == [0, 2]
print(json.dumps({"limited": limited, "full": answers(load(path))}))
"""

# Limits above what the interpreter has mapped, in MB, one after another in one child: from too
# little for anything to enough for the whole load. The first limit is in force when the pool
# starts ("cold"; 64 workers then map 8 MB of stack each, as many as fit), or the pool starts
# before any limit ("warm").
SWEEPS = [
    (2, "cold", "0,1,2,4,8,16,160"),
    (2, "warm", "0,1,2,4,8,16,160"),
    (64, "cold", "100,0,2,8"),
    (64, "cold", "300,0,2,8"),
    (64, "warm", "0,2,8,32,128"),
]


@pytest.fixture(scope="module")
def dumps(tmp_path_factory):
    vcd = write_vcd(tmp_path_factory.mktemp("limit") / "dump.vcd", signals=384, steps=40_000)
    return {"vcd": vcd, "fst": to_fst(vcd)}


@pytest.mark.skipif(os.environ.get("QUOR_TEST_SANITIZED") == "1",
                    reason="AddressSanitizer maps terabytes of shadow memory: no address-space limit fits it")
@pytest.mark.parametrize("fmt", ["vcd", "fst"])
@pytest.mark.parametrize("workers,mode,extras", SWEEPS)
def test_a_load_under_a_memory_limit_answers_or_raises_memory_error(dumps, fmt, workers, mode, extras):
    if dumps[fmt] is None:
        pytest.skip("vcd2fst is not installed")
    child = run_child(CHILD, dumps[fmt], mode, extras, env={"RAYON_NUM_THREADS": str(workers)})
    assert child.returncode == 0, child.stderr[-2000:]
    result = json.loads(child.stdout)
    for answers in result["limited"]:
        assert answers is None or answers == result["full"]
    assert result["full"][0] == 40_000 - 1
