// The change-recording builder must read exactly like the dense reference store after the same
// operations, for both fill disciplines.

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "signal/column_builder.hpp"
#include "random_values.hpp"
#include "signal/store.hpp"

namespace {

using namespace quor_core::signal;

using quor_test::random_value;
using quor_test::same_reading;

void expect_same(const SignalStore& ref, const ColumnStore& fast, uint32_t ids, uint64_t indices, uint64_t seed) {
    for (uint32_t id = 0; id < ids + 2; ++id) {
        for (uint64_t i = 0; i < indices + 3; ++i) {
            ASSERT_TRUE(same_reading(ref.get(id, i), fast.get(id, i))) << "seed " << seed << " id " << id << " index " << i;
        }
    }
}

TEST(ColumnBuilder, CarryThenSetMatchesPerIndexFill) {
    for (uint64_t seed = 0; seed < 300; ++seed) {
        std::mt19937_64 rng(seed);
        const uint32_t ids = 1 + rng() % 6;
        const uint64_t indices = rng() % 40;
        SignalStore ref;
        ColumnBuilder fast(FillRule::CarryThenSet);
        for (uint64_t index = 0; index < indices; ++index) {
            if (index > 0) ref.forward_fill(index);
            const int changes = static_cast<int>(rng() % 5);
            for (int c = 0; c < changes; ++c) {
                const uint32_t id = static_cast<uint32_t>(rng() % ids);
                SignalValue v = random_value(rng);
                ref.set(id, index, v);
                fast.set(id, index, std::move(v));
            }
        }
        expect_same(ref, std::move(fast).freeze(indices), ids, indices, seed);
    }
}

TEST(ColumnBuilder, SetThenFillMatchesFillAfterAllSets) {
    for (uint64_t seed = 0; seed < 300; ++seed) {
        std::mt19937_64 rng(seed);
        const uint32_t ids = 1 + rng() % 6;
        // Every tenth case is long enough to span many chunks of one signal.
        const bool long_case = seed % 10 == 0;
        const uint64_t indices = 1 + rng() % (long_case ? 600 : 40);
        const bool ordered = seed % 2 == 0;
        SignalStore ref;
        ColumnBuilder fast(FillRule::SetThenFill);
        const int changes = static_cast<int>(rng() % (long_case ? 4000 : 60));
        uint64_t index = 0;
        for (int c = 0; c < changes; ++c) {
            index = ordered ? std::min(indices - 1, index + rng() % 3) : rng() % indices;
            const uint32_t id = static_cast<uint32_t>(rng() % ids);
            SignalValue v = random_value(rng);
            ref.set(id, index, v);
            fast.set(id, index, std::move(v));
        }
        for (uint64_t i = 1; i < indices; ++i) ref.forward_fill(i);
        expect_same(ref, std::move(fast).freeze(indices), ids, indices, seed);
    }
}

TEST(ColumnStore, FromDenseReadsLikeTheStore) {
    std::mt19937_64 rng(7);
    SignalStore ref;
    for (int c = 0; c < 500; ++c) ref.set(static_cast<uint32_t>(rng() % 5), rng() % 100, random_value(rng));
    for (uint64_t i = 1; i < 100; ++i) ref.forward_fill(i);
    expect_same(ref, ColumnStore::from_dense(ref), 5, 100, 7);
}

TEST(ColumnStore, SparseIdsAreFound) {
    SignalStore ref;
    ref.set(4000000000u, 2, SignalValue::uint(9));
    ref.set(3, 0, SignalValue::uint(1));
    const ColumnStore fast = ColumnStore::from_dense(ref);
    EXPECT_EQ(fast.get(4000000000u, 2), SignalValue::uint(9));
    EXPECT_TRUE(fast.get(4000000000u, 1).is_unknown());
    EXPECT_EQ(fast.get(3, 0), SignalValue::uint(1));
    EXPECT_TRUE(fast.get(5, 0).is_unknown());
}

TEST(SignalStore, DocumentedFillRules) {
    SignalStore s;
    s.set(7, 5, SignalValue::uint(1));
    EXPECT_EQ(s.arrays().at(7).size(), 6u);
    EXPECT_TRUE(s.get(7, 4).is_unknown());
    SignalStore a;
    a.set(0, 0, SignalValue::uint(1));
    a.forward_fill(2);  // without forward_fill(1) nothing is carried
    EXPECT_TRUE(a.get(0, 2).is_unknown());
    a.forward_fill(1);
    EXPECT_EQ(a.get(0, 1), SignalValue::uint(1));
}

}  // namespace

