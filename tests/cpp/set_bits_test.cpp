// Writing the positions of set bits as indices: the vector path (where the processor has it)
// against the plain one, over words of every density, with and without room past the end.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "eval/bits/set_bits.hpp"

namespace {

using quor_core::eval::write_set_bit_indices;
using quor_core::eval::write_set_bit_indices_plain;

TEST(SetBits, IndicesOfEveryDensityAndRoom) {
    struct Case {
        size_t words;
        unsigned one_in;  // a bit is set with probability 1 / one_in
        size_t room;      // entries of room past the exact result
    };
    const Case cases[] = {{0, 1, 0}, {1, 1, 0}, {1, 1, 100}, {37, 2, 0}, {37, 2, 64}, {500, 1, 64},
                          {500, 3, 0}, {500, 40, 7}, {500, 2, 1000}, {3, 64, 64},
                          // Words of none, one or two bits, then a few: near and away from the end.
                          {500, 256, 0}, {500, 256, 64}, {500, 64, 1}, {500, 20, 63}, {500, 12, 200},
                          {2, 1u << 30, 0}, {2, 1u << 30, 64}};
    std::mt19937_64 rng(5);
    for (const Case& c : cases) {
        std::vector<uint64_t> words(c.words);
        for (auto& w : words) {
            for (int b = 0; b < 64; ++b) w |= uint64_t{rng() % c.one_in == 0} << b;
        }
        if (c.words > 2) words[1] = ~uint64_t{0};
        const uint64_t base = 1000 + rng() % 100;
        std::vector<uint64_t> want(c.words * 64 + 1);
        want.resize(write_set_bit_indices_plain(words.data(), c.words, base, want.data()));
        std::vector<uint64_t> got(want.size() + c.room + 1, 7);
        const uint64_t guard = 0xdead;
        got[want.size() + c.room] = guard;  // the first entry past out_end stays untouched
        const size_t n = write_set_bit_indices(words.data(), c.words, base, got.data(), got.data() + want.size() + c.room);
        ASSERT_EQ(n, want.size());
        EXPECT_TRUE(std::equal(want.begin(), want.end(), got.begin())) << c.words << " " << c.one_in;
        EXPECT_EQ(got[want.size() + c.room], guard);
        for (size_t i = 1; i < want.size(); ++i) ASSERT_LT(want[i - 1], want[i]);
    }
}

}  // namespace
