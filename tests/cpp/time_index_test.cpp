// The galloping time-to-index search must agree with a plain bisection for any query order.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "trace/time_index.hpp"

namespace {

uint64_t reference_index(const std::vector<uint64_t>& ts, uint64_t time) {
    const auto it = std::upper_bound(ts.begin(), ts.end(), time);
    return it == ts.begin() ? 0 : static_cast<uint64_t>(it - ts.begin()) - 1;
}

TEST(TimeIndexFinder, AgreesWithBisection) {
    for (uint64_t seed = 0; seed < 200; ++seed) {
        std::mt19937_64 rng(seed);
        std::vector<uint64_t> ts(rng() % 300);
        uint64_t t = rng() % 5;
        for (auto& x : ts) {
            t += rng() % 3;  // repeated times included
            x = t;
        }
        quor_core::trace::TimeIndexFinder finder(ts);
        uint64_t time = 0;
        for (int q = 0; q < 500; ++q) {
            // Mostly small steps forward, sometimes a jump back or far ahead.
            const uint64_t r = rng() % 10;
            time = r == 0 ? rng() % (t + 3) : r == 1 ? time / 2 : time + rng() % 4;
            ASSERT_EQ(finder.index_of(time), reference_index(ts, time)) << "seed " << seed << " time " << time;
        }
    }
}

}  // namespace
