// The value-section decoder and the time axis that joins sections.

#include <gtest/gtest.h>

#include "format_fixtures.hpp"
#include "formats/fsdb/fsdb.hpp"
#include "formats/fsdb/fsdb_sections.hpp"
#include "formats/fsdb/fsdb_timeline.hpp"

using namespace quor_core::trace;
using namespace quor_core::trace::fsdb;
using fixtures::Buf;

namespace {

struct E {
    uint64_t time;
    uint32_t id;
    uint64_t value;
    bool operator==(const E&) const = default;
};

std::vector<E> decode(const Buf& section, uint32_t num) {
    EntryBudget budget(kMaxValueEntries);
    const auto out = decode_value_section(section, num, budget);
    std::vector<E> v;
    if (out) {
        for (const ValueEntry& e : *out) v.push_back({e.time, e.id, e.value});
    }
    return v;
}

}  // namespace

TEST(FsdbSection, RecordRules) {
    struct Case {
        const char* what;
        std::vector<uint64_t> header;
        Buf area;
        std::optional<Buf> table;
        uint32_t num;
        std::vector<E> expect;
    };
    const Case cases[] = {
        // Two records with a separator: the second is the trailer; acc stays 0 so both at B.
        {"separated", {}, {0x00, 0x05, 0x00, 0x07, 0x08, 0x01, 0x02}, {}, 2, {{0, 0, 5}, {0, 0, 7}}},
        // No separator: step = 5 * 2 + 5, the second time is 15 + 1 * 15.
        {"stepped", {}, {0x02, 0x09, 0x01, 0x04}, {}, 1, {{15, 0, 9}, {30, 0, 4}}},
        // acc grows: times B - 10 + 10 * acc; the next record starts at the last time.
        {"accumulated", {}, {0x01, 0x03, 0x02, 0x04, 0x08, 0x01, 0x06, 0x08, 0x40, 0x00}, {}, 1,
         {{0, 0, 3}, {20, 0, 4}, {20, 0, 6}}},
        // Limit (fourth header number) 1 keeps one entry without a separator.
        {"limited", {0, 0, 0, 1}, {0x02, 0x09, 0x01, 0x04}, {}, 1, {{15, 0, 9}}},
        // Shift items copy the base list to the next signals, offset in time; kind 1 keeps bit 0.
        {"shifted", {}, {0x02, 0x07, 0x83, 0x00, 0x42, 0x00}, {}, 3, {{15, 0, 7}, {18, 1, 7}, {17, 2, 1}}},
        // Three table values and five names: signals 1..3 at time 0, signal 4 the base list.
        {"table", {}, {0x02, 0x09}, Buf{0x0A, 0x0B, 0x0C, 0x00, 0x00, 0x00}, 5,
         {{0, 1, 10}, {0, 2, 11}, {0, 3, 12}, {15, 4, 9}}},
        // h4 (fifth number) goes to signal 1 at step5 = 5 * sixth + 5; the base list to signal 2.
        {"h4", {0, 0, 0, 0, 99, 3}, {0x02, 0x09}, {}, 4, {{20, 1, 99}, {15, 2, 9}}},
        // No names: nothing is assigned.
        {"no names", {}, {0x02, 0x09}, {}, 0, {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decode(fixtures::fsdb_section(c.header, c.area, c.table), c.num), c.expect) << c.what;
    }
}

TEST(FsdbSection, SkippedSections) {
    EntryBudget budget(100);
    EXPECT_FALSE(decode_value_section(Buf{1, 2, 3}, 4, budget));
    EXPECT_FALSE(decode_value_section(Buf(40, 0x11), 4, budget));  // no marker at all
    EXPECT_TRUE(decode_value_section(Buf{0x38, 0x43, 0x00, 0x04, 0x00, 0x08, 0, 0, 0}, 4, budget));
    EXPECT_FALSE(decode_value_section(Buf{1, 2, 3, 4, 5, 0xC1, 0x21, 0x00, 0x00}, 4, budget));  // < 6 after P
}

TEST(FsdbSection, GeneratedClock) {
    // Trailer 40 xx 04 '0': period 10, values 0, 1, 0, ... up to the largest base time + 10.
    const Buf area{0x02, 0x09, 0x00, 0x01, 0x08, 0x40, 0x00, 0x04, 0x30};
    const auto v = decode(fixtures::fsdb_section({}, area), 2);
    std::vector<E> clock;
    for (const E& e : v) {
        if (e.id == 0) clock.push_back(e);
    }
    // The base list goes to signal 0 first (acc = 2 puts both at time 10), then the clock.
    EXPECT_EQ(clock, (std::vector<E>{{10, 0, 9}, {10, 0, 1}, {0, 0, 0}, {10, 0, 1}, {20, 0, 0}}));
}

TEST(FsdbSection, ClockWithPeriodZeroIsOneValue) {
    const Buf area{0x02, 0x09, 0x08, 0x40, 0x00, 0x00, 0x31};
    const auto v = decode(fixtures::fsdb_section({}, area), 1);
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v.back(), (E{0, 0, 1}));
}

