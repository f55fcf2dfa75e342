// Bit-string packing and numeric readings of signal values.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "signal/values/bitpack.hpp"
#include "signal/column.hpp"

namespace {

using namespace quor_core::signal;

struct PackCase {
    std::string text;
    SignalValue expected;
};

TEST(ParseBinaryStr, Table) {
    const PackCase cases[] = {
        {"", SignalValue::unknown()},
        {"b", SignalValue::unknown()},
        {"b1010", SignalValue::uint(10)},
        {"1010", SignalValue::uint(10)},
        {"B11", SignalValue::uint(3)},
        {"bb1", SignalValue::uint(1)},
        {"10x1", SignalValue::four_state({1, 0, 2, 1})},
        {"1x0z", SignalValue::four_state({1, 2, 0, 3})},
        {"Z", SignalValue::four_state({3})},
        // Nine-valued logic, either case: U, W and - are unknown bits, L and H are 0 and 1.
        {"1u01", SignalValue::four_state({1, 2, 0, 1})},
        {"bUUUUUUUU", SignalValue::four_state(std::vector<uint8_t>(8, 2))},
        {"bLH-U0101", SignalValue::four_state({0, 1, 2, 2, 0, 1, 0, 1})},
        {"bWz", SignalValue::four_state({2, 3})},
        {"LHhl", SignalValue::uint(6)},
        {"1a01", SignalValue::uint(9)},                       // no bit at all: a 0 in a two-state value
        {"1a0x", SignalValue::four_state({1, 2, 0, 2})},      // and unknown in a four-state one
        // Every character counts: beyond 64, words least significant first.
        {std::string(64, '1'), SignalValue::uint(UINT64_MAX)},
        {std::string(70, '1'), SignalValue::wide({UINT64_MAX, 63})},
        {"1" + std::string(64, '0'), SignalValue::wide({0, 1})},
        {"1" + std::string(128, '0'), SignalValue::wide({0, 0, 1})},
        {"H" + std::string(127, 'L'), SignalValue::wide({0, uint64_t{1} << 63})},
        {std::string(65, 'x'), SignalValue::four_state(std::vector<uint8_t>(65, 2))},
        {"1\xC3\xA9" "1", SignalValue::uint(5)},            // a two-byte character is one 0 bit
        {"x\xC3\xA9", SignalValue::four_state({2, 2})},      // and one X code
    };
    for (const auto& c : cases) EXPECT_EQ(parse_binary_str(c.text), c.expected) << c.text;
}

// A bit string shorter than its signal's declared width extends as VCD writers mean it: a
// leading X or Z repeats, anything else gains 0 bits; a longer one keeps every character.
TEST(ParseBinaryStr, ExtendsToTheDeclaredWidth) {
    const struct {
        std::string text;
        uint32_t width;
        SignalValue expected;
    } cases[] = {
        {"bx", 8, SignalValue::four_state(std::vector<uint8_t>(8, 2))},
        {"bxxxxxxxx", 8, SignalValue::four_state(std::vector<uint8_t>(8, 2))},
        {"bz", 4, SignalValue::four_state({3, 3, 3, 3})},
        {"bU", 3, SignalValue::four_state({2, 2, 2})},
        {"bzx", 3, SignalValue::four_state({3, 3, 2})},
        {"b0x", 4, SignalValue::four_state({0, 0, 0, 2})},
        {"b1x", 4, SignalValue::four_state({0, 0, 1, 2})},
        {"b1", 8, SignalValue::uint(1)},
        {"b101010", 4, SignalValue::uint(42)},
        {"bx", 0, SignalValue::four_state({2})},  // width not known
        {"b1", 65, SignalValue::wide({1, 0})},
        {"b1", 128, SignalValue::wide({1, 0})},
        {"b1", 129, SignalValue::wide({1, 0, 0})},
        {"b" + std::string(70, '1'), 8, SignalValue::wide({UINT64_MAX, 63})},
        {"b" + std::string(70, '1'), 200, SignalValue::wide({UINT64_MAX, 63, 0, 0})},
        {"bx1", 66, SignalValue::four_state([] {
             std::vector<uint8_t> v(66, 2);
             v.back() = 1;
             return v;
         }())},
        {"b", 8, SignalValue::unknown()},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_binary_str(c.text, c.width), c.expected) << c.text << " / " << c.width;
    EXPECT_EQ(extend_to_width(SignalValue::real(1.5), 128), SignalValue::real(1.5));
    EXPECT_EQ(extend_to_width(SignalValue::text("go"), 128), SignalValue::text("go"));
}

// Readers that gather long bit strings 64 characters at a time assemble the same words as the
// character-by-character packing, for every length around the word boundaries.
TEST(WordsFromChunks, MatchesCharacterPacking) {
    std::mt19937_64 rng(11);
    for (uint64_t count = 1; count <= 300; ++count) {
        std::string text(count, '0');
        for (auto& c : text) c = rng() % 2 ? '1' : '0';
        std::vector<uint64_t> chunks;
        for (uint64_t at = 0; at < count; at += 64) {
            uint64_t v = 0;
            for (uint64_t i = at; i < std::min(count, at + 64); ++i) v = (v << 1) | uint64_t(text[i] == '1');
            chunks.push_back(v);
        }
        std::vector<uint64_t> words;
        words_from_chunks(chunks, count, words);
        const SignalValue want = parse_binary_str(text);
        const SignalValue got = count <= 64 ? SignalValue::uint(words.at(0)) : SignalValue::wide(words);
        EXPECT_EQ(got, want) << count;
    }
}

// A view of a Wide value reads like the value: its words, numeric reading, truth and identity.
TEST(ValueRef, WideViews) {
    const SignalValue a = SignalValue::wide({5, 1});
    const SignalValue same = SignalValue::wide({5, 1});
    const SignalValue other = SignalValue::wide({5, 2});
    const SignalValue shorter = SignalValue::wide({5});
    const SignalValue zero = SignalValue::wide({0, 0});
    EXPECT_EQ(ValueRef::of(a).to_value(), a);
    EXPECT_EQ(ValueRef::of(a).to_u64(), 5u);
    EXPECT_TRUE(identical(ValueRef::of(a), ValueRef::of(same)));
    EXPECT_FALSE(identical(ValueRef::of(a), ValueRef::of(other)));  // differs above bit 64
    EXPECT_FALSE(identical(ValueRef::of(a), ValueRef::of(shorter)));
    EXPECT_FALSE(identical(ValueRef::of(SignalValue::uint(5)), ValueRef::of(shorter)));
    EXPECT_TRUE(ValueRef::of(other).truthy());
    EXPECT_TRUE(ValueRef::of(SignalValue::wide({0, 1})).truthy());
    EXPECT_FALSE(ValueRef::of(zero).truthy());
}

struct ReadingCase {
    SignalValue value;
    std::optional<uint64_t> expected;
};

TEST(ToU64, Table) {
    const ReadingCase cases[] = {
        {SignalValue::uint(42), 42},
        {SignalValue::wide({7, 9}), 7},
        {SignalValue::wide({}), std::nullopt},
        {SignalValue::four_state({1, 0, 1}), 5},
        {SignalValue::four_state({1, 3}), std::nullopt},
        {SignalValue::four_state({}), 0},
        {SignalValue::real(3.9), 3},
        {SignalValue::real(-1.0), 0},
        {SignalValue::real(std::nan("")), 0},
        {SignalValue::real(1e30), UINT64_MAX},
        {SignalValue::text("+42"), 42},
        {SignalValue::text("42 "), std::nullopt},
        {SignalValue::text("18446744073709551616"), std::nullopt},
        {SignalValue::text("18446744073709551615"), UINT64_MAX},
        {SignalValue::text("+"), std::nullopt},
        {SignalValue::text(""), std::nullopt},
        {SignalValue::text("-1"), std::nullopt},
        {SignalValue::unknown(), std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.value.to_u64(), c.expected) << c.value.index();
        EXPECT_EQ(ValueRef::of(c.value).to_u64(), c.expected) << c.value.index();
    }
}

TEST(SignalValue, EqualityIsByAlternativeAndPayload) {
    EXPECT_NE(SignalValue::uint(5), SignalValue::four_state({1, 0, 1}));
    EXPECT_NE(SignalValue::uint(7), SignalValue::wide({7}));
    EXPECT_NE(SignalValue::real(std::nan("")), SignalValue::real(std::nan("")));
    EXPECT_EQ(SignalValue::real(0.0), SignalValue::real(-0.0));
    EXPECT_EQ(SignalValue::unknown(), SignalValue::unknown());
}

}  // namespace
