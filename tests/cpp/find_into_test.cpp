// find_into and parallel_find_into: the indices of find, in a buffer handed on whole, for
// results small and large (a large one lives in a mapping of its own).

#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "query/find.hpp"
#include "eval_test_trace.hpp"

namespace {

using namespace quor_core;
using eval::Expr;
using eval::ExprKind;

TEST(FindInto, GivesTheIndicesOfFind) {
    struct Case {
        uint64_t samples;
        unsigned change_every;  // a value changes with probability 1 / change_every
        uint64_t match_below;   // s < match_below matches, of values 0..9
    };
    const Case cases[] = {{1, 1, 5}, {100, 1, 5}, {100, 3, 0}, {5000, 1, 10}, {400000, 1, 5}, {400000, 50, 1},
                          {400000, 1, 10}};
    for (const Case& c : cases) {
        std::mt19937_64 rng(c.samples + c.change_every);
        signal::SignalStore store;
        uint64_t v = 0;
        for (uint64_t i = 0; i < c.samples; ++i) {
            if (rng() % c.change_every == 0) v = rng() % 10;
            store.set(0, i, signal::SignalValue::uint(v));
        }
        const eval_test::DenseTrace t({"s"}, std::move(store), c.samples);
        const Expr e =
            Expr::binary(ExprKind::Lt, Expr::signal(0), Expr::constant(signal::SignalValue::uint(c.match_below)));
        const std::vector<uint64_t> want = eval::find(t, e);
        util::PodBuffer<uint64_t> seq, par;
        eval::find_into(t, e, seq);
        eval::parallel_find_into(t, e, par);
        for (const auto* got : {&seq, &par}) {
            ASSERT_EQ(got->size(), want.size()) << c.samples;
            EXPECT_TRUE(std::equal(want.begin(), want.end(), got->data())) << c.samples;
        }
    }
}

// Asked to stop, both searches stop early with Interrupted; never asked, they finish.
TEST(FindInto, StopsWhenInterrupted) {
    using namespace std::chrono_literals;
    signal::SignalStore store;
    const uint64_t samples = 400000;
    for (uint64_t i = 0; i < samples; i += 3) store.set(0, i, signal::SignalValue::uint(i % 2));
    const eval_test::DenseTrace t({"s"}, std::move(store), samples);
    const Expr e = Expr::signal(0);
    for (const bool parallel : {false, true}) {
        int asked = 0;
        const util::Interrupt stop([&] { return ++asked == 1; }, 0ns);
        util::PodBuffer<uint64_t> out;
        const auto search = parallel ? eval::parallel_find_into : eval::find_into;
        EXPECT_THROW(search(t, e, out, stop), util::Interrupted) << parallel;
        EXPECT_EQ(asked, 1) << parallel;
        util::PodBuffer<uint64_t> all;
        search(t, e, all, util::Interrupt::never());
        EXPECT_EQ(all.size(), eval::find(t, e).size()) << parallel;
    }
}

}  // namespace