TEST(FsdbSection, ClockOverAHugeRangeStopsAtTheBudget) {
    // 2000 pairs reach time 1.26e6; a period of 2 would ask for 630,000 clock entries.
    Buf big;
    for (int i = 0; i < 2000; ++i) big.insert(big.end(), {0x3F, 0x01});
    big.insert(big.end(), {0x08, 0x40, 0x00, 0x01, 0x31});
    EntryBudget budget(10000);
    const auto out = decode_value_section(fixtures::fsdb_section({}, big), 1, budget);
    ASSERT_TRUE(out);
    ASSERT_EQ(out->size(), 10000u);
    EXPECT_TRUE(budget.spent());
    EXPECT_EQ(out->back().time, 2 * (10000u - 2000u - 1));
}

namespace {

std::vector<std::vector<uint64_t>> dense(Timeline t, uint32_t ids) {
    std::vector<uint64_t> times;
    const auto store = std::move(t).freeze(times);
    std::vector<std::vector<uint64_t>> out(ids);
    for (uint32_t id = 0; id < ids; ++id) {
        for (size_t i = 0; i < times.size(); ++i) {
            const auto v = store.get(id, i);
            out[id].push_back(v.is_unknown() ? 999 : v.as_uint());
        }
    }
    return out;
}

}  // namespace

TEST(FsdbTimeline, LaterSectionsKeepFilledValuesAtTheirTimes) {
    Timeline t(2, kMergeWork);
    // Section 1: signal 0 is 1 at 30 and 2 at 70; signal 1 has nothing and defaults to 0.
    t.apply_section({{30, 0, 1}, {70, 0, 2}});
    // Section 2: signal 0 is 5 at 30 (70 keeps 2), signal 1 is 7 at 50, a new time between.
    t.apply_section({{30, 0, 5}, {50, 1, 7}});
    EXPECT_EQ(t.times(), (std::vector<uint64_t>{0, 30, 50, 70}));
    const auto d = dense(std::move(t), 2);
    EXPECT_EQ(d[0], (std::vector<uint64_t>{0, 5, 5, 2}));
    // 70 was filled with 0 by section 1 and keeps it.
    EXPECT_EQ(d[1], (std::vector<uint64_t>{0, 0, 7, 0}));
}

TEST(FsdbTimeline, InsertedTimeCarriesThePreviousValue) {
    Timeline t(1, kMergeWork);
    t.apply_section({{0, 0, 4}, {100, 0, 6}});
    t.apply_section({{200, 0, 8}, {50, 0, 9}});
    const auto d = dense(std::move(t), 1);
    EXPECT_EQ(d[0], (std::vector<uint64_t>{4, 9, 6, 8}));  // times 0, 50, 100, 200
}

TEST(FsdbTimeline, WorkLimitDropsLaterSections) {
    Timeline t(1, 10);
    t.apply_section({{5, 0, 1}});
    t.apply_section({{6, 0, 2}, {7, 0, 3}, {8, 0, 4}, {9, 0, 5}, {10, 0, 6}});
    EXPECT_EQ(t.times(), (std::vector<uint64_t>{0, 5}));
}
