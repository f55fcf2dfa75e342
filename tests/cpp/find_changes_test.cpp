// transitions, changed_at and compute_stats step through runs; they must agree with the
// index-by-index definitions over the reference store on random traces, NaN runs included.

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <random>

#include "query/find.hpp"
#include "query/stats.hpp"
#include "eval_test_trace.hpp"

namespace {

using namespace quor_core;
using signal::SignalValue;
using signal::ValueRef;

bool same(const SignalValue& a, const SignalValue& b) { return identical(ValueRef::of(a), ValueRef::of(b)); }

__extension__ typedef unsigned __int128 U128;

// A number below 2^256 as two 128-bit halves, enough for the sums of the random values here.
struct Big {
    U128 hi = 0, lo = 0;
    friend bool operator<(const Big& a, const Big& b) { return a.hi != b.hi ? a.hi < b.hi : a.lo < b.lo; }
    Big& operator+=(const Big& o) {
        const U128 before = lo;
        lo += o.lo;
        hi += o.hi + (lo < before ? 1 : 0);
        return *this;
    }
    // Its words, without zero words above the highest set bit.
    std::vector<uint64_t> words() const {
        std::vector<uint64_t> out{static_cast<uint64_t>(lo), static_cast<uint64_t>(lo >> 64), static_cast<uint64_t>(hi),
                                  static_cast<uint64_t>(hi >> 64)};
        while (!out.empty() && out.back() == 0) out.pop_back();
        return out;
    }
};

// Equal for comparing results: NaN matches NaN here.
bool same_result(const SignalValue& a, const SignalValue& b) {
    if (a.kind() == signal::ValueKind::Real && b.kind() == signal::ValueKind::Real && a.as_real() != a.as_real()) {
        return b.as_real() != b.as_real();
    }
    return a == b;
}

TEST(FindChanges, TransitionsAndStatsMatchDefinitions) {
    for (uint64_t seed = 0; seed < 300; ++seed) {
        std::mt19937_64 rng(seed);
        const uint32_t signals = 1 + rng() % 4;
        const uint64_t samples = rng() % 40;
        const auto trace = eval_test::random_trace(rng, signals, samples);
        for (const std::string& name : trace.signal_names()) {
            const uint32_t id = *trace.signal_id(name);
            std::vector<eval::Transition> expected;
            eval::SignalStats st;
            Big min{~U128{0}, ~U128{0}}, max, sum;
            SignalValue prev;
            for (uint64_t i = 0; i <= trace.max_index(); ++i) {
                const SignalValue v = trace.signal_value_by_id(id, i);
                if (i > 0 && !same(prev, v)) {
                    expected.push_back({i, prev, v});
                    ++st.transitions;
                }
                std::optional<Big> number;
                if (v.kind() == signal::ValueKind::Uint) number = Big{0, v.as_uint()};
                if (v.kind() == signal::ValueKind::Wide && !v.as_wide().words.empty()) {
                    const auto& w = v.as_wide().words;
                    ASSERT_LE(w.size(), 3u);
                    const auto word = [&w](size_t k) -> U128 { return k < w.size() ? w[k] : 0; };
                    number = Big{word(2), word(0) | word(1) << 64};
                }
                if (number) {
                    sum += *number;
                    min = std::min(min, *number);
                    max = std::max(max, *number);
                    ++st.count;
                }
                if (v.is_unknown()) ++st.num_x;
                if (v.kind() == signal::ValueKind::FourState) {
                    const auto& b = v.as_four_state().bits;
                    st.num_x += static_cast<uint64_t>(std::count(b.begin(), b.end(), signal::kBitX));
                    st.num_z += static_cast<uint64_t>(std::count(b.begin(), b.end(), signal::kBitZ));
                }
                prev = v;
            }
            if (st.count > 0) {
                st.min = min.words();
                st.max = max.words();
                st.sum = sum.words();
            }
            const auto got = eval::transitions(trace, name);
            ASSERT_EQ(got.size(), expected.size()) << "seed " << seed << " " << name;
            for (size_t k = 0; k < got.size(); ++k) {
                EXPECT_EQ(got[k].index, expected[k].index);
                EXPECT_TRUE(same_result(got[k].old_value, expected[k].old_value));
                EXPECT_TRUE(same_result(got[k].new_value, expected[k].new_value));
            }
            EXPECT_EQ(eval::compute_stats(trace, name), st) << "seed " << seed << " " << name;
        }
        for (uint64_t index = 0; index <= trace.max_index() + 2; ++index) {
            std::vector<std::string> expected;
            if (index > 0) {
                for (const std::string& name : trace.signal_names()) {
                    const uint32_t id = *trace.signal_id(name);
                    if (!same(trace.signal_value_by_id(id, index - 1), trace.signal_value_by_id(id, index))) {
                        expected.push_back(name);
                    }
                }
            }
            std::vector<std::string> got;
            for (const auto& c : eval::changed_at(trace, index)) got.push_back(c.name);
            ASSERT_EQ(got, expected) << "seed " << seed << " index " << index;
        }
    }
}

eval_test::DenseTrace named_trace(std::vector<std::string> names, std::vector<SignalValue> first) {
    signal::SignalStore store;
    for (uint32_t id = 0; id < first.size(); ++id) store.set(id, 0, first[id]);
    for (uint32_t id = 0; id < first.size(); ++id) store.set(id, 1, SignalValue::uint(9));
    return eval_test::DenseTrace(std::move(names), std::move(store), 2);
}

TEST(FindChanges, DocumentedCases) {
    {
        signal::SignalStore store;
        store.set(0, 0, SignalValue::unknown());
        for (uint64_t i = 3; i < 5; ++i) store.set(0, i, SignalValue::uint(1));
        const eval_test::DenseTrace t({"a"}, std::move(store), 5);
        const auto tr = eval::transitions(t, "a");
        ASSERT_EQ(tr.size(), 1u);
        EXPECT_EQ(tr[0].index, 3u);
        EXPECT_TRUE(tr[0].old_value.is_unknown());
        EXPECT_TRUE(eval::transitions(t, "missing").empty());
        EXPECT_EQ(eval::compute_stats(t, "missing"), eval::SignalStats{});
    }
    const auto t = named_trace({"top.a", "top.sub.b", "topx.c", "top"},
                               {SignalValue::uint(1), SignalValue::uint(1), SignalValue::uint(1), SignalValue::uint(1)});
    std::vector<std::string> names;
    for (const auto& c : eval::changed_at_scope(t, 1, "top")) names.push_back(c.name);
    EXPECT_EQ(names, (std::vector<std::string>{"top.a", "top.sub.b"}));
    // An escaped identifier is one element: "top.\\esc" is a signal, not a scope.
    const auto escaped = named_trace({"top.\\esc.d", "top.\\esc"}, {SignalValue::uint(1), SignalValue::uint(1)});
    EXPECT_TRUE(eval::changed_at_scope(escaped, 1, "top.\\esc").empty());
    EXPECT_EQ(eval::changed_at_scope(escaped, 1, "top").size(), 2u);
    EXPECT_TRUE(eval::changed_at(t, 0).empty());
    EXPECT_EQ(eval::changed_at(t, 2).size(), 4u);  // one past the end: every value becomes Unknown
    EXPECT_TRUE(eval::changed_at(t, 3).empty());
}

TEST(FindChanges, StatsOfDocumentedSignals) {
    struct Case {
        const char* what;
        std::vector<SignalValue> values;
        eval::SignalStats expected;
    };
    using W = std::vector<uint64_t>;
    const uint64_t max = std::numeric_limits<uint64_t>::max();
    const auto wide = SignalValue::wide;
    const Case cases[] = {
        {"plain", {SignalValue::uint(3), SignalValue::uint(1), SignalValue::uint(2)}, {{1}, {3}, {6}, 3, 2, 0, 0}},
        {"unknowns", {SignalValue::unknown(), SignalValue::unknown(), SignalValue::uint(5)}, {{5}, {5}, {5}, 1, 1, 2, 0}},
        {"x and z bits", {SignalValue::four_state({1, 2, 3, 3})}, {{}, {}, {}, 0, 0, 1, 2}},
        {"sum carries past 64 bits", {SignalValue::uint(max), SignalValue::uint(2)}, {{2}, {max}, {1, 1}, 2, 1, 0, 0}},
        {"four-state not counted", {SignalValue::uint(1), SignalValue::four_state({1, 2})}, {{1}, {1}, {1}, 1, 1, 1, 0}},
        {"wide above every uint", {SignalValue::uint(7), wide({1, 1}), wide({0, 2})},
         {{7}, {0, 2}, {8, 3}, 3, 2, 0, 0}},
        {"wide below a uint", {wide({4, 0, 0}), SignalValue::uint(9)}, {{4}, {9}, {13}, 2, 1, 0, 0}},
        {"smallest of two wides", {wide({0, 0, 5}), wide({max, max, 4}), wide({0, 0, 5})},
         {{max, max, 4}, {0, 0, 5}, {max, max, 14}, 3, 2, 0, 0}},
        {"wide without words has no number", {wide({}), SignalValue::uint(0)}, {{}, {}, {}, 1, 1, 0, 0}},
        {"a run of one value", std::vector<SignalValue>(5, SignalValue::uint(max)), {{max}, {max}, {max - 4, 4}, 5, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        signal::SignalStore store;
        for (uint64_t i = 0; i < c.values.size(); ++i) store.set(0, i, c.values[i]);
        const eval_test::DenseTrace t({"s"}, std::move(store), c.values.size());
        EXPECT_EQ(eval::compute_stats(t, "s"), c.expected) << c.what;
    }
    const eval_test::DenseTrace empty({"s"}, signal::SignalStore(), 0);
    EXPECT_EQ(eval::compute_stats(empty, "s"), (eval::SignalStats{W{}, W{}, W{}, 0, 0, 1, 0}));
}

}  // namespace