namespace {

using namespace quor_core::signal;

TEST(ColumnBuilder, SparseIdsStayCheap) {
    ColumnBuilder b(FillRule::SetThenFill);
    b.set_uint(4000000000u, 1, 9);
    b.set_uint(7, 0, 1);
    b.set(4000000001u, 0, SignalValue::text("go"));
    const ColumnStore s = std::move(b).freeze(3);
    EXPECT_TRUE(s.get(4000000000u, 0).is_unknown());
    EXPECT_EQ(s.get(4000000000u, 2), SignalValue::uint(9));
    EXPECT_EQ(s.get(4000000001u, 1), SignalValue::text("go"));
    EXPECT_EQ(s.get(7, 2), SignalValue::uint(1));
    EXPECT_TRUE(s.get(8, 0).is_unknown());
}

}  // namespace

namespace {

using namespace quor_core::signal;

// The change log stores values in as few bytes as they need and indices as differences: every
// byte length, and gaps far past the trace in both directions, must read back exactly.
TEST(ColumnBuilder, LogKeepsEveryValueWidthAndIndexGap) {
    const uint64_t values[] = {0, 1, 0x7F, 0xFF, 0x100, 0xFFFF, 0x10000, 0xFFFFFF, uint64_t{1} << 31,
                               uint64_t{0xFFFFFFFF}, uint64_t{1} << 40, uint64_t{1} << 48, uint64_t{1} << 56,
                               0x8000000000000000ULL, UINT64_MAX, 0x0123456789ABCDEFULL};
    for (const FillRule rule : {FillRule::CarryThenSet, FillRule::SetThenFill}) {
        ColumnBuilder b(rule);
        uint64_t index = 0;
        for (const uint64_t v : values) b.set_uint(1, index++, v);
        // A change far past the trace, then a step back to just after the values: the far one
        // is dropped, the others kept.
        b.set_uint(1, (uint64_t{1} << 56) - 1, 5);
        b.set(1, index, SignalValue::real(-2.5));
        b.set_uint(1, uint64_t{1} << 40, 6);
        b.set(1, index + 1, SignalValue::text("late"));
        const ColumnStore s = std::move(b).freeze(index + 2);
        for (size_t i = 0; i < std::size(values); ++i) EXPECT_EQ(s.get(1, i), SignalValue::uint(values[i])) << i;
        EXPECT_EQ(s.get(1, index), SignalValue::real(-2.5));
        EXPECT_EQ(s.get(1, index + 1), SignalValue::text("late"));
    }
}

// Wide values are kept in the log as their words: every word count, values alike but for their
// upper words, records that step back, and values repeated (one run) or not.
TEST(ColumnBuilder, LogKeepsWideValuesWhole) {
    const std::vector<std::vector<uint64_t>> values = {
        {5, 0}, {5, 1}, {5, 1}, {UINT64_MAX, UINT64_MAX}, {0}, {1, 2, 3}, std::vector<uint64_t>(40, 9), {5, 1}, {},
    };
    for (const FillRule rule : {FillRule::CarryThenSet, FillRule::SetThenFill}) {
        ColumnBuilder b(rule);
        for (size_t i = 0; i < values.size(); ++i) b.set_wide(2, i, values[i]);
        b.set_wide(2, values.size() + 3, values[1]);
        b.set_wide(2, values.size() + 1, values[3]);  // a step back
        b.set(2, values.size() + 2, SignalValue::wide(values[5]));
        const ColumnStore s = std::move(b).freeze(values.size() + 4);
        for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(s.get(2, i), SignalValue::wide(values[i])) << i;
        EXPECT_EQ(s.get(2, values.size()), SignalValue::wide(values.back()));
        EXPECT_EQ(s.get(2, values.size() + 1), SignalValue::wide(values[3]));
        EXPECT_EQ(s.get(2, values.size() + 2), SignalValue::wide(values[5]));
        EXPECT_EQ(s.get(2, values.size() + 3), SignalValue::wide(values[1]));
        const Column& column = *s.column(2);
        EXPECT_EQ(column.run_count(), values.size() + 2);  // values[1] and [2] are one run
        EXPECT_EQ(column.at(1).wide_words().size(), 2u);
        EXPECT_EQ(column.at(6).wide_words()[39], 9u);
    }
}

// Parts frozen together read like one builder that received every part's changes in turn, at
// their moved indices: in order, out of order within a part, and with parts whose moved indices
// overlap or go back. The parts are builders of their own (freeze_parts), segments of one
// builder, or segments spread over a few builders in any pattern.
TEST(ColumnBuilder, PartsReadLikeOneBuilder) {
    enum class Layout { Builders, OneBuilder, Spread };
    for (const Layout layout : {Layout::Builders, Layout::OneBuilder, Layout::Spread}) {
        for (uint64_t seed = 0; seed < 200; ++seed) {
            std::mt19937_64 rng(seed);
            const FillRule rule = seed % 2 ? FillRule::SetThenFill : FillRule::CarryThenSet;
            const uint32_t ids = 1 + static_cast<uint32_t>(rng() % 4);
            const uint64_t length = 1 + rng() % 60;
            const size_t part_count = 1 + rng() % 6;
            const bool ordered = seed % 3 != 0;
            const size_t builder_count = layout == Layout::Builders ? part_count
                                         : layout == Layout::OneBuilder ? 1
                                                                        : 1 + rng() % 3;
            std::vector<ColumnBuilder> builders;
            for (size_t k = 0; k < builder_count; ++k) builders.emplace_back(rule);
            std::vector<bool> used(builder_count, false);
            std::vector<ColumnBuilder::SegmentPlace> order;
            std::vector<uint64_t> shifts;
            ColumnBuilder whole(rule);
            uint64_t start = 0;
            for (size_t k = 0; k < part_count; ++k) {
                const auto b = static_cast<uint32_t>(layout == Layout::Builders ? k : rng() % builder_count);
                ColumnBuilder& part = builders[b];
                if (used[b]) part.begin_segment();
                used[b] = true;
                // The first part may be moved down by one, as a text's first stretch is.
                const bool down = k == 0 && seed % 4 == 1;
                shifts.push_back(down ? UINT64_MAX : (ordered ? start : rng() % length));
                order.push_back({b, shifts.back()});
                uint64_t local = down ? 1 : 0;
                const int changes = static_cast<int>(rng() % 30);
                for (int c = 0; c < changes; ++c) {
                    local = ordered ? local + rng() % 3 : rng() % (length + 2) + (down ? 1 : 0);
                    const uint32_t id = static_cast<uint32_t>(rng() % ids);
                    SignalValue v = rng() % 3 ? SignalValue::uint(rng() >> (rng() % 64)) : random_value(rng);
                    whole.set(id, local + shifts.back(), v);
                    part.set(id, local, std::move(v));
                }
                start = local + shifts.back();
            }
            const ColumnStore expected = std::move(whole).freeze(length);
            const ParallelFor in_turn = [](size_t pieces, const std::function<void(size_t)>& body) {
                for (size_t p = 0; p < pieces; ++p) body(p);
            };
            const ColumnStore got = layout == Layout::Builders
                                        ? ColumnBuilder::freeze_parts(builders, shifts, length, in_turn)
                                        : ColumnBuilder::freeze_segments(builders, order, length, in_turn);
            for (uint32_t id = 0; id <= ids; ++id) {
                for (uint64_t i = 0; i <= length; ++i) {
                    ASSERT_TRUE(same_reading(expected.get(id, i), got.get(id, i)))
                        << "layout " << static_cast<int>(layout) << " seed " << seed << " id " << id << " index " << i;
                }
            }
        }
    }
}

}  // namespace

