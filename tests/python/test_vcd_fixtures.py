"""Loads every VCD fixture written by Icarus, Verilator, GHDL and fst2vcd and
checks quor's answers against the facts recorded in tests/fixtures/expected
(derived by tests/python/vcd_reference.py, a reader independent of quor).

Value conventions checked here: scalar x/z and vectors with any x/z bit read
as None; two-state vectors read as the int of all their bits (the 96-bit
signals whole); reals read as float. Values written with VHDL's other letters
(U, W, H, L, -) are checked on their own: U, W and - are unknown bits as X is,
L and H are 0 and 1.
"""
import functools
import json
import math
import pathlib

import pytest

import quor

FIXTURES = pathlib.Path(__file__).resolve().parents[1] / "fixtures"
EXPECTED = sorted((FIXTURES / "expected").glob("*.json"))


@functools.lru_cache(maxsize=None)
def expected(path):
    return json.loads(pathlib.Path(path).read_text())


@functools.lru_cache(maxsize=4)
def loaded(source):
    return quor.PyTrace.from_vcd(str(FIXTURES / source))


def cases():
    return [pytest.param(str(p), id=p.stem) for p in EXPECTED]


def trace_and_facts(path):
    facts = expected(path)
    return loaded(facts["source"]), facts


def test_every_vcd_fixture_has_expected_values():
    vcds = sorted(p.relative_to(FIXTURES).as_posix() for p in FIXTURES.glob("*/*.vcd"))
    recorded = sorted(expected(str(p))["source"] for p in EXPECTED)
    assert vcds and vcds == recorded


@pytest.mark.parametrize("path", cases())
def test_names_and_scopes(path):
    trace, facts = trace_and_facts(path)
    assert trace.signal_names() == facts["signal_names"]
    assert trace.scopes() == facts["scopes"]


@pytest.mark.parametrize("path", cases())
def test_widths(path):
    trace, facts = trace_and_facts(path)
    got = {name: trace.signal_width(name) for name in facts["widths"]}
    assert got == facts["widths"]
    assert trace.signal_width("no.such.signal") == 0


@pytest.mark.parametrize("path", cases())
def test_timestamps(path):
    trace, facts = trace_and_facts(path)
    assert trace.max_index() == facts["max_index"]
    got = [[i, trace.timestamp(i)] for i, _ in facts["timestamps"]]
    assert got == facts["timestamps"]
    assert trace.timestamp(facts["max_index"] + 1) == 0


def same_value(got, want):
    if want is None or got is None:
        return got is want
    if isinstance(want, float) and math.isnan(want):
        return isinstance(got, float) and math.isnan(got)
    if isinstance(want, float):
        return isinstance(got, float) and math.isclose(got, want, rel_tol=1e-15, abs_tol=0.0)
    return type(got) is int and got == want


def value_mismatches(trace, facts, nine_valued):
    mismatches = []
    for name, values in facts["values"].items():
        letters_at = set(facts["nine_valued"].get(name, []))
        for index, want in zip(facts["indices"], values):
            if (index in letters_at) != nine_valued:
                continue
            got = trace.signal_value(name, index)
            if not same_value(got, want):
                mismatches.append((name, index, got, want))
    return mismatches


@pytest.mark.parametrize("path", cases())
def test_values_at_chosen_indices(path):
    trace, facts = trace_and_facts(path)
    assert value_mismatches(trace, facts, nine_valued=False) == []


NINE_VALUED = [pytest.param(str(p), id=p.stem) for p in EXPECTED if expected(str(p))["nine_valued"]]


@pytest.mark.parametrize("path", NINE_VALUED)
def test_nine_valued_letters_follow_the_bit_rules(path):
    """GHDL writes std_logic's U, W, H, L and - into VCD (`U#`, `bUUUUUUU0`).
    U, W and - make a value unknown (None), as X does; L and H are a 0 and a 1
    bit, in a vector and as a scalar."""
    trace, facts = trace_and_facts(path)
    assert value_mismatches(trace, facts, nine_valued=True) == []


@pytest.mark.parametrize("path", cases())
def test_values_past_the_end_are_none(path):
    trace, facts = trace_and_facts(path)
    past = facts["max_index"] + 1
    assert {name: trace.signal_value(name, past) for name in facts["signal_names"]} == {
        name: None for name in facts["signal_names"]}


@pytest.mark.parametrize("path", cases())
def test_aliases_share_one_id(path):
    trace, facts = trace_and_facts(path)
    for group in facts["alias_groups"]:
        ids = {trace.signal_id(name) for name in group}
        assert len(ids) == 1 and None not in ids, group
    distinct = {trace.signal_id(name) for name in facts["signal_names"]}
    assert None not in distinct
    groups = len(facts["signal_names"]) - sum(len(g) - 1 for g in facts["alias_groups"])
    assert len(distinct) == groups


@pytest.mark.parametrize("path", cases())
def test_ranges_agree_with_single_reads(path):
    trace, facts = trace_and_facts(path)
    end = facts["max_index"] + 1
    for name in facts["signal_names"][:8]:
        singles = [trace.signal_value(name, i) for i in range(end)]
        assert repr(trace.signal_values_range(name, 0, end)) == repr(singles), name  # repr: NaN matches NaN
