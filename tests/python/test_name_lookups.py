"""Name lookups over many signals: every way of passing a name reads what a fresh lookup by its
text reads, however many names the lookup cache has seen, dropped or had to forget."""

import gc
import sys

import pytest

from quor import PyTrace

SIGNALS = 6000  # more than the cache's first table holds
STEPS = 4


@pytest.fixture(scope="module")
def many_path(tmp_path_factory):
    """A VCD of SIGNALS signals with long hierarchical names, every one distinct per step."""
    lines = ["$timescale 1ns $end", "$scope module top $end"]
    for k in range(SIGNALS):
        code = f"s{k}"
        lines.append(f"$scope module u_block_{k % 37} $end")
        lines.append(f"$var wire 16 {code} data_path_register_{k} [15:0] $end")
        lines.append("$upscope $end")
    lines += ["$upscope $end", "$enddefinitions $end"]
    for step in range(STEPS):
        lines.append(f"#{step}")
        lines += [f"b{(k * 7 + step) % 65536:b} s{k}" for k in range(SIGNALS)]
    path = tmp_path_factory.mktemp("many") / "many.vcd"
    path.write_text("\n".join(lines) + "\n")
    return path


@pytest.fixture(scope="module")
def many(many_path):
    return PyTrace.from_vcd(str(many_path))


def expected_value(name, step):
    """The value the fixture gives the signal of this name at this step, or None."""
    prefix = "top.u_block_"
    if not name.startswith(prefix):
        return None
    block, _, leaf = name[len(prefix):].partition(".data_path_register_")
    if not leaf.isdigit() or not block.isdigit() or str(int(leaf)) != leaf or int(leaf) >= SIGNALS:
        return None
    k = int(leaf)
    return (k * 7 + step) % 65536 if int(block) == k % 37 and str(int(block)) == block else None


class NameLike(str):
    """A str subclass: read by its text."""


PASSES = [
    ("the list items", lambda name: name),
    ("a fresh copy each call", lambda name: "".join(list(name))),
    ("a str subclass", NameLike),
    ("one character more", lambda name: name + "x"),
    ("one character less", lambda name: name[:-1]),
    ("a non-ASCII neighbour", lambda name: name[:-1] + "\u4e2d"),
]


@pytest.mark.parametrize("label,make", PASSES, ids=[p[0] for p in PASSES])
def test_every_name_reads_its_own_values(many, label, make):
    names = many.signal_names()
    assert len(names) == SIGNALS
    for rounds in range(2):  # the second round answers from the cache
        for name in names:
            obj = make(name)
            for step in (0, STEPS - 1):
                assert many.signal_value(obj, step) == expected_value(str(obj), step), (obj, step)
            assert (many.signal_id(obj) is None) == (expected_value(str(obj), 0) is None)


def test_forgetting_keeps_answers_right(many):
    # Far more distinct texts than the cache keeps (about twice the signals): it is emptied and
    # refilled several times, and names looked up before and after still read their own values.
    names = many.signal_names()
    for round_ in range(5):
        for k in range(SIGNALS * 2 + 5000):
            text = f"top.u_block_{k % 37}.data_path_register_{k}{'' if k < SIGNALS else 'z'}"
            assert many.signal_value(text, 1) == expected_value(text, 1)
        for name in names[round_::97]:
            assert many.signal_value(name, 2) == expected_value(name, 2)


def test_freed_names_never_answer_for_new_objects(many):
    # Objects are made and dropped one after another, so a new object often takes the address of
    # one the cache saw; only the text may decide the answer.
    names = many.signal_names()
    for k in range(20000):
        obj = "".join(list(names[(k * 31) % SIGNALS])) if k % 3 else f"top.u_block_{k % 37}.nothing{k}"
        assert many.signal_value(obj, 3) == expected_value(obj, 3)
        del obj
        if k % 5000 == 0:
            gc.collect()


def test_values_ranges_and_ids_agree_with_values(many):
    names = many.signal_names()
    for name in names[::251]:
        sid = many.signal_id(name)
        assert sid is not None
        assert many.signal_values_range(name, 0, STEPS) == [expected_value(name, s) for s in range(STEPS)]
        assert many.signal_value_raw(name, 2) == expected_value(name, 2)
    assert len({many.signal_id(n) for n in names}) == SIGNALS


REFERENCE_WAYS = [
    ("the list items", lambda names: names),
    ("fresh copies", lambda names: ["".join(list(n)) for n in names]),
    ("unknown texts", lambda names: [n + "?" for n in names]),
]


@pytest.mark.parametrize("label,make", REFERENCE_WAYS, ids=[w[0] for w in REFERENCE_WAYS])
def test_the_cache_holds_each_object_at_most_twice_and_lets_go(many, many_path, label, make):
    # The cache keeps a name alive from its text table and from its object table, through
    # growing, places taken by other objects and forgetting; when the trace goes, both let go.
    names = make(many.signal_names())
    before = [sys.getrefcount(n) for n in names]
    trace = PyTrace.from_vcd(str(many_path))
    for rounds in range(3):
        for name in names:
            trace.signal_value(name, 1)
    del name
    after = [sys.getrefcount(n) for n in names]
    held = [a - b for a, b in zip(after, before)]
    assert max(held) <= 2 and min(held) >= 0
    del trace
    gc.collect()
    assert [sys.getrefcount(n) for n in names] == before
