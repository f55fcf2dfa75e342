// Chain tables and the per-change decoding rules of value-change blocks.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "fst_container/change_decoding.hpp"
#include "fst_container/value_changes.hpp"
#include "fst_test_writer.hpp"

using namespace fst_container;
using Buf = std::vector<std::uint8_t>;
using Loc = SignalDataLoc;

namespace {

TEST(FstChainTable, FirstForm) {
    // signal 0 at offset 1, one signal without data, signal 2 an alias of
    // signal 0, signal 3 at offset 3 running to the end of the data region.
    const Buf chain = {0x03, 0x02, 0x00, 0x01, 0x05};
    const auto r = read_value_change_alias(chain, 10, 100);
    ASSERT_TRUE(r.ok()) << r.error().debug();
    const std::vector<Loc> expected = {Loc::offset(1, 2), Loc::none(), Loc::alias(0), Loc::offset(3, 7)};
    EXPECT_EQ(*r, expected);
}

TEST(FstChainTable, SecondForm) {
    fst_test::Bytes chain;
    chain.svarint(1 * 2 + 1);           // signal 0: data 1 byte on
    chain.varint(2 << 1);               // signals 1 and 2: no data
    chain.svarint(4 * 2 + 1);           // signal 3: data 4 bytes further
    chain.svarint((-2 - 1) * 2 + 1);    // signal 4: alias of signal 2 (remembered)
    chain.svarint(1);                   // signal 5: alias of the remembered signal again
    const auto r = read_value_change_alias2(chain.b, 20, 7);
    ASSERT_TRUE(r.ok()) << r.error().debug();
    const std::vector<Loc> expected = {Loc::offset(1, 4), Loc::none(),     Loc::none(),   Loc::offset(5, 15),
                                       Loc::alias(2),     Loc::alias(2),   Loc::none()};
    EXPECT_EQ(*r, expected);
}

TEST(FstChainTable, RejectsInconsistentTables) {
    // Index past the signal count (second form).
    fst_test::Bytes past;
    past.varint(4 << 1).svarint(3);
    EXPECT_FALSE(read_value_change_alias2(past.b, 20, 3).ok());
    // More entries than signals (first form), including a huge skip run.
    EXPECT_FALSE(read_value_change_alias(Buf{0x03, 0x03, 0x03}, 20, 2).ok());
    fst_test::Bytes skip;
    skip.varint(0x7FFFFFFEull);
    EXPECT_FALSE(read_value_change_alias(skip.b, 20, 10).ok());
    // Last entry starting at or after the end of the data region.
    EXPECT_FALSE(read_value_change_alias(Buf{0x15}, 10, 10).ok());
    // Zero-length entry.
    EXPECT_FALSE(read_value_change_alias(Buf{0x03, 0x01}, 10, 10).ok());
    // Alias of "signal -1".
    EXPECT_FALSE(read_value_change_alias(Buf{0x00, 0x00}, 10, 10).ok());
}

TEST(FstChainTable, OffsetIterResolvesAliases) {
    const std::vector<Loc> locs = {Loc::offset(1, 2), Loc::none(), Loc::alias(0), Loc::offset(3, 7)};
    OffsetTableIter iter(locs);
    std::vector<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>> seen;
    for (;;) {
        const auto next = iter.next();
        ASSERT_TRUE(next.ok());
        if (!*next) break;
        seen.emplace_back((*next)->index, (*next)->offset, (*next)->length);
    }
    const std::vector<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>> expected = {
        {0, 1, 2}, {2, 1, 2}, {3, 3, 7}};
    EXPECT_EQ(seen, expected);

    for (const std::vector<Loc>& bad : {std::vector<Loc>{Loc::alias(5)}, std::vector<Loc>{Loc::none(), Loc::alias(0)},
                                        std::vector<Loc>{Loc::alias(1), Loc::alias(0)}}) {
        OffsetTableIter it(bad);
        EXPECT_FALSE(it.next().ok());
    }
}

TEST(FstDeltas, OneBitRule) {
    struct Case {
        std::uint8_t v;
        char value;
        std::uint32_t delta;
    };
    const std::vector<Case> cases = {
        {0x06, '1', 1}, {0x04, '0', 1}, {0x00, '0', 0}, {0x01, 'x', 0},
        {0x13, 'z', 1}, {0x09, 'w', 0}, {0x0F, '?', 0}, {0x0D, '-', 0},
    };
    for (const auto& c : cases) {
        const Buf bytes = {0xAA, c.v};
        const auto delta = read_one_bit_signal_time_delta(bytes, 1);
        ASSERT_TRUE(delta.ok());
        EXPECT_EQ(*delta, c.delta) << int(c.v);
        EXPECT_EQ(one_bit_char(c.v), c.value) << int(c.v);
    }
}

TEST(FstDeltas, MultiBitRule) {
    const Buf bytes = {0x02, 0xA0, 0x03, '1', 'x', '0', 'z', 0x85, 0x01};
    EXPECT_EQ(*read_multi_bit_signal_time_delta(bytes, 0), 1u);
    EXPECT_EQ(*read_multi_bit_signal_time_delta(bytes, 2), 1u);
    EXPECT_EQ(*read_multi_bit_signal_time_delta(bytes, 7), 66u);  // two-byte varint 133
    EXPECT_FALSE(read_multi_bit_signal_time_delta(bytes, 9).ok());
    char out[12];
    unpack_bits(&bytes[1], 4, out);
    EXPECT_EQ(std::string(out, 4), "1010");
    const Buf packed = {0xF0, 0x81};
    unpack_bits(packed.data(), 12, out);
    EXPECT_EQ(std::string(out, 12), "111100001000");
}

// The packed form read as a number equals the characters the bits unpack to, read as a
// two-state value: the last 64 bits, whatever the unused low bits of the last byte hold and
// whether or not a whole word can be read at once.
TEST(FstPackedBits, LowWordIsTheLastSixtyFourBits) {
    std::mt19937_64 rng(7);
    for (const std::uint32_t bits : {1u, 2u, 7u, 8u, 9u, 20u, 56u, 63u, 64u, 65u, 70u, 72u, 128u, 130u}) {
        const std::size_t bytes = (bits + 7) / 8;
        Buf data(bytes + 8);
        for (auto& b : data) b = static_cast<std::uint8_t>(rng());
        std::string chars(bits, ' ');
        unpack_bits(data.data(), bits, chars.data());
        std::uint64_t expected = 0;
        for (const char c : chars) expected = (expected << 1) | static_cast<std::uint64_t>(c == '1');
        for (const std::size_t readable : {bytes, data.size()}) {
            const PackedBits packed{data.data(), bits, data.data() + readable};
            EXPECT_EQ(packed.low_word(), expected) << bits << " bits, " << readable << " readable";
        }
    }
}

}  // namespace
