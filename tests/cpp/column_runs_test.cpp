// Bulk reads of runs (the first index of each run over a range) and the bits of values as text.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "signal/values/bit_text.hpp"
#include "signal/column_runs.hpp"
#include "signal/column_store.hpp"
#include "signal/store.hpp"

namespace {

using namespace quor_core::signal;
using quor_core::util::PodBuffer;

// A column of `length` values that change with probability 1 / every.
Column random_column(uint64_t length, unsigned every, unsigned seed) {
    std::mt19937_64 rng(seed);
    SignalStore store;
    uint64_t v = 0;
    for (uint64_t i = 0; i < length; ++i) {
        if (rng() % every == 0) v = rng() % 5;
        store.set(0, i, SignalValue::uint(v));
    }
    return *ColumnStore::from_dense(store).column(0);
}

// The first index of each run overlapping [begin, end), read index by index.
std::vector<uint64_t> starts_by_reading(const Column& c, uint64_t begin, uint64_t end) {
    std::vector<uint64_t> out;
    end = std::min(end, c.length());
    for (uint64_t i = begin; i < end; ++i) {
        if (i == begin || c.run_of(i) != c.run_of(i - 1)) out.push_back(i);
    }
    return out;
}

TEST(ColumnRuns, StartsOverRangesMatchReadingEveryIndex) {
    struct Case {
        uint64_t length;
        unsigned every;
    };
    const Case cases[] = {{1, 1}, {64, 1}, {65, 2}, {1000, 1}, {1000, 7}, {5000, 300}, {300, 100000}};
    std::mt19937_64 rng(11);
    for (const Case& c : cases) {
        const Column column = random_column(c.length, c.every, static_cast<unsigned>(c.length + c.every));
        std::vector<std::pair<uint64_t, uint64_t>> ranges = {{0, c.length}, {0, c.length + 50}, {c.length, c.length},
                                                             {c.length / 2, c.length / 2}, {c.length + 3, c.length + 9}};
        for (int k = 0; k < 40; ++k) {
            const uint64_t a = rng() % (c.length + 1), b = rng() % (c.length + 1);
            ranges.push_back({std::min(a, b), std::max(a, b)});
        }
        for (const auto& [begin, end] : ranges) {
            PodBuffer<uint64_t> got;
            got.push_back(99);  // appends after what is there
            append_run_starts(column, begin, end, got);
            const std::vector<uint64_t> want = starts_by_reading(column, begin, end);
            ASSERT_EQ(got.size(), want.size() + 1) << c.length << " " << begin << ".." << end;
            EXPECT_EQ(got[0], 99u);
            for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i + 1], want[i]);
            const RunRange runs = runs_overlapping(column, begin, end);
            EXPECT_EQ(runs.count, want.size());
            if (!want.empty()) {
                EXPECT_EQ(runs.first, column.run_of(begin));
            }
        }
    }
}

TEST(BitText, ValuesAsBits) {
    struct Case {
        SignalValue value;
        uint32_t width;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {SignalValue::uint(5), 8, "00000101"},
        {SignalValue::uint(5), 0, "101"},
        {SignalValue::uint(0), 1, "0"},
        {SignalValue::uint(~uint64_t{0}), 64, std::string(64, '1')},
        {SignalValue::wide({1, 2}), 70, "000010" + std::string(63, '0') + "1"},
        {SignalValue::wide({0, 0}), 3, "000"},
        {SignalValue::wide({0, uint64_t{1} << 63}), 0, "1" + std::string(127, '0')},
        {SignalValue::four_state({kBit1, kBitX, kBit0, kBitZ}), 4, "1x0z"},
        {SignalValue::four_state({kBitX, kBit1}), 4, "xxx1"},  // extended as VCD extends values
        {SignalValue::four_state({kBitZ}), 3, "zzz"},
        {SignalValue::four_state({kBit1, kBitZ}), 4, "001z"},
        {SignalValue::four_state({kBit0, kBit1, kBitX}), 2, "01x"},  // never cut
        {SignalValue::real(1.5), 64, std::nullopt},
        {SignalValue::text("idle"), 0, std::nullopt},
        {SignalValue::unknown(), 4, std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(bit_text(ValueRef::of(c.value), c.width), c.expected);
}

}  // namespace
