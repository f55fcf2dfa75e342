// PodBuffer: values survive growth from malloc into a mapping of its own and growth of that
// mapping; shrinking keeps them; the released memory comes with the deleter that frees it.

#include <gtest/gtest.h>

#include <cstdint>

#include "util/pod_buffer.hpp"

namespace {

using quor_core::util::PodBuffer;

void fill(PodBuffer<uint64_t>& b, uint64_t from, uint64_t to) {
    for (uint64_t i = from; i < to; ++i) b.push_back(i * 7);
}

bool holds(const PodBuffer<uint64_t>& b, uint64_t n) {
    if (b.size() != n) return false;
    for (uint64_t i = 0; i < n; ++i) {
        if (b[i] != i * 7) return false;
    }
    return true;
}

TEST(PodBuffer, ValuesSurviveEveryWayOfGrowingAndShrinking) {
    constexpr uint64_t kMapped = PodBuffer<uint64_t>::kMapBytes / sizeof(uint64_t);
    struct Case {
        const char* name;
        uint64_t reserve_first;  // 0: none
        uint64_t count;
    };
    const Case cases[] = {
        {"small", 0, 1000},
        {"across the mapping threshold", 0, kMapped + 10},
        {"mapping grown twice", 0, 3 * kMapped + 5},
        {"reserved far more than used", 8 * kMapped, 100},
        {"reserved small, then mapped", 100, 2 * kMapped},
        {"nothing", 0, 0},
    };
    for (const Case& c : cases) {
        PodBuffer<uint64_t> b;
        if (c.reserve_first) b.reserve(c.reserve_first);
        fill(b, 0, c.count);
        EXPECT_TRUE(holds(b, c.count)) << c.name;
        b.shrink_to_fit();
        EXPECT_TRUE(holds(b, c.count)) << c.name;
        fill(b, c.count, c.count + 3);  // grows again after shrinking
        EXPECT_TRUE(holds(b, c.count + 3)) << c.name;
        PodBuffer<uint64_t> moved(std::move(b));
        EXPECT_TRUE(holds(moved, c.count + 3)) << c.name;
        EXPECT_EQ(b.size(), 0u);
        const uint64_t* data = moved.data();
        auto memory = moved.release();
        EXPECT_EQ(memory.get(), data);
        EXPECT_EQ(moved.size(), 0u);
        EXPECT_EQ(memory.get()[c.count + 2], (c.count + 2) * 7) << c.name;
    }
}

TEST(PodBuffer, ImpossibleSizesFailWithoutChange) {
    PodBuffer<uint64_t> b;
    b.push_back(3);
    EXPECT_FALSE(b.try_reserve(SIZE_MAX / 2));
    EXPECT_THROW(b.reserve(SIZE_MAX / 4), std::bad_alloc);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(b[0], 3u);
}

TEST(PodBuffer, AppendAndResize) {
    PodBuffer<uint64_t> b;
    const uint64_t values[] = {4, 5, 6};
    b.append(values, 3);
    b.append(values, 0);
    b.resize(5);
    b[3] = 7;
    b[4] = 8;
    b.resize(4);
    ASSERT_EQ(b.size(), 4u);
    EXPECT_EQ(b[0] + b[1] + b[2] + b[3], 22u);
}

}  // namespace
