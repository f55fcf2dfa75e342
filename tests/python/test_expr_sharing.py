"""Builders share their operands' trees instead of copying them: a chain of 200,000 builders is
made in linear time (copying made it quadratic: 60,000 `and_` took minutes), and such chains
are evaluated, searched and freed without recursion. Sharing cannot change a result: every
tree is immutable, so an operand reused or dropped leaves the trees built from it as they were."""
import gc

import pytest

from quor import PyExpr, PyTrace

E = PyExpr

VCD = """$var wire 1 ! a $end
$var wire 8 " b $end
$enddefinitions $end
#0
1!
b101 "
#1
0!
#2
1!
b11 "
#3
"""


@pytest.fixture(scope="module")
def trace():
    return PyTrace.from_vcd_string(VCD)


LONG = 200_000

# Builders applied over their own result; each chain means the same at any even length.
CHAINS = {
    "and_": lambda e, k: e.and_(E.signal(0)),
    "or_": lambda e, k: e.or_(E.const_int(0)),
    "not_": lambda e, k: e.not_(),
    "add": lambda e, k: e.add(E.const_int(0)),
    "bit_or": lambda e, k: E.const_int(0).bit_or(e),
    "rel_eval +1/-1": lambda e, k: e.rel_eval(1 if k % 2 else -1),
    "slice": lambda e, k: e.slice(7, 0),
}


def chain(step, length):
    e = E.signal(0)
    for k in range(length):
        e = step(e, k)
    return e


@pytest.mark.parametrize("name", CHAINS)
def test_a_long_chain_builds_evaluates_and_frees(trace, name):
    e = chain(CHAINS[name], LONG)
    short = chain(CHAINS[name], 2)
    holds = trace.find(short)
    assert trace.find(e) == holds
    assert trace.parallel_find(e) == holds
    assert trace.parallel_count(e) == len(holds)
    assert [trace.eval_expr(e, i) for i in range(5)] == [trace.eval_expr(short, i) for i in range(5)]
    del e
    gc.collect()


def test_shared_operands_stay_as_they_were(trace):
    a = E.signal(0)
    b = a.and_(E.signal(1).gt_(E.const_int(4)))  # holds at 0 only
    c = b.or_(b.not_())  # always true
    d = b.and_(a)
    assert trace.find(b) == [0]
    assert trace.find(c) == [0, 1, 2, 3]
    assert trace.find(d) == [0]
    del a, b
    gc.collect()
    assert trace.find(c) == [0, 1, 2, 3]
    assert trace.find(d) == [0]


def test_a_tree_too_large_to_walk_is_refused(trace):
    # Each step doubles the tree a search walks, at the cost of one node: after 24 steps it
    # would hold more than 16,777,216 nodes.
    e = E.signal(0)
    for _ in range(23):
        e = e.add(e)
    with pytest.raises(MemoryError, match="16,777,216 nodes"):
        e.add(e)
    with pytest.raises(MemoryError):
        e.add(E.signal(0)).add(e)
    assert trace.eval_expr(E.signal(0).add(E.signal(0)), 0) == 2
