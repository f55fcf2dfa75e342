// parallel_find handing its matches over piece by piece: the pieces arrive in order and join
// into find's list, and a consumer that stops or throws ends the search cleanly.

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

#include "query/find.hpp"
#include "eval_test_trace.hpp"

namespace {

using namespace quor_core;
using eval::Expr;
using eval::ExprKind;

// One two-state signal over `samples` indices: s0 is 1 on [on_from, on_to) and 0 elsewhere,
// s1 is index % 3 (a match every third index).
eval_test::DenseTrace window_trace(uint64_t samples, uint64_t on_from, uint64_t on_to) {
    signal::SignalStore store;
    for (uint64_t i = 0; i < samples; ++i) {
        store.set(0, i, signal::SignalValue::uint(i >= on_from && i < on_to ? 1 : 0));
        store.set(1, i, signal::SignalValue::uint(i % 3));
    }
    return eval_test::DenseTrace({"top.s0", "top.s1"}, std::move(store), samples);
}

Expr eq(uint64_t id, uint64_t v) {
    return Expr::binary(ExprKind::Eq, Expr::signal(id), Expr::constant(signal::SignalValue::uint(v)));
}

// The pieces of the search on the pool, or of the calling thread's search when sequential.
std::vector<uint64_t> collect(const trace::Trace& t, const Expr& e, std::vector<size_t>* sizes = nullptr,
                              bool sequential = false) {
    std::vector<uint64_t> all;
    const auto take = [&](std::span<const uint64_t> piece) {
        if (sizes) sizes->push_back(piece.size());
        all.insert(all.end(), piece.begin(), piece.end());
        return true;
    };
    const bool complete = sequential ? eval::find_pieces(t, e, take) : eval::parallel_find_pieces(t, e, take);
    EXPECT_TRUE(complete);
    return all;
}

TEST(FindPieces, JoinIntoFindsListWhateverThePieces) {
    struct Case {
        const char* name;
        uint64_t samples;
        Expr expr;
    };
    const uint64_t big = 300'001;  // pieces of unequal length
    const auto windowed = window_trace(big, 70'000, 140'000);
    const auto single = window_trace(1, 0, 1);
    const Case cases[] = {
        {"no match anywhere", big, eq(0, 7)},
        {"every index", big, Expr::always_true()},
        {"one window: empty, full and split pieces", big, eq(0, 1)},
        {"every third index", big, eq(1, 0)},
        {"window and every third", big, Expr::binary(ExprKind::And, eq(0, 1), eq(1, 2))},
        {"single index, match", 1, eq(0, 1)},
        {"single index, no match", 1, eq(0, 0)},
    };
    for (const Case& c : cases) {
        const trace::Trace& t = c.samples == 1 ? static_cast<const trace::Trace&>(single) : windowed;
        std::vector<size_t> sizes;
        const auto expected = eval::find(t, c.expr);
        EXPECT_EQ(collect(t, c.expr, &sizes), expected) << c.name;
        EXPECT_EQ(collect(t, c.expr, nullptr, true), expected) << c.name;
        EXPECT_EQ(eval::parallel_find(t, c.expr), expected) << c.name;
        EXPECT_EQ(eval::parallel_count(t, c.expr), expected.size()) << c.name;
        if (c.samples > 1) {
            EXPECT_GT(sizes.size(), 4u) << c.name;  // the range really was split
        }
    }
}

TEST(FindPieces, RandomTracesAgreeWithFind) {
    for (uint64_t seed = 0; seed < 30; ++seed) {
        std::mt19937_64 rng(seed + 77);
        const uint32_t signals = 1 + rng() % 3;
        const uint64_t samples = 1 + rng() % 20'000;
        const auto trace = eval_test::random_trace(rng, signals, samples, seed % 2 == 0);
        const auto expr = eval_test::random_expr(rng, signals, samples, 1 + static_cast<int>(rng() % 4), seed % 2 == 0);
        ASSERT_EQ(collect(trace, expr), eval::find(trace, expr)) << "seed " << seed;
    }
}

TEST(FindPieces, AConsumerThatStopsEndsTheSearch) {
    const auto t = window_trace(300'001, 0, 300'001);
    size_t calls = 0;
    const bool complete = eval::parallel_find_pieces(t, Expr::always_true(), [&](std::span<const uint64_t> piece) {
        ++calls;
        EXPECT_EQ(piece.front(), 0u);  // the first piece
        return false;
    });
    EXPECT_FALSE(complete);
    EXPECT_EQ(calls, 1u);
    // The pool is free again for the next search.
    EXPECT_EQ(eval::parallel_count(t, Expr::always_true()), 300'001u);
}

TEST(FindPieces, AConsumersExceptionReachesTheCaller) {
    const auto t = window_trace(300'001, 0, 300'001);
    size_t calls = 0;
    EXPECT_THROW(eval::parallel_find_pieces(t, Expr::always_true(),
                                            [&](std::span<const uint64_t>) -> bool {
                                                if (++calls == 2) throw std::bad_alloc();
                                                return true;
                                            }),
                 std::bad_alloc);
    EXPECT_EQ(calls, 2u);
    EXPECT_EQ(eval::parallel_find(t, eq(1, 0)).size(), 100'001u);
}

}  // namespace
