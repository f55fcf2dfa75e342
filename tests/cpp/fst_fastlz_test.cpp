// FastLZ decompression, levels 1 and 2, with streams assembled by hand.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fst_container/compression/fastlz.hpp"

using namespace fst_container;
using Buf = std::vector<std::uint8_t>;

namespace {

// Decodes through both entry points and checks that they agree.
Result<Buf> decode(const Buf& stream, std::size_t uncompressed) {
    SliceSource src(stream);
    auto via_source = fastlz::decompress(src, stream.size(), uncompressed);
    Buf out(uncompressed);
    const auto via_span = fastlz::decompress_into(stream, out.data(), out.size());
    EXPECT_EQ(via_source.ok(), via_span.ok());
    if (via_source.ok() && via_span.ok()) {
        out.resize(*via_span);
        EXPECT_EQ(*via_source, out);
        EXPECT_EQ(src.position(), stream.size());
    }
    return via_source;
}

// Literal runs of 32 bytes each, byte i of the output being i % 251.
Buf literal_prefix(std::size_t runs, Buf& expected) {
    Buf stream;
    for (std::size_t r = 0; r < runs; ++r) {
        stream.push_back(31);
        for (int k = 0; k < 32; ++k) {
            const auto b = static_cast<std::uint8_t>(expected.size() % 251);
            stream.push_back(b);
            expected.push_back(b);
        }
    }
    return stream;
}

TEST(FastLz, Level1Vectors) {
    struct Case {
        Buf stream;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {{0x02, 'A', 'B', 'C'}, "ABC"},
        {{0x00, 'a', 0x40, 0x00}, "aaaaa"},                        // distance 1 repeats the last byte
        {{0x01, 'a', 'b', 0xE0, 0x05, 0x01}, "abababababababab"},  // long match: 5 + 9 bytes
        {{0x01, 'x', 'y', 0x20, 0x01, 0x00, 'z'}, "xyxyxz"},        // match then literal
    };
    for (const auto& c : cases) {
        const auto r = decode(c.stream, c.expected.size());
        ASSERT_TRUE(r.ok()) << r.error().debug();
        EXPECT_EQ(std::string(r->begin(), r->end()), c.expected);
    }
}

TEST(FastLz, Level1FarDistanceUsesControlBits) {
    Buf expected;
    Buf stream = literal_prefix(9, expected);  // 288 bytes
    stream.insert(stream.end(), {0x21, 0x05});  // length 3, distance 256 + 5 + 1
    const std::size_t start = expected.size() - 262;
    for (int k = 0; k < 3; ++k) expected.push_back(expected[start + k]);
    const auto r = decode(stream, expected.size());
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(*r, expected);
}

TEST(FastLz, Level2Vectors) {
    struct Case {
        Buf stream;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {{0x22, 'A', 'B', 'C'}, "ABC"},
        {{0x20, 'a', 0xE0, 0xFF, 0x03, 0x00}, std::string(268, 'a')},  // length 9 + 255 + 3
        {{0x20, 'a', 0x40, 0x00}, "aaaaa"},
    };
    for (const auto& c : cases) {
        const auto r = decode(c.stream, c.expected.size());
        ASSERT_TRUE(r.ok()) << r.error().debug();
        EXPECT_EQ(std::string(r->begin(), r->end()), c.expected);
    }
}

TEST(FastLz, Level2FarDistance) {
    Buf expected;
    Buf stream = literal_prefix(260, expected);  // 8320 bytes
    stream[0] |= 0x20;                           // level 2 marker on the first control byte
    stream.insert(stream.end(), {0x3F, 0xFF, 0x00, 0x0A});  // distance 10 + 8192
    const std::size_t start = expected.size() - 8202;
    for (int k = 0; k < 3; ++k) expected.push_back(expected[start + k]);
    const auto r = decode(stream, expected.size());
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(*r, expected);
}

TEST(FastLz, RejectsBadStreams) {
    const std::vector<std::pair<Buf, std::size_t>> cases = {
        {{0x40, 'a'}, 16},              // level bits 010
        {{0xE0, 'a'}, 16},              // level bits 111
        {{0x00, 'a', 0x20, 0x05}, 16},  // reference before the start of the output
        {{0x02, 'A', 'B', 'C'}, 2},     // more output than stated
        {{0x00, 'a', 0xE0}, 64},        // instruction cut short
    };
    for (const auto& [stream, size] : cases) {
        SliceSource src(stream);
        EXPECT_FALSE(fastlz::decompress(src, stream.size(), size).ok());
        Buf out(size);
        EXPECT_FALSE(fastlz::decompress_into(stream, out.data(), out.size()).ok());
    }
}

TEST(FastLz, ZeroLengthAtLevel1DecodesNothing) {
    const Buf stream = {0x02, 'A', 'B', 'C'};
    SliceSource src(stream);
    const auto r = fastlz::decompress(src, 0, 8);
    ASSERT_TRUE(r.ok());
    EXPECT_TRUE(r->empty());
}

TEST(FastLz, LiteralRunCountsWholeRun) {
    const Buf bytes = {'p', 'q'};
    SliceSource src(bytes);
    Buf out;
    std::uint64_t consumed = 0;
    ASSERT_TRUE(fastlz::literal_run(src, 4, consumed, out).ok());
    EXPECT_EQ(consumed, 5u);
    EXPECT_EQ(out, (Buf{'p', 'q'}));
}

}  // namespace
