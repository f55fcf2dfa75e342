// The samples of an FST file from its time table and blocks: a block's first time that repeats
// the time before it continues that sample; every other time-table entry is a sample of its own.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "formats/fst/fst_samples.hpp"

namespace {

namespace fc = fst_container;
using quor_core::trace::FstSamples;
using Times = std::vector<std::uint64_t>;

std::vector<fc::DataSectionInfo> blocks_at(const std::vector<std::uint64_t>& offsets) {
    std::vector<fc::DataSectionInfo> sections;
    for (const std::uint64_t offset : offsets) {
        fc::DataSectionInfo s;
        s.time_table_offset = offset;
        sections.push_back(s);
    }
    return sections;
}

TEST(FstSamples, BlockBoundariesThatRepeatATimeContinueTheSample) {
    struct Case {
        const char* what;
        Times table;
        std::vector<std::uint64_t> block_offsets;
        Times samples;
        std::vector<std::uint64_t> sample_of_position;
    };
    const std::vector<Case> cases = {
        {"one block", {0, 5, 10}, {0}, {0, 5, 10}, {0, 1, 2}},
        {"boundary repeats", {0, 5, 5, 10, 10, 15}, {0, 2, 4}, {0, 5, 10, 15}, {0, 1, 1, 2, 2, 3}},
        {"boundary moves on", {0, 5, 6, 10}, {0, 2}, {0, 5, 6, 10}, {0, 1, 2, 3}},
        {"repeat within a block stays", {0, 5, 5, 10}, {0}, {0, 5, 5, 10}, {0, 1, 2, 3}},
        {"repeat within and at a boundary", {0, 5, 5, 5, 7}, {0, 2}, {0, 5, 5, 7}, {0, 1, 1, 2, 3}},
        {"empty blocks between", {0, 5, 5}, {0, 2, 2, 2}, {0, 5}, {0, 1, 1}},
        {"a block of one repeated time", {3, 3, 3}, {0, 1, 2}, {3}, {0, 0, 0}},
        {"times going back", {9, 4, 4, 1}, {0, 1, 2, 3}, {9, 4, 1}, {0, 1, 1, 2}},
        {"offset past the table", {0, 5}, {0, 7}, {0, 5}, {0, 1}},
        {"no times", {}, {0, 0}, {}, {}},
    };
    for (const Case& c : cases) {
        const auto sections = blocks_at(c.block_offsets);
        const FstSamples samples(c.table, sections);
        EXPECT_EQ(samples.times(), c.samples) << c.what;
        for (std::size_t p = 0; p < c.table.size(); ++p) {
            EXPECT_EQ(samples.index_of_position(p), c.sample_of_position[p]) << c.what << " position " << p;
        }
    }
}

// Values tied to no position (a block's initial values) go to the first sample of their time,
// before the changes of that time step.
TEST(FstSamples, TimeWithoutPosition) {
    struct Case {
        Times table;
        std::uint64_t time;
        std::uint64_t sample;
    };
    const std::vector<Case> cases = {
        {{0, 5, 5, 10}, 5, 1},  {{0, 5, 5, 10}, 7, 2}, {{0, 5, 5, 10}, 10, 3}, {{0, 5, 5, 10}, 99, 3},
        {{4, 8}, 2, 0},         {{}, 3, 0},            {{9, 4, 4, 1}, 4, 1},   {{9, 4, 4, 1}, 5, 2},
        {{9, 4, 4, 1}, 0, 0},
    };
    for (const Case& c : cases) {
        const std::vector<fc::DataSectionInfo> one_block = blocks_at({0});
        const FstSamples samples(c.table, one_block);
        EXPECT_EQ(samples.index_of_time(c.time), c.sample) << "time " << c.time << " in " << ::testing::PrintToString(c.table);
    }
}

}  // namespace