namespace {

using namespace quor_core::signal;

// A four-state value kept in the log as two bit planes reads exactly like the same value
// recorded as a heap value: every width up to 64, every bit code, in index order and out of it.
TEST(ColumnBuilder, FourStateRecordsReadLikeHeapValues) {
    for (uint64_t seed = 0; seed < 120; ++seed) {
        std::mt19937_64 rng(seed);
        const FillRule rule = seed % 2 ? FillRule::SetThenFill : FillRule::CarryThenSet;
        const bool ordered = seed % 3 != 0;
        const uint64_t length = 1 + rng() % 50;
        ColumnBuilder planes(rule);
        ColumnBuilder heap(rule);
        uint64_t index = 0;
        for (int c = 0, changes = static_cast<int>(rng() % 80); c < changes; ++c) {
            index = ordered ? index + rng() % 2 : rng() % (length + 3);
            const auto id = static_cast<uint32_t>(rng() % 3);
            if (rng() % 4 == 0) {  // other values in between
                const uint64_t v = rng() % 3;
                planes.set_uint(id, index, v);
                heap.set_uint(id, index, v);
                continue;
            }
            const unsigned width = seed % 5 == 0 ? 64 : 1 + static_cast<unsigned>(rng() % 64);
            const uint64_t low = rng(), high = rng() % 2 ? rng() : 0;
            std::vector<uint8_t> bits(width);
            for (unsigned i = 0; i < width; ++i) bits[i] = static_cast<uint8_t>(((low >> i) & 1) | (((high >> i) & 1) << 1));
            const uint64_t mask = width == 64 ? ~uint64_t{0} : (uint64_t{1} << width) - 1;
            planes.set_four_state(id, index, width, low & mask, high & mask);
            heap.set(id, index, SignalValue::four_state(std::move(bits)));
        }
        const ColumnStore want = std::move(heap).freeze(length);
        const ColumnStore got = std::move(planes).freeze(length);
        for (uint32_t id = 0; id < 4; ++id) {
            for (uint64_t i = 0; i <= length; ++i) {
                ASSERT_TRUE(same_reading(want.get(id, i), got.get(id, i))) << "seed " << seed << " id " << id << " index " << i;
            }
        }
    }
}

}  // namespace

