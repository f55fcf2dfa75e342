// Trees nested 100,000 levels deep are evaluated, searched, copied and destroyed without
// recursion, on the calling thread and on the pool's workers.

#include <gtest/gtest.h>

#include "eval/evaluator.hpp"
#include "eval/find.hpp"
#include "eval_test_trace.hpp"

namespace {

using namespace quor_core;
using eval::Expr;
using eval::ExprKind;

constexpr int kDepth = 100'000;

// Not(Not(...(signal 0 + 0)...)) built bottom-up without deep copies.
Expr deep_not_chain() {
    Expr e = Expr::binary(ExprKind::Add, Expr::signal(0), Expr::constant(signal::SignalValue::uint(0)));
    for (int i = 0; i < kDepth; ++i) {
        Expr parent;
        parent.kind = ExprKind::Not;
        parent.left = std::make_unique<Expr>(std::move(e));
        e = std::move(parent);
    }
    return e;
}

// RelEval(+1)(RelEval(-1)(...)) alternating, so the total offset stays small.
Expr deep_rel_chain() {
    Expr e = Expr::signal(0);
    for (int i = 0; i < kDepth; ++i) {
        Expr parent;
        parent.kind = ExprKind::RelEval;
        parent.offset = i % 2 ? 1 : -1;
        parent.left = std::make_unique<Expr>(std::move(e));
        e = std::move(parent);
    }
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

}  // namespace
