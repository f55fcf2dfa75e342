// A column's run starts kept sorted answer every question as the bit per index does: tested on
// the two forms built from the same starts, and on columns written through ColumnWriter, read
// through Column, ColumnHead and the bulk run reader, against the starts they were given.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "signal/column.hpp"
#include "signal/column_head.hpp"
#include "signal/column_runs.hpp"
#include "signal/run_starts.hpp"
#include "util/arena.hpp"

namespace {

using quor_core::signal::Column;
using quor_core::signal::ColumnHead;
using quor_core::signal::ColumnWriter;
using quor_core::signal::InlineRunAppender;
using quor_core::signal::RankBits;
using quor_core::signal::RunStarts;
using quor_core::signal::SignalValue;
using quor_core::signal::ValueKind;

// Sorted distinct run starts in [0, length), 0 first: `runs` of them (as many as fit), spread
// at random, or bunched near the end when `bunched` (where a guess from the average is worst).
std::vector<uint64_t> random_starts(uint64_t length, uint64_t runs, bool bunched, unsigned seed) {
    runs = std::min(runs, length);
    std::mt19937_64 rng(seed);
    std::vector<uint64_t> starts{0};
    if (bunched) {
        for (uint64_t k = 1; k < runs; ++k) starts.push_back(length - runs + k);
        return starts;
    }
    std::vector<uint64_t> picked;
    // Draws until enough distinct indices; a dense draw takes every index and drops some.
    if (runs * 2 > length) {
        for (uint64_t i = 1; i < length; ++i) picked.push_back(i);
        std::shuffle(picked.begin(), picked.end(), rng);
        picked.resize(runs - 1);
    } else {
        std::vector<bool> taken(length, false);
        taken[0] = true;
        while (picked.size() + 1 < runs) {
            const uint64_t i = rng() % length;
            if (!taken[i]) {
                taken[i] = true;
                picked.push_back(i);
            }
        }
    }
    std::sort(picked.begin(), picked.end());
    starts.insert(starts.end(), picked.begin(), picked.end());
    return starts;
}

// The indices to check: all of a short column; of a long one, a spread and those next to each
// start (scanning the bits for the next start from every index of a long column takes minutes).
std::vector<uint64_t> probes(uint64_t length, const std::vector<uint64_t>& starts) {
    std::vector<uint64_t> at;
    const uint64_t stride = length <= 8192 ? 1 : 61;
    for (uint64_t i = 0; i < length; i += stride) at.push_back(i);
    if (stride > 1) {
        for (const uint64_t st : starts) {
            for (const uint64_t i : {st - 1, st, st + 1}) {
                if (i < length) at.push_back(i);
            }
        }
        at.push_back(length - 1);
    }
    return at;
}

// The run holding each index, from the starts.
std::vector<size_t> runs_by_index(uint64_t length, const std::vector<uint64_t>& starts) {
    std::vector<size_t> run(length);
    size_t k = 0;
    for (uint64_t i = 0; i < length; ++i) {
        if (k + 1 < starts.size() && starts[k + 1] == i) ++k;
        run[i] = k;
    }
    return run;
}

struct Sizes {
    uint64_t length;
    std::vector<uint64_t> runs;
};

// Lengths around words, rank blocks and a large column; run counts of one, two, a few, and
// either side of the most that are kept sorted.
std::vector<Sizes> sizes() {
    auto around_limit = [](uint64_t length, std::vector<uint64_t> runs) {
        const uint64_t limit = RunStarts::sorted_limit(length);
        for (const uint64_t r : {limit - 1, limit, limit + 1}) {
            if (r >= 1 && limit >= 1) runs.push_back(r);
        }
        return runs;
    };
    return {
        {1, {1}},
        {63, around_limit(63, {1, 2, 5, 63})},
        {64, around_limit(64, {1, 2, 3, 64})},
        {65, around_limit(65, {1, 2, 3})},
        {511, around_limit(511, {1, 2, 7})},
        {512, around_limit(512, {2, 16, 200})},
        {513, around_limit(513, {2, 17})},
        {4096 + 7, around_limit(4103, {2, 50, 1000})},
        {uint64_t{1} << 20, around_limit(uint64_t{1} << 20, {1, 2, 110, 5000})},
    };
}

TEST(RunStarts, SortedAndBitFormsAgreeEverywhere) {
    for (const Sizes& s : sizes()) {
        for (const uint64_t runs : s.runs) {
            for (const bool bunched : {false, true}) {
                const std::vector<uint64_t> starts = random_starts(s.length, runs, bunched, static_cast<unsigned>(runs));
                const std::string what = "length " + std::to_string(s.length) + " runs " + std::to_string(starts.size()) +
                                         (bunched ? " bunched" : "");
                if (starts.size() < 2) continue;  // one run keeps no starts
                std::vector<uint64_t> words(RankBits::array_words(s.length), 0);
                for (const uint64_t i : starts) words[i >> 6] |= uint64_t{1} << (i & 63);
                RankBits::build_directory(words.data(), RankBits::word_count(s.length),
                                          words.data() + RankBits::word_count(s.length));
                std::vector<uint32_t> sorted(starts.begin(), starts.end());
                sorted[0] = static_cast<uint32_t>(starts.size());
                const RunStarts bits{RankBits(s.length, words.data())};
                const RunStarts listed(s.length, sorted.data());
                ASSERT_TRUE(listed.is_sorted());
                ASSERT_FALSE(bits.is_sorted());
                const std::vector<size_t> want = runs_by_index(s.length, starts);
                for (const uint64_t i : probes(s.length, starts)) {
                    ASSERT_EQ(listed.run_of(i), want[i]) << what << " at " << i;
                    ASSERT_EQ(bits.run_of(i), want[i]) << what << " at " << i;
                    ASSERT_EQ(listed.start_after(i), bits.start_after(i)) << what << " at " << i;
                    ASSERT_EQ(listed.test(i), bits.test(i)) << what << " at " << i;
                }
                // Searches from any guess land on the same run.
                if (starts.size() <= 64) {
                    for (uint64_t i = 0; i < s.length; i += 1 + s.length / 97) {
                        for (size_t guess = 0; guess < starts.size() + 2; ++guess) {
                            ASSERT_EQ(RunStarts::sorted_run_of(sorted.data(), i, guess), want[i])
                                << what << " at " << i << " guess " << guess;
                        }
                    }
                }
                // Windows of words anywhere, including past the end.
                const uint64_t word_total = RankBits::word_count(s.length);
                for (const uint64_t first : {uint64_t{0}, uint64_t{1}, word_total / 2, word_total - 1, word_total}) {
                    for (const size_t count : {size_t{1}, size_t{2}, size_t{9}}) {
                        std::vector<uint64_t> a(count, 0xdead), b(count, 0xbeef);
                        listed.copy_words(first, count, a.data());
                        bits.copy_words(first, count, b.data());
                        ASSERT_EQ(a, b) << what << " words from " << first << " count " << count;
                    }
                }
            }
        }
    }
}

// Writes a column with a new value at each start (values distinct from the run before), through
// the loop writers use, repeating each value a few times so repeats are merged on the way.
Column write_uints(uint64_t length, const std::vector<uint64_t>& starts, const std::shared_ptr<quor_core::util::Arena>& arena) {
    ColumnWriter w(length, arena);
    InlineRunAppender runs(w);
    for (size_t k = 0; k < starts.size(); ++k) {
        const uint64_t end = k + 1 < starts.size() ? starts[k + 1] : length;
        for (uint64_t i = starts[k]; i < end && i < starts[k] + 3; ++i) runs.append_uint(i, k % 251);
    }
    runs.sync();
    return std::move(w).finish();
}

TEST(RunStarts, WrittenColumnsReadTheirRunsInEitherForm) {
    auto arena = std::make_shared<quor_core::util::Arena>();
    for (const Sizes& s : sizes()) {
        for (const uint64_t runs : s.runs) {
            const std::vector<uint64_t> starts = random_starts(s.length, runs, false, static_cast<unsigned>(runs) + 7);
            const std::string what = "length " + std::to_string(s.length) + " runs " + std::to_string(starts.size());
            const Column col = write_uints(s.length, starts, arena);
            ASSERT_EQ(col.run_count(), starts.size()) << what;
            // Sorted exactly while the runs fit in no more memory than the bits.
            ASSERT_EQ(col.run_starts().is_sorted(), starts.size() >= 2 && RunStarts::sorted_fits(s.length, starts.size()))
                << what;
            const ColumnHead head(col);
            const std::vector<size_t> want = runs_by_index(s.length, starts);
            for (uint64_t i = 0; i < s.length; ++i) {
                ASSERT_EQ(col.run_of(i), want[i]) << what << " at " << i;
                const uint64_t end = want[i] + 1 < starts.size() ? starts[want[i] + 1] : s.length;
                ASSERT_EQ(col.run_end_after(i), end) << what << " at " << i;
                ASSERT_EQ(col.at(i).as_uint(), want[i] % 251) << what << " at " << i;
                ASSERT_EQ(head.at(i).as_uint(), want[i] % 251) << what << " at " << i;
            }
            ASSERT_TRUE(head.at(s.length).is_unknown()) << what;
            // The bulk reader hands out the starts inside any range, the first clipped to it.
            for (const uint64_t begin : {uint64_t{0}, s.length / 3, s.length - 1}) {
                for (const uint64_t end : {begin + 1, s.length / 2 + begin, s.length + 5}) {
                    quor_core::util::PodBuffer<uint64_t> got;
                    append_run_starts(col, begin, end, got);
                    std::vector<uint64_t> expect;
                    for (const uint64_t st : starts) {
                        if (st > begin && st < std::min(end, s.length)) expect.push_back(st);
                    }
                    if (begin < std::min(end, s.length)) expect.insert(expect.begin(), begin);
                    ASSERT_EQ(std::vector<uint64_t>(got.data(), got.data() + got.size()), expect)
                        << what << " range " << begin << ".." << end;
                }
            }
        }
    }
}

// Values kept beside the runs (wide, four-state, text) open runs by another path; mixed with
// two-state runs, the starts go from sorted to bits where they stop fitting.
TEST(RunStarts, RunsOfEveryKindCrossIntoBits) {
    const uint64_t length = 3200;  // at most 100 sorted runs
    for (const size_t runs : {size_t{2}, size_t{99}, size_t{100}, size_t{101}, size_t{400}}) {
        const std::vector<uint64_t> starts = random_starts(length, runs, false, 11);
        std::vector<SignalValue> values;
        ColumnWriter w(length);
        for (size_t k = 0; k < starts.size(); ++k) {
            switch (k % 4) {
                case 0: values.push_back(SignalValue::uint(k)); break;
                case 1: values.push_back(SignalValue::wide({k, 1, 2})); break;
                case 2: values.push_back(SignalValue::four_state({0, 1, 2, static_cast<uint8_t>(k % 2)})); break;
                default: values.push_back(SignalValue::text("v" + std::to_string(k))); break;
            }
            SignalValue copy = values.back();
            w.append(starts[k], std::move(copy));
        }
        const Column col = std::move(w).finish();
        ASSERT_EQ(col.run_count(), starts.size());
        ASSERT_EQ(col.run_starts().is_sorted(), RunStarts::sorted_fits(length, runs)) << runs;
        const ColumnHead head(col);
        const std::vector<size_t> want = runs_by_index(length, starts);
        for (uint64_t i = 0; i < length; ++i) {
            ASSERT_EQ(col.at(i).to_value(), values[want[i]]) << runs << " runs, at " << i;
            ASSERT_EQ(head.at(i).to_value(), values[want[i]]) << runs << " runs, at " << i;
        }
    }
}

}  // namespace
