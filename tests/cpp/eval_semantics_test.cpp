// The evaluator's semantics on hand-picked cases: operators, truthiness, relative indices.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "eval/evaluator.hpp"
#include "eval/ops.hpp"
#include "eval_test_trace.hpp"

namespace {

using namespace quor_core;
using eval::Expr;
using eval::ExprKind;
using signal::SignalValue;

Expr c(SignalValue v) { return Expr::constant(std::move(v)); }
Expr u(uint64_t v) { return c(SignalValue::uint(v)); }

// Signal 0 counts 10, 11, 12, 13 over four samples.
eval_test::DenseTrace counter_trace() {
    signal::SignalStore store;
    for (uint64_t i = 0; i < 4; ++i) store.set(0, i, SignalValue::uint(10 + i));
    return eval_test::DenseTrace({"top.cnt"}, std::move(store), 4);
}

struct Case {
    const char* what;
    Expr expr;
    SignalValue expected;
};

TEST(EvalSemantics, OperatorsOnConstants) {
    const auto nan = SignalValue::real(std::nan(""));
    const auto x = SignalValue::four_state({signal::kBit1, signal::kBitX});
    const auto max = std::numeric_limits<uint64_t>::max();
    const Case cases[] = {
        {"eq unknown unknown", Expr::binary(ExprKind::Eq, c({}), c({})), SignalValue::uint(1)},
        {"neq unknown unknown", Expr::binary(ExprKind::Neq, c({}), c({})), SignalValue::uint(0)},
        {"eq unknown zero", Expr::binary(ExprKind::Eq, c({}), u(0)), SignalValue::uint(0)},
        {"neq unknown zero", Expr::binary(ExprKind::Neq, c({}), u(0)), SignalValue::uint(1)},
        {"eq uint text", Expr::binary(ExprKind::Eq, u(5), c(SignalValue::text("5"))), SignalValue::uint(1)},
        {"eq reals as reals", Expr::binary(ExprKind::Eq, c(SignalValue::real(1.5)), c(SignalValue::real(1.2))),
         SignalValue::uint(0)},
        {"eq wide whole", Expr::binary(ExprKind::Eq, c(SignalValue::wide({4, 1})), c(SignalValue::wide({4, 2}))),
         SignalValue::uint(0)},
        {"eq nan nan", Expr::binary(ExprKind::Eq, c(nan), c(nan)), SignalValue::uint(0)},
        {"eq text non-numeric", Expr::binary(ExprKind::Eq, c(SignalValue::text("a")), c(SignalValue::text("a"))),
         SignalValue::uint(1)},
        {"eq fourstate identical", Expr::binary(ExprKind::Eq, c(x), c(x)), SignalValue::uint(1)},
        {"gt with x", Expr::binary(ExprKind::Gt, c(x), u(0)), SignalValue::unknown()},
        {"sub wraps", Expr::binary(ExprKind::Sub, u(0), u(1)), SignalValue::uint(max)},
        {"add wraps", Expr::binary(ExprKind::Add, u(max), u(1)), SignalValue::uint(0)},
        {"bitxor", Expr::binary(ExprKind::BitXor, u(0b1100), u(0b1010)), SignalValue::uint(0b0110)},
        {"lte", Expr::binary(ExprKind::Lte, u(3), u(3)), SignalValue::uint(1)},
        {"and no short circuit value", Expr::binary(ExprKind::And, u(0), c({})), SignalValue::uint(0)},
        {"or", Expr::binary(ExprKind::Or, c({}), c(SignalValue::text("0"))), SignalValue::uint(1)},
        {"slice low nibble", Expr::slice(u(0xAB), 3, 0), SignalValue::uint(0xB)},
        {"slice high nibble", Expr::slice(u(0xAB), 7, 4), SignalValue::uint(0xA)},
        {"slice reversed", Expr::slice(u(0xAB), 0, 3), SignalValue::uint(0)},
        {"slice 63..0", Expr::slice(u(max), 63, 0), SignalValue::uint(max)},
        {"slice 100..0", Expr::slice(u(0xAB), 100, 0), SignalValue::uint(0xAB)},
        {"slice full width exact", Expr::slice(u(0xAB), max, 0), SignalValue::uint(0xAB)},
        {"slice low 64", Expr::slice(u(max), max, 64), SignalValue::uint(0)},
        {"slice unknown", Expr::slice(c({}), 3, 0), SignalValue::unknown()},
        {"signed of a constant keeps its bits", Expr::unary(ExprKind::Signed, u(0xE2)), SignalValue::uint(0xE2)},
        {"signed of a real is the real", Expr::unary(ExprKind::Signed, c(SignalValue::real(-3.9))),
         SignalValue::real(-3.9)},
        {"isx unknown", Expr::unary(ExprKind::IsX, c({})), SignalValue::uint(1)},
        {"isz unknown", Expr::unary(ExprKind::IsZ, c({})), SignalValue::uint(0)},
        {"isx uint", Expr::unary(ExprKind::IsX, u(7)), SignalValue::uint(0)},
        {"isz z bit", Expr::unary(ExprKind::IsZ, c(SignalValue::four_state({signal::kBitZ}))), SignalValue::uint(1)},
        {"not of only x and z", Expr::unary(ExprKind::Not, c(SignalValue::four_state({signal::kBitX, signal::kBitZ}))),
         SignalValue::uint(1)},
        {"not nan", Expr::unary(ExprKind::Not, c(nan)), SignalValue::uint(0)},
        {"not minus zero", Expr::unary(ExprKind::Not, c(SignalValue::real(-0.0))), SignalValue::uint(1)},
        {"not empty text", Expr::unary(ExprKind::Not, c(SignalValue::text(""))), SignalValue::uint(1)},
        {"const text", c(SignalValue::text("idle")), SignalValue::text("idle")},
    };
    const auto trace = counter_trace();
    for (const Case& k : cases) EXPECT_EQ(eval::eval(trace, k.expr, 0), k.expected) << k.what;
}

TEST(EvalSemantics, RelativeIndices) {
    const auto trace = counter_trace();  // max_index 3
    const Expr s = Expr::signal(0);
    const uint64_t max = std::numeric_limits<uint64_t>::max();
    struct Rel {
        const char* what;
        Expr expr;
        uint64_t index;
        SignalValue expected;
    };
    const Rel cases[] = {
        {"before start", Expr::rel_eval(s, -1), 0, {}},
        {"past end", Expr::rel_eval(s, 1), 3, {}},
        {"zero at end", Expr::rel_eval(s, 0), 3, SignalValue::uint(13)},
        {"outer checked first", Expr::rel_eval(Expr::rel_eval(s, 2), -2), 0, {}},
        {"inner back in range", Expr::rel_eval(Expr::rel_eval(s, -2), 2), 0, SignalValue::uint(10)},
        {"no wrap from top index", Expr::rel_eval(s, 1), max, {}},
        {"no wrap to top", Expr::rel_eval(s, std::numeric_limits<int64_t>::min()), 0, {}},
        {"large back step", Expr::rel_eval(s, std::numeric_limits<int64_t>::min()), max, {}},
        {"index past end unchecked", s, 9, {}},
        {"unknown id", Expr::signal(uint64_t{1} << 32), 0, {}},
    };
    for (const Rel& k : cases) EXPECT_EQ(eval::eval(trace, k.expr, k.index), k.expected) << k.what;
}

TEST(EvalSemantics, SignExtendAndSliceHelpers) {
    const uint64_t max = std::numeric_limits<uint64_t>::max();
    EXPECT_EQ(eval::sign_extend(0xF, 4), -1);
    EXPECT_EQ(eval::sign_extend(0x7, 4), 7);
    EXPECT_EQ(eval::sign_extend(0x1F0, 4), 0x1F0);
    EXPECT_EQ(eval::sign_extend(0x8, 0), 8);
    EXPECT_EQ(eval::sign_extend(max, 64), -1);
    EXPECT_EQ(eval::sign_extend(uint64_t{1} << 62, 63), std::numeric_limits<int64_t>::min() + (int64_t{1} << 62));
    EXPECT_EQ(eval::bit_slice(5, max, 0), 5u);
    EXPECT_EQ(eval::bit_slice(max, max - 1, 1), max >> 1);
}

}  // namespace