namespace {

using namespace quor_core::signal;

// Changes staged in arrival order read exactly like changes stored straight into their signals'
// logs: the same operations go to staged and unstaged builders, whose segments are then frozen
// in the same order. Cases: many signals over several builders (more changes than fit in one
// batch, so batches go out mid-segment), a later value at the same index replacing an earlier
// one (Unknown and four-state included), a signal first seen in a late segment, empty segments,
// values that bypass the batch (heap values, very wide values) between staged ones, changes
// named by key (some keys naming no signal: dropped), and staging switched off mid-way.
TEST(ColumnBuilder, StagedChangesReadLikeDirectOnes) {
    struct Case {
        const char* name;
        uint32_t ids;
        uint64_t length;
        size_t segments;
        size_t builders;
        size_t changes_per_segment;
        unsigned same_index_percent;  // changes that repeat the index of the one before
        bool late_signal;             // the highest id appears only in the last segment
        bool empty_segments;          // every third segment records nothing
        bool switch_off;              // staging ends half-way through
        bool only_wide;               // every change a Wide value: some arrive as a batch is full
    };
    const Case cases[] = {
        {"few signals, one segment", 3, 40, 1, 1, 60, 30, false, false, false, false},
        {"many signals, batches mid-segment", 20000, 300, 3, 2, 50000, 10, false, false, false, false},
        {"same index over and over", 50, 30, 4, 2, 400, 70, false, false, false, false},
        {"signal first seen late", 300, 200, 6, 3, 500, 10, true, false, false, false},
        {"empty segments", 300, 200, 9, 2, 300, 10, false, true, false, false},
        {"staging switched off", 500, 100, 4, 2, 2000, 20, true, true, true, false},
        {"wide values as batches fill", 50, 100000, 2, 1, 40000, 5, false, false, false, true},
    };
    for (const Case& c : cases) {
        for (uint64_t seed = 0; seed < 3; ++seed) {
            std::mt19937_64 rng(seed);
            // Key 2 * id names signal id; odd keys name none.
            std::vector<uint32_t> ids_by_key(2 * size_t{c.ids}, ColumnBuilder::kNoSignal);
            for (uint32_t id = 0; id < c.ids; ++id) ids_by_key[2 * id] = id;
            std::vector<ColumnBuilder> staged, direct;
            for (size_t k = 0; k < c.builders; ++k) {
                staged.emplace_back(FillRule::CarryThenSet);
                direct.emplace_back(FillRule::CarryThenSet);
                staged.back().stage_changes(true);
                staged.back().stage_keys(ids_by_key);
            }
            std::vector<ColumnBuilder::SegmentPlace> order;
            std::vector<bool> used(c.builders, false);
            uint64_t start = 0;
            for (size_t segment = 0; segment < c.segments; ++segment) {
                const auto b = static_cast<uint32_t>(segment % c.builders);
                if (used[b]) {
                    staged[b].begin_segment();
                    direct[b].begin_segment();
                }
                used[b] = true;
                if (c.switch_off && segment == c.segments / 2) staged[b].stage_changes(false);
                order.push_back({b, start});
                const size_t changes = c.empty_segments && segment % 3 == 1 ? 0 : c.changes_per_segment;
                const bool last = segment + 1 == c.segments;
                const uint64_t span = c.length / c.segments;
                uint64_t local = 0;
                for (size_t n = 0; n < changes; ++n) {
                    if (rng() % 100 >= c.same_index_percent) local = std::min(span, local + rng() % 2);
                    const uint32_t top = c.late_signal && !last ? c.ids - 1 : c.ids;
                    const auto id = static_cast<uint32_t>(rng() % top);
                    const auto kind = c.only_wide ? 6 : rng() % 10;
                    const uint64_t value_seed = rng();
                    for (ColumnBuilder* builder : {&staged[b], &direct[b]}) {
                        std::mt19937_64 value_rng(value_seed);  // the same value for both
                        if (kind < 3) {
                            builder->set_uint_ascending(id, local, value_rng() >> (value_rng() % 64));
                        } else if (kind < 5) {
                            const bool dropped = value_seed % 4 == 0;
                            const uint64_t value = value_rng() >> (value_rng() % 64);
                            if (builder == &staged[b]) {
                                builder->set_uint_keyed(2 * id + dropped, local, value);
                            } else if (!dropped) {
                                builder->set_uint(id, local, value);
                            }
                        } else if (kind == 5) {
                            builder->set_four_state(id, local, 3, 0b101, 0b100);
                        } else if (kind == 6) {
                            const size_t words = c.only_wide ? 2 + value_rng() % 3 : 1 + value_rng() % 80;
                            builder->set_wide(id, local, std::vector<uint64_t>(words, value_rng()));
                        } else {
                            builder->set(id, local, random_value(value_rng));
                        }
                    }
                }
                start += span;
            }
            const ParallelFor in_turn = [](size_t pieces, const std::function<void(size_t)>& body) {
                for (size_t p = 0; p < pieces; ++p) body(p);
            };
            const ColumnStore want = ColumnBuilder::freeze_segments(direct, order, c.length, in_turn);
            const ColumnStore got = ColumnBuilder::freeze_segments(staged, order, c.length, in_turn);
            EXPECT_EQ(got.column(ColumnBuilder::kNoSignal), nullptr) << c.name << ": a dropped change was kept";
            for (uint32_t id = 0; id <= c.ids; ++id) {
                for (uint64_t i = 0; i <= c.length; i += 1 + (c.ids > 1000 ? 7 : 0)) {
                    ASSERT_TRUE(same_reading(want.get(id, i), got.get(id, i)))
                        << c.name << " seed " << seed << " id " << id << " index " << i;
                }
            }
        }
    }
}

}  // namespace
