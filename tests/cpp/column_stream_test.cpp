// A column streamed from changes in ascending index order must read exactly like the reference
// store after the same sets and a forward fill (the fill discipline of the FST loader).

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "signal/column_stream.hpp"
#include "random_values.hpp"
#include "signal/store.hpp"

namespace {

using namespace quor_core::signal;

using quor_test::random_value;
using quor_test::same_reading;

TEST(ColumnStream, ReadsLikeSetThenForwardFill) {
    // Odd seeds grow their arrays in a pool shared by every stream, some past its small blocks.
    quor_core::util::ScratchPool scratch;
    for (uint64_t seed = 0; seed < 400; ++seed) {
        std::mt19937_64 rng(seed);
        const bool long_one = seed % 4 == 1;
        const uint64_t length = 1 + rng() % (long_one ? 300 : 30);
        SignalStore reference;
        ColumnStream stream(length, nullptr, seed % 2 == 1 ? &scratch : nullptr);
        uint64_t index = rng() % 4;
        const size_t changes = rng() % (long_one ? 400 : 40);
        for (size_t c = 0; c < changes; ++c) {
            // Repeated indices (a later value replaces an earlier one) and indices past the end.
            index += rng() % 3 == 0 ? 0 : rng() % 3;
            SignalValue value = random_value(rng);
            if (index < length) reference.set(0, index, value);
            if (value.kind() == ValueKind::Uint && rng() % 2) {
                stream.set_uint(index, value.as_uint());
            } else if (value.kind() == ValueKind::Wide && rng() % 2) {
                stream.set_wide(index, value.as_wide().words);
            } else {
                stream.set(index, std::move(value));
            }
        }
        for (uint64_t i = 1; i < length; ++i) reference.forward_fill(i);
        ASSERT_FALSE(stream.out_of_order());
        const Column column = std::move(stream).finish();
        for (uint64_t i = 0; i < length + 3; ++i) {
            ASSERT_TRUE(same_reading(reference.get(0, i), column.at(i).to_value())) << "seed " << seed << " index " << i;
        }
    }
}

TEST(ColumnStream, EdgeCases) {
    struct Case {
        const char* what;
        std::vector<std::pair<uint64_t, SignalValue>> sets;
        std::vector<SignalValue> expected;  // at indices 0, 1, 2, 3 (length 3)
    };
    const SignalValue u = SignalValue::unknown();
    const std::vector<Case> cases = {
        {"nothing set", {}, {u, u, u, u}},
        {"first value late", {{1, SignalValue::uint(5)}}, {u, SignalValue::uint(5), SignalValue::uint(5), u}},
        {"later value at an index wins", {{0, SignalValue::uint(1)}, {0, SignalValue::uint(2)}},
         {SignalValue::uint(2), SignalValue::uint(2), SignalValue::uint(2), u}},
        {"unknown last at an index is filled over",
         {{0, SignalValue::uint(1)}, {1, SignalValue::uint(2)}, {1, u}},
         {SignalValue::uint(1), SignalValue::uint(1), SignalValue::uint(1), u}},
        {"unknown alone leaves nothing", {{0, u}}, {u, u, u, u}},
        {"index past the end dropped", {{2, SignalValue::text("a")}, {3, SignalValue::uint(9)}},
         {u, u, SignalValue::text("a"), u}},
    };
    for (const Case& c : cases) {
        ColumnStream stream(3);
        for (const auto& [index, value] : c.sets) stream.set(index, value);
        const Column column = std::move(stream).finish();
        for (uint64_t i = 0; i < c.expected.size(); ++i) EXPECT_EQ(column.at(i).to_value(), c.expected[i]) << c.what << " " << i;
    }
}

TEST(ColumnStream, ReportsAChangeBeforeAnEarlierIndex) {
    ColumnStream stream(10);
    stream.set_uint(4, 1);
    stream.set_uint(4, 2);
    EXPECT_FALSE(stream.out_of_order());
    stream.set_uint(3, 1);
    EXPECT_TRUE(stream.out_of_order());
}

}  // namespace
