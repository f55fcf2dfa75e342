// Trees nested 100,000 levels deep are built in linear time, evaluated, searched, copied and
// destroyed without recursion, on the calling thread and on the pool's workers; trees that share
// subtrees are freed once, whichever owner goes last; a tree that sharing would make too large
// to walk is refused.

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <thread>

#include "eval/evaluator.hpp"
#include "query/find.hpp"
#include "eval_test_trace.hpp"

namespace {

using namespace quor_core;
using eval::Expr;
using eval::ExprKind;

constexpr int kDepth = 100'000;

// Not(Not(...(signal 0 + 0)...)).
Expr deep_not_chain() {
    Expr e = Expr::binary(ExprKind::Add, Expr::signal(0), Expr::constant(signal::SignalValue::uint(0)));
    for (int i = 0; i < kDepth; ++i) e = Expr::unary(ExprKind::Not, e);
    return e;
}

// RelEval(+1)(RelEval(-1)(...)) alternating, so the total offset stays small.
Expr deep_rel_chain() {
    Expr e = Expr::signal(0);
    for (int i = 0; i < kDepth; ++i) e = Expr::rel_eval(e, i % 2 ? 1 : -1);
    return e;
}

eval_test::DenseTrace small_trace() {
    signal::SignalStore store;
    for (uint64_t i = 0; i < 6; ++i) store.set(0, i, signal::SignalValue::uint(i % 3));
    return eval_test::DenseTrace({"a"}, std::move(store), 6);
}

TEST(EvalDeep, NotChainEvaluatesSearchesCopiesAndDestroys) {
    const auto trace = small_trace();
    const Expr deep = deep_not_chain();  // an even number of Nots: truthiness of the value
    EXPECT_EQ(eval::eval(trace, deep, 1), signal::SignalValue::uint(1));
    const std::vector<uint64_t> expected{1, 2, 4, 5};
    EXPECT_EQ(eval::find(trace, deep), expected);
    EXPECT_EQ(eval::parallel_find(trace, deep), expected);
    EXPECT_EQ(eval::parallel_count(trace, deep), 4u);
    const Expr copy = deep;  // copy and destroy run at the end of the scope
    EXPECT_EQ(eval::find(trace, copy), expected);
}

TEST(EvalDeep, RelEvalChainChecksEveryLevel) {
    const auto trace = small_trace();
    const Expr deep = deep_rel_chain();
    // Levels alternate +1 and -1 from the outside in, so targets alternate i + 1 and i.
    EXPECT_EQ(eval::find(trace, deep), eval::parallel_find(trace, deep));
    for (uint64_t i = 0; i <= 5; ++i) {
        const bool in_range = i <= 4;  // the outer +1 must land in range, then -1 returns to i
        EXPECT_EQ(eval::eval(trace, deep, i).is_unknown(), !in_range) << i;
    }
}

// Two chains built on one shared chain: each owner may go first, and the shared part lives on
// until the last one goes, from whichever thread.
TEST(EvalDeep, SharedSubtreesOutliveAnyOneOwner) {
    const auto trace = small_trace();
    for (const bool first_goes_first : {true, false}) {
        auto shared = std::make_unique<Expr>(deep_not_chain());
        auto a = std::make_unique<Expr>(Expr::binary(ExprKind::And, *shared, Expr::always_true()));
        auto b = std::make_unique<Expr>(Expr::unary(ExprKind::Not, Expr::unary(ExprKind::Not, *shared)));
        shared.reset();
        std::thread([&] { (first_goes_first ? a : b).reset(); }).join();
        const Expr& rest = first_goes_first ? *b : *a;
        EXPECT_EQ(eval::find(trace, rest), (std::vector<uint64_t>{1, 2, 4, 5}));
    }
}

TEST(EvalDeep, TreesTooLargeToWalkAreRefused) {
    // Each step doubles the tree the search would walk, at the cost of one node.
    Expr e = Expr::signal(0);
    int doublings = 0;
    const auto double_until_refused = [&] {
        for (;; ++doublings) e = Expr::binary(ExprKind::Add, e, e);
    };
    EXPECT_THROW(double_until_refused(), std::length_error);
    EXPECT_EQ(doublings, 23);  // 2^24 - 1 nodes fit, 2^25 - 1 do not
    EXPECT_EQ(e.nodes(), (uint64_t{1} << 24) - 1);
}

}  // namespace
