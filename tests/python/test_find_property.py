"""The compiled whole-trace searches agree with the per-index evaluator on random traces and
random expression trees (relative offsets, NaN and negative reals, x/z bits, text constants,
a 70-bit vector, signed readings and constants that read as negative numbers)."""

from hypothesis import given, settings, strategies as st

from quor import PyExpr, PyTrace

E = PyExpr

SIGNALS = [("a", 1), ("b", 4), ("r", 0), ("w", 70)]  # width 0 marks a real
CODES = "!\"#$"


def vcd_text(steps):
    lines = ["$scope module top $end"]
    for (name, width), code in zip(SIGNALS, CODES):
        kind = "real 1" if width == 0 else f"wire {width}"
        lines.append(f"$var {kind} {code} {name} $end")
    lines += ["$upscope $end", "$enddefinitions $end"]
    for t, changes in enumerate(steps):
        lines.append(f"#{t}")
        for sig, value in changes:
            name, width = SIGNALS[sig]
            code = CODES[sig]
            if width == 0:
                lines.append(f"r{value} {code}")
            elif width == 1:
                lines.append(f"{value[0]}{code}")
            else:
                lines.append(f"b{value} {code}")
    return "\n".join(lines) + "\n"


bits4 = st.text(alphabet="01xz", min_size=1, max_size=4)
reals = st.sampled_from(["0", "-0", "1.5", "-1.5", "2", "nan", "inf", "-inf", "abc"])
# Values of the 70-bit vector that differ above bit 64, or only below it.
bits70 = st.one_of(
    st.sampled_from(["1" + "0" * 64, "11" + "0" * 64 + "11", "1" * 70, "101", "x" + "1" * 69]),
    st.text(alphabet="01", min_size=1, max_size=70),
)
change = st.one_of(
    st.tuples(st.just(0), st.sampled_from(["0", "1", "x", "z"])),
    st.tuples(st.just(1), bits4),
    st.tuples(st.just(2), reals),
    st.tuples(st.just(3), bits70),
)
traces = st.lists(st.lists(change, max_size=3), max_size=25)

leaves = st.one_of(
    st.integers(0, 5).map(E.signal),
    st.one_of(st.integers(0, 20), st.sampled_from([2**64 - 1, 2**64 - 5, 2**63])).map(E.const_int),
    st.sampled_from([0.0, -0.0, 1.5, -1.5, float("nan"), float("inf")]).map(E.const_float),
    st.sampled_from(["", "0", "3", "idle"]).map(E.const_str),
    st.just(None).map(lambda _: E.always_true()),
)
BINARY = ["and_", "or_", "eq_", "neq", "gt_", "lt_", "gte", "lte", "add", "sub", "bit_and", "bit_or", "bit_xor"]
offsets = st.sampled_from([-3, -1, 1, 2, 30, -(2**63), 2**63 - 1])


def extend(children):
    return st.one_of(
        st.tuples(children, children, st.sampled_from(BINARY)).map(lambda t: getattr(t[0], t[2])(t[1])),
        st.tuples(children, offsets).map(lambda t: t[0].rel_eval(t[1])),
        st.tuples(children, st.sampled_from(["not_", "signed", "is_x", "is_z"])).map(lambda t: getattr(t[0], t[1])()),
        st.tuples(children, st.sampled_from([0, 1, 3, 64, 66, 69, 2**64 - 1]), st.sampled_from([0, 1, 2, 62, 64, 70])).map(
            lambda t: t[0].slice(t[1], t[2])),
    )


exprs = st.recursive(leaves, extend, max_leaves=12)


@settings(max_examples=300, deadline=None)
@given(traces, exprs)
def test_searches_agree_with_evaluator(steps, expr):
    t = PyTrace.from_vcd_string(vcd_text(steps))
    expected = [i for i in range(t.max_index() + 1) if t.eval_expr_bool(expr, i)]
    assert t.find(expr) == expected
    assert t.parallel_find(expr) == expected
    assert t.parallel_count(expr) == len(expected)
    rows = t.find_with_values(expr, ["top.b", "top.r"])
    assert [i for i, _ in rows] == expected
    for i, values in rows:
        got = [t.signal_value("top.b", i), t.signal_value("top.r", i)]
        assert repr(values) == repr(got)  # repr so NaN compares equal to NaN
