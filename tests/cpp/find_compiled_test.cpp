// The compiled, segment-stepping searches must return exactly what the plain evaluator gives
// index by index, on random traces and random trees.

#include <gtest/gtest.h>

#include <random>

#include "eval/evaluator.hpp"
#include "query/find.hpp"
#include "eval_test_trace.hpp"

namespace {

using namespace quor_core;

std::vector<uint64_t> plain_find(const trace::Trace& t, const eval::Expr& e) {
    std::vector<uint64_t> out;
    for (uint64_t i = 0; i <= t.max_index(); ++i) {
        if (eval::eval_bool(t, e, i)) out.push_back(i);
    }
    return out;
}

TEST(FindCompiled, AgreesWithPlainEvaluator) {
    for (uint64_t seed = 0; seed < 400; ++seed) {
        std::mt19937_64 rng(seed);
        const uint32_t signals = 1 + rng() % 4;
        const uint64_t samples = rng() % 5 == 0 ? rng() % 2 : rng() % 60;
        const auto trace = eval_test::random_trace(rng, signals, samples);
        const auto expr = eval_test::random_expr(rng, signals, samples, 1 + static_cast<int>(rng() % 5));
        const auto expected = plain_find(trace, expr);
        ASSERT_EQ(eval::find(trace, expr), expected) << "seed " << seed;
        ASSERT_EQ(eval::parallel_find(trace, expr), expected) << "seed " << seed;
        ASSERT_EQ(eval::parallel_count(trace, expr), expected.size()) << "seed " << seed;
    }
}

TEST(FindCompiled, TwoStateBlocksAgreeWithPlainEvaluator) {
    // Long enough for whole blocks, with signals that change every index or rarely.
    for (uint64_t seed = 0; seed < 60; ++seed) {
        std::mt19937_64 rng(seed);
        const uint32_t signals = 1 + rng() % 3;
        const uint64_t samples = 1000 + rng() % 3000;
        const auto trace = eval_test::random_trace(rng, signals, samples, true);
        const auto expr = eval_test::random_expr(rng, signals, samples, 1 + static_cast<int>(rng() % 4), true);
        const auto expected = plain_find(trace, expr);
        ASSERT_EQ(eval::find(trace, expr), expected) << "seed " << seed;
        ASSERT_EQ(eval::parallel_count(trace, expr), expected.size()) << "seed " << seed;
    }
}

TEST(FindCompiled, BlocksWithOtherKindsFallBackPerBlock) {
    // Uint constants over signals that also hold x/z, reals, text and Unknown stretches: some
    // blocks evaluate whole, others are stepped segment by segment.
    for (uint64_t seed = 0; seed < 40; ++seed) {
        std::mt19937_64 rng(seed + 1000);
        const uint32_t signals = 1 + rng() % 3;
        const uint64_t samples = 1000 + rng() % 3000;
        const auto trace = eval_test::random_trace(rng, signals, samples, false);
        const auto expr = eval_test::random_expr(rng, signals, samples, 1 + static_cast<int>(rng() % 4), true);
        const auto expected = plain_find(trace, expr);
        ASSERT_EQ(eval::find(trace, expr), expected) << "seed " << seed;
        ASSERT_EQ(eval::parallel_count(trace, expr), expected.size()) << "seed " << seed;
    }
}

// Signed operands over two-state blocks: sign extension from each signal's width and signed
// ordering, against constants that read as negative numbers and against each other.
eval::Expr random_signed_comparison(std::mt19937_64& rng, uint32_t signals) {
    using eval::Expr;
    using eval::ExprKind;
    const auto operand = [&]() -> Expr {
        Expr s = Expr::signal(rng() % signals);
        switch (rng() % 5) {
            case 0: return Expr::constant(signal::SignalValue::uint(eval_test::random_number(rng)));
            case 1: return s;
            case 2: s = Expr::slice(s, 1 + rng() % 2, 0); break;
            case 3: s = Expr::rel_eval(s, rng() % 2 ? -1 : 3); break;
            default: break;
        }
        Expr v = Expr::unary(ExprKind::Signed, s);
        if (rng() % 4 == 0) v = Expr::binary(ExprKind::Sub, v, Expr::constant(signal::SignalValue::uint(1)));
        return rng() % 4 == 0 ? Expr::rel_eval(v, 1) : v;
    };
    const auto kind = static_cast<ExprKind>(static_cast<unsigned>(ExprKind::Eq) + rng() % 6);
    Expr cmp = Expr::binary(kind, operand(), operand());
    if (rng() % 3 == 0) cmp = Expr::binary(ExprKind::And, cmp, Expr::binary(ExprKind::Lt, operand(), operand()));
    return cmp;
}

TEST(FindCompiled, SignedBlocksAgreeWithPlainEvaluator) {
    for (uint64_t seed = 0; seed < 80; ++seed) {
        std::mt19937_64 rng(seed + 5000);
        const uint32_t signals = 1 + rng() % 3;
        const uint64_t samples = 600 + rng() % 2000;
        const auto trace = eval_test::random_trace(rng, signals, samples, true);
        const auto expr = random_signed_comparison(rng, signals);
        const auto expected = plain_find(trace, expr);
        ASSERT_EQ(eval::find(trace, expr), expected) << "seed " << seed;
        ASSERT_EQ(eval::parallel_count(trace, expr), expected.size()) << "seed " << seed;
    }
}

TEST(FindCompiled, LongRunsAreSteppedNotScanned) {
    // One long run per signal: the result is whole ranges, and stepping must split exactly at
    // the shifted change points and the relative-index bounds.
    signal::SignalStore store;
    const uint64_t n = 1'000'000;
    for (uint64_t i = 0; i < n; ++i) {
        store.set(0, i, signal::SignalValue::uint(i < 400'000 ? 1 : 2));
    }
    const eval_test::DenseTrace trace({"a"}, std::move(store), n);
    using eval::Expr;
    const Expr shifted = Expr::rel_eval(Expr::signal(0), 10);
    const Expr is_one = Expr::binary(eval::ExprKind::Eq, shifted, Expr::constant(signal::SignalValue::uint(1)));
    EXPECT_EQ(eval::parallel_count(trace, is_one), 400'000u - 10);
    const Expr is_unknown = Expr::unary(eval::ExprKind::IsX, shifted);
    EXPECT_EQ(eval::find(trace, is_unknown), (std::vector<uint64_t>{n - 10, n - 9, n - 8, n - 7, n - 6, n - 5,
                                                                     n - 4, n - 3, n - 2, n - 1}));
}

TEST(FindCompiled, TraceWithoutSamplesSearchesIndexZero) {
    const eval_test::DenseTrace trace({"a"}, signal::SignalStore(), 0);
    EXPECT_EQ(eval::find(trace, eval::Expr::always_true()), std::vector<uint64_t>{0});
    EXPECT_EQ(eval::parallel_count(trace, eval::Expr::always_true()), 1u);
    EXPECT_EQ(eval::parallel_count(trace, eval::Expr::signal(0)), 0u);
}

}  // namespace
