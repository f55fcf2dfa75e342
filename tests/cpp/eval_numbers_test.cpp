// Comparisons, slices and signed readings of wide, signed and real operands: each case is
// evaluated index by index with the plain evaluator and searched with the compiled one.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "eval/evaluator.hpp"
#include "query/find.hpp"
#include "eval/whole_number.hpp"
#include "eval_test_trace.hpp"

namespace {

using namespace quor_core;
using eval::Expr;
using eval::ExprKind;
using signal::SignalValue;

constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();

Expr c(SignalValue v) { return Expr::constant(std::move(v)); }
Expr u(uint64_t v) { return c(SignalValue::uint(v)); }
Expr sig(uint64_t id) { return Expr::signal(id); }
Expr bin(ExprKind k, const Expr& l, const Expr& r) { return Expr::binary(k, l, r); }
Expr sgn(const Expr& e) { return Expr::unary(ExprKind::Signed, e); }
uint64_t minus(uint64_t v) { return uint64_t{0} - v; }  // -v in two's complement

SignalValue U(uint64_t v) { return SignalValue::uint(v); }
SignalValue W(std::vector<uint64_t> words) { return SignalValue::wide(std::move(words)); }
SignalValue R(double v) { return SignalValue::real(v); }
const SignalValue kUnknown;

// Four samples of five signals, as a simulator declares them:
//   0 color [7:0]   0xE2 (-30), 0x1E (30), 0x80 (-128), 0x7F (127)
//   1 wide [95:0]   5, 2^64 + 5, 5 * 2^64 + 0xF000..., 2^96 - 1
//   2 rl (real)     1.5, 1.0, NaN, -1.5
//   3 big [63:0]    2^64 - 1, 0, 2^63, 1
//   4 bit           1, 0, 1, 0
eval_test::DenseTrace number_trace() {
    const std::vector<SignalValue> columns[] = {
        {U(0xE2), U(0x1E), U(0x80), U(0x7F)},
        {W({5, 0}), W({5, 1}), W({0xF000000000000000, 5}), W({kMax, 0xFFFFFFFF})},
        {R(1.5), R(1.0), R(std::nan("")), R(-1.5)},
        {U(kMax), U(0), U(uint64_t{1} << 63), U(1)},
        {U(1), U(0), U(1), U(0)},
    };
    signal::SignalStore store;
    for (uint32_t id = 0; id < 5; ++id) {
        for (uint64_t i = 0; i < 4; ++i) store.set(id, i, columns[id][i]);
    }
    eval_test::DenseTrace trace({"top.color", "top.wide", "top.rl", "top.big", "top.bit"}, std::move(store), 4);
    trace.set_widths({8, 96, 64, 64, 1});
    return trace;
}

struct Case {
    const char* what;
    Expr expr;
    std::vector<SignalValue> at;  // the value at indices 0..3
};

void check(const Case& k) {
    static const auto trace = number_trace();
    std::vector<uint64_t> truthy;
    for (uint64_t i = 0; i < 4; ++i) {
        const SignalValue v = eval::eval(trace, k.expr, i);
        const bool both_nan = v.kind() == signal::ValueKind::Real && k.at[i].kind() == signal::ValueKind::Real &&
                              std::isnan(v.as_real()) && std::isnan(k.at[i].as_real());
        if (!both_nan) {
            EXPECT_EQ(v, k.at[i]) << k.what << " at " << i;
        }
        if (eval::eval_bool(trace, k.expr, i)) truthy.push_back(i);
    }
    EXPECT_EQ(eval::find(trace, k.expr), truthy) << k.what;
    EXPECT_EQ(eval::parallel_count(trace, k.expr), truthy.size()) << k.what;
}

TEST(EvalNumbers, WideOperandsAreWholeNumbers) {
    const Case cases[] = {
        {"equals a uint when the upper words are 0", bin(ExprKind::Eq, sig(1), u(5)), {U(1), U(0), U(0), U(0)}},
        {"differs above bit 64", bin(ExprKind::Eq, sig(1), c(W({5, 1}))), {U(0), U(1), U(0), U(0)}},
        {"ordered whole", bin(ExprKind::Gt, sig(1), u(kMax)), {U(0), U(1), U(1), U(1)}},
        {"uint on the left", bin(ExprKind::Lt, u(kMax), sig(1)), {U(0), U(1), U(1), U(1)}},
        {"wide against wide", bin(ExprKind::Lte, sig(1), c(W({5, 1, 0}))), {U(1), U(1), U(0), U(0)}},
        {"slice above 64 bits", Expr::slice(sig(1), 95, 64), {U(0), U(1), U(5), U(0xFFFFFFFF)}},
        {"slice across a word boundary", Expr::slice(sig(1), 67, 60), {U(0), U(0x10), U(0x5F), U(0xFF)}},
        {"slice wider than 64 bits", Expr::slice(sig(1), 127, 4),
         {U(0), U(uint64_t{1} << 60), U(0x5F00000000000000), W({kMax, 0x0FFFFFFF})}},
        {"slice wholly above the value", Expr::slice(sig(1), 300, 128), {U(0), U(0), U(0), U(0)}},
        {"addition keeps the low 64 bits", bin(ExprKind::Add, sig(1), u(1)),
         {U(6), U(6), U(0xF000000000000001), U(0)}},
        {"bitwise keeps the low 64 bits", bin(ExprKind::BitAnd, sig(1), u(0xFF)), {U(5), U(5), U(0), U(0xFF)}},
    };
    for (const Case& k : cases) check(k);
}

TEST(EvalNumbers, SignedWideOperandsAreWholeNumbers) {
    const Expr wide = sgn(sig(1));
    const Expr minus_one = sgn(c(W({kMax, kMax})));
    const Case cases[] = {
        {"extends from the declared width", wide, {U(5), W({5, 1}), W({0xF000000000000000, 5}), W({kMax, kMax})}},
        {"below zero", bin(ExprKind::Lt, wide, u(0)), {U(0), U(0), U(0), U(1)}},
        {"an unsigned operand keeps its number", bin(ExprKind::Gt, wide, u(kMax)), {U(0), U(1), U(1), U(0)}},
        {"not equal to the same bits unsigned", bin(ExprKind::Eq, wide, c(W({kMax, kMax}))), {U(0), U(0), U(0), U(0)}},
        {"a wide constant under signed", bin(ExprKind::Eq, wide, minus_one), {U(0), U(0), U(0), U(1)}},
        {"against a signed narrow operand", bin(ExprKind::Lt, wide, sgn(sig(0))), {U(0), U(0), U(0), U(1)}},
        {"against an unsigned 64-bit signal", bin(ExprKind::Lt, wide, sig(3)), {U(1), U(0), U(0), U(1)}},
        {"on the right", bin(ExprKind::Gte, sig(3), wide), {U(1), U(0), U(0), U(1)}},
        {"against a real", bin(ExprKind::Lt, wide, c(R(-0.5))), {U(0), U(0), U(0), U(1)}},
        {"under a relative offset", bin(ExprKind::Lt, Expr::rel_eval(wide, 1), u(1)), {U(0), U(0), U(1), kUnknown}},
        {"sliced above the width", Expr::slice(wide, 127, 96), {U(0), U(0), U(0), U(0xFFFFFFFF)}},
        {"a slice extends from its own width", bin(ExprKind::Lt, sgn(Expr::slice(sig(1), 64, 0)), u(0)),
         {U(0), U(1), U(1), U(1)}},
        {"a sign bit far above the value", sgn(Expr::slice(sig(1), uint64_t{1} << 40, 0)),
         {U(5), W({5, 1}), W({0xF000000000000000, 5}), W({kMax, 0xFFFFFFFF})}},
        {"arithmetic keeps the low 64 bits", bin(ExprKind::Add, wide, u(1)), {U(6), U(6), U(0xF000000000000001), U(0)}},
        {"no value equals no value", bin(ExprKind::Eq, Expr::rel_eval(wide, 3), c(kUnknown)), {U(0), U(1), U(1), U(1)}},
        {"no value differs from a number", bin(ExprKind::Neq, Expr::rel_eval(wide, 1), u(5)), {U(1), U(1), U(1), U(1)}},
    };
    for (const Case& k : cases) check(k);
}

TEST(EvalNumbers, SignedOperandsCompareSigned) {
    const Case cases[] = {
        {"extends from the declared width", sgn(sig(0)), {U(minus(30)), U(30), U(minus(128)), U(127)}},
        {"below zero", bin(ExprKind::Lt, sgn(sig(0)), u(0)), {U(1), U(0), U(1), U(0)}},
        {"negative literal", bin(ExprKind::Gte, sgn(sig(0)), u(minus(30))), {U(1), U(1), U(0), U(1)}},
        {"literal on the left", bin(ExprKind::Gt, u(minus(100)), sgn(sig(0))), {U(0), U(0), U(1), U(0)}},
        {"equal to its two's complement", bin(ExprKind::Eq, sgn(sig(0)), u(minus(30))), {U(1), U(0), U(0), U(0)}},
        {"unsigned without signed", bin(ExprKind::Lt, sig(0), u(0x80)), {U(0), U(1), U(0), U(1)}},
        {"under a relative offset", bin(ExprKind::Lt, Expr::rel_eval(sgn(sig(0)), 1), u(0)),
         {U(0), U(1), U(0), kUnknown}},
        {"of a relative offset", bin(ExprKind::Lt, sgn(Expr::rel_eval(sig(0), -1)), u(0)),
         {kUnknown, U(1), U(0), U(1)}},
        {"a slice extends from its own width", bin(ExprKind::Lt, sgn(Expr::slice(sig(0), 3, 0)), u(0)),
         {U(0), U(1), U(0), U(1)}},
        {"one bit", sgn(sig(4)), {U(kMax), U(0), U(kMax), U(0)}},
        {"64 bits", bin(ExprKind::Lt, sgn(sig(3)), u(0)), {U(1), U(0), U(1), U(0)}},
        {"against a real", bin(ExprKind::Lt, sgn(sig(0)), c(R(-29.5))), {U(1), U(0), U(1), U(0)}},
        {"of a real", bin(ExprKind::Lt, sgn(sig(2)), u(0)), {U(0), U(0), U(0), U(1)}},
        {"arithmetic wraps", bin(ExprKind::Add, sgn(sig(0)), u(30)), {U(0), U(60), U(minus(98)), U(157)}},
        {"both sides signed", bin(ExprKind::Gt, sgn(sig(0)), sgn(sig(3))), {U(0), U(1), U(1), U(1)}},
    };
    for (const Case& k : cases) check(k);
}

TEST(EvalNumbers, RealOperandsCompareAsReals) {
    const double nan = std::nan("");
    const Case cases[] = {
        {"equal as reals", bin(ExprKind::Eq, sig(2), u(1)), {U(0), U(1), U(0), U(0)}},
        {"not equal, NaN included", bin(ExprKind::Neq, sig(2), u(1)), {U(1), U(0), U(1), U(1)}},
        {"ordered as reals", bin(ExprKind::Gt, sig(2), u(1)), {U(1), U(0), U(0), U(0)}},
        {"below zero", bin(ExprKind::Lt, sig(2), u(0)), {U(0), U(0), U(0), U(1)}},
        {"NaN is not ordered", bin(ExprKind::Gte, sig(2), sig(2)), {U(1), U(1), U(0), U(1)}},
        {"NaN differs from itself", bin(ExprKind::Neq, sig(2), sig(2)), {U(0), U(0), U(1), U(0)}},
        {"against a wide number", bin(ExprKind::Lt, sig(2), sig(1)), {U(1), U(1), U(0), U(1)}},
        {"against decimal text", bin(ExprKind::Eq, sig(2), c(SignalValue::text("1"))), {U(0), U(1), U(0), U(0)}},
        {"against no value", bin(ExprKind::Lt, sig(2), c(kUnknown)), {kUnknown, kUnknown, kUnknown, kUnknown}},
        {"uint against a real constant", bin(ExprKind::Lte, sig(3), c(R(1.5))), {U(0), U(1), U(0), U(1)}},
        {"against a NaN constant", bin(ExprKind::Lt, sig(3), c(R(nan))), {U(0), U(0), U(0), U(0)}},
        {"arithmetic keeps the truncated reading", bin(ExprKind::Add, sig(2), u(1)), {U(2), U(2), U(1), U(1)}},
        {"signed of a real is the real", sgn(sig(2)), {R(1.5), R(1.0), R(nan), R(-1.5)}},
    };
    for (const Case& k : cases) check(k);
}

TEST(EvalNumbers, ConstantOperands) {
    const double two_64 = 18446744073709551616.0;
    const auto bit64 = [] {  // 2^64 as 65 two-state bits
        std::vector<uint8_t> bits(65, signal::kBit0);
        bits[0] = signal::kBit1;
        return SignalValue::four_state(std::move(bits));
    }();
    const struct {
        const char* what;
        Expr expr;
        SignalValue expected;
    } cases[] = {
        {"real equals a wide number", bin(ExprKind::Eq, c(R(two_64)), c(W({0, 1}))), U(1)},
        {"two-state bits read whole", bin(ExprKind::Eq, c(bit64), c(W({0, 1}))), U(1)},
        {"minus zero equals zero", bin(ExprKind::Eq, c(R(-0.0)), u(0)), U(1)},
        {"a uint converts to the nearest real", bin(ExprKind::Eq, u((uint64_t{1} << 53) + 1), c(R(9007199254740992.0))),
         U(1)},
        {"negative real below every uint", bin(ExprKind::Lt, c(R(-1.0)), u(0)), U(1)},
        {"wide without words has no number", bin(ExprKind::Lt, c(W({})), u(1)), kUnknown},
        {"text below a wide number", bin(ExprKind::Lt, c(SignalValue::text("7")), c(W({0, 1}))), U(1)},
        {"x bits have no number", bin(ExprKind::Eq, c(SignalValue::four_state({signal::kBitX})), c(R(0.0))), U(0)},
    };
    const auto trace = number_trace();
    for (const auto& k : cases) EXPECT_EQ(eval::eval(trace, k.expr, 0), k.expected) << k.what;
}

TEST(WholeNumber, ToDoubleRoundsToNearest) {
    const struct {
        std::vector<uint64_t> words;
        double expected;
    } cases[] = {
        {{}, 0.0},
        {{7, 0, 0}, 7.0},
        {{1, 1}, 18446744073709551616.0},  // 2^64 + 1 rounds to 2^64
        {{0, uint64_t{1} << 63, uint64_t{1} << 52}, std::ldexp(1.0, 180)},  // a tie goes to even
        {{1, uint64_t{1} << 63, uint64_t{1} << 52}, std::ldexp(1.0, 180) + std::ldexp(1.0, 128)},  // just above
        {std::vector<uint64_t>(17, kMax), HUGE_VAL},
    };
    for (const auto& k : cases) EXPECT_EQ(eval::words_to_double(k.words), k.expected);
}

TEST(WholeNumber, SumsAreExact) {
    eval::WordSum sum;
    sum.add_product(std::vector<uint64_t>{kMax}, kMax);  // (2^64 - 1)^2 = 2^128 - 2^65 + 1
    EXPECT_EQ(std::vector<uint64_t>(sum.words().begin(), sum.words().end()), (std::vector<uint64_t>{1, kMax - 1}));
    sum.add_product(std::vector<uint64_t>{kMax, 1}, 2);  // + 2^66 - 2 makes 2^128 + 2^65 - 1
    EXPECT_EQ(std::vector<uint64_t>(sum.words().begin(), sum.words().end()), (std::vector<uint64_t>{kMax, 1, 1}));
}

}  // namespace
