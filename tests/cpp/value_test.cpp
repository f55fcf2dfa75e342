// Bit-string packing and numeric readings of signal values.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "signal/bitpack.hpp"
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
        {"1u01", SignalValue::uint(9)},
        {std::string(70, '1'), SignalValue::uint(UINT64_MAX)},
        {"1" + std::string(64, '0'), SignalValue::uint(0)},
        {"1\xC3\xA9" "1", SignalValue::uint(5)},            // a two-byte character is one 0 bit
        {"x\xC3\xA9", SignalValue::four_state({2, 2})},      // and one X code
    };
    for (const auto& c : cases) EXPECT_EQ(parse_binary_str(c.text), c.expected) << c.text;
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
