import gc

import pytest

from quor import PyExpr, PyTrace

E = PyExpr


def sig(t, name):
    return E.signal(t.signal_id(name))


def test_not_instantiable():
    with pytest.raises(TypeError):
        PyExpr()


@pytest.mark.parametrize(
    "method, signature",
    [
        (E.signal, "(id)"),
        (E.const_int, "(val)"),
        (E.const_wide, "(value)"),
        (E.const_float, "(val)"),
        (E.const_str, "(val)"),
        (E.always_true, "()"),
        (E.rel_eval, "($self, offset)"),
        (E.not_, "($self)"),
        (E.and_, "($self, other)"),
        (E.neq, "($self, other)"),
        (E.bit_xor, "($self, other)"),
        (E.slice, "($self, high, low)"),
        (E.is_z, "($self)"),
    ],
)
def test_text_signatures(method, signature):
    assert method.__text_signature__ == signature


def test_every_builder_exists():
    names = ["rel_eval", "not_", "and_", "or_", "eq_", "neq", "gt_", "lt_", "gte", "lte", "add", "sub",
             "bit_and", "bit_or", "bit_xor", "slice", "signed", "is_x", "is_z",
             "signal", "const_int", "const_float", "const_str", "always_true"]
    assert all(hasattr(E, n) for n in names)
    assert len(names) == 24


@pytest.mark.parametrize(
    "call, exc, param",
    [
        (lambda: E.const_int(-1), OverflowError, "val"),
        (lambda: E.const_int(2**64), OverflowError, "val"),
        (lambda: E.const_int("1"), TypeError, "val"),
        (lambda: E.const_wide(-1), OverflowError, "value"),
        (lambda: E.const_wide(-(2**100)), OverflowError, "value"),
        (lambda: E.const_wide(1.0), TypeError, "value"),
        (lambda: E.const_wide("1"), TypeError, "value"),
        (lambda: E.const_float("x"), TypeError, "val"),
        (lambda: E.const_str(3), TypeError, "val"),
        (lambda: E.signal(-1), OverflowError, "id"),
        (lambda: E.signal(1.5), TypeError, "id"),
        (lambda: E.always_true().and_(5), TypeError, "other"),
        (lambda: E.always_true().rel_eval(2**63), OverflowError, "offset"),
        (lambda: E.always_true().rel_eval(-(2**63) - 1), OverflowError, "offset"),
        (lambda: E.always_true().slice(-1, 0), OverflowError, "high"),
        (lambda: E.always_true().slice(0, -1), OverflowError, "low"),
    ],
)
def test_argument_errors_name_the_parameter(call, exc, param):
    with pytest.raises(exc, match=param):
        call()


def test_arity_errors():
    with pytest.raises(TypeError):
        E.always_true().and_()
    with pytest.raises(TypeError):
        E.always_true().not_(1)
    with pytest.raises(TypeError):
        E.signal(id=1, other=2)


def test_constants_and_keywords(small):
    assert small.eval_expr(E.const_float(3), 0) == 3.0
    assert isinstance(small.eval_expr(E.const_float(3), 0), float)
    assert small.eval_expr(E.const_int(2**64 - 1), 0) == 2**64 - 1
    assert small.eval_expr(E.const_str(val="idle"), 0) == "idle"
    assert small.eval_expr(E.const_int(0xAB).slice(low=4, high=7), 0) == 0xA
    assert small.eval_expr(E.const_int(0xAB).slice(0, 7), 0) == 0


def test_operands_are_copied(small):
    a = sig(small, "top.cnt")
    b = E.const_int(1)
    c = a.add(b)
    d = a.and_(a)
    del a, b
    gc.collect()
    assert small.eval_expr(c, 1) == 2
    assert small.eval_expr_bool(d, 1)


def test_deep_tree_through_python(small):
    e = sig(small, "top.clk")
    for i in range(3000):
        e = e.rel_eval(1 if i % 2 else -1).not_().not_()
    expected = [i for i in range(small.max_index() + 1) if small.eval_expr_bool(e, i)]
    assert small.find(e) == expected
    assert small.parallel_find(e) == expected
    assert small.parallel_count(e) == len(expected)
    del e


@pytest.mark.parametrize("value", [0, 1, 2**63, 2**64 - 1])
def test_const_wide_of_a_64_bit_value_is_const_int(value):
    t = PyTrace.from_vcd_string("#0")
    wide, narrow = E.const_wide(value), E.const_int(value)
    assert t.eval_expr(wide, 0) == t.eval_expr(narrow, 0) == value
    assert t.eval_expr_bool(wide.eq_(narrow), 0)


@pytest.mark.parametrize("value", [2**64, 2**64 + 5, 2**96 - 1, 3**200])
def test_const_wide_keeps_every_word(value):
    t = PyTrace.from_vcd_string("#0")
    assert t.eval_expr_bool(E.const_wide(value).eq_(E.const_wide(value)), 0)
    assert not t.eval_expr_bool(E.const_wide(value).eq_(E.const_wide(value + 2**64)), 0)
    assert not t.eval_expr_bool(E.const_wide(value).eq_(E.const_wide(value + 1)), 0)
