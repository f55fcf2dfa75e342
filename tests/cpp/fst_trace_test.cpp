// The FST trace adapter: value conversion and loading of crafted files.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "fst_test_writer.hpp"
#include "formats/fst/fst.hpp"
#include "formats/fst/fst_values.hpp"

using namespace quor_core;
using quor_core::signal::SignalValue;
using quor_core::trace::convert_fst_bits;
using quor_core::trace::convert_fst_text;
using quor_core::trace::FstTrace;
using Buf = std::vector<std::uint8_t>;

namespace {

TEST(FstConvert, BitStrings) {
    const struct {
        std::string bits;
        SignalValue expected;
    } cases[] = {
        {"", SignalValue::unknown()},
        {"0101", SignalValue::uint(5)},
        {"01x1", SignalValue::four_state({0, 1, 2, 1})},
        // Nine-valued logic in both cases: L and H are 0 and 1, U, W and - unknown.
        {"1z-Zuwhl", SignalValue::four_state({1, 3, 2, 3, 2, 2, 1, 0})},
        {"0H1", SignalValue::uint(3)},
        {"LHlh", SignalValue::uint(5)},
        {"UUUU", SignalValue::four_state({2, 2, 2, 2})},
        {"LH-U0101", SignalValue::four_state({0, 1, 2, 2, 0, 1, 0, 1})},
        {"W", SignalValue::four_state({2})},
        {"0a1", SignalValue::text("0a1")},
        {"idle", SignalValue::text("idle")},
        // Every character counts.
        {"1" + std::string(64, '0') + "1", SignalValue::wide({1, 2})},
        {std::string(70, '1'), SignalValue::wide({UINT64_MAX, 63})},
        {std::string(64, '1'), SignalValue::uint(UINT64_MAX)},
        {std::string(65, 'x'), SignalValue::four_state(std::vector<uint8_t>(65, 2))},
    };
    for (const auto& c : cases) EXPECT_EQ(convert_fst_bits(c.bits), c.expected) << c.bits;
}

// Packed two-state bits of every width up to three words read as the characters they stand for.
TEST(FstConvert, PackedBitsReadLikeTheirCharacters) {
    std::mt19937_64 rng(3);
    for (uint32_t width = 1; width <= 192; ++width) {
        std::vector<uint8_t> packed((width + 7) / 8 + 8);
        for (auto& b : packed) b = static_cast<uint8_t>(rng());
        std::string chars(width, '0');
        for (uint32_t k = 0; k < width; ++k) chars[k] = (packed[k / 8] >> (7 - k % 8)) & 1 ? '1' : '0';
        const fst_container::PackedBits bits{packed.data(), width, packed.data() + packed.size()};
        const SignalValue want = convert_fst_bits(chars);
        if (width <= 64) {
            EXPECT_EQ(SignalValue::uint(bits.low_word()), want) << width;
        } else {
            std::vector<uint64_t> words;
            quor_core::trace::words_of_packed(bits, words);
            EXPECT_EQ(SignalValue::wide(words), want) << width;
        }
    }
}

TEST(FstConvert, VariableLengthValuesStayText) {
    EXPECT_EQ(convert_fst_text(""), SignalValue::unknown());
    EXPECT_EQ(convert_fst_text("idle"), SignalValue::text("idle"));
    EXPECT_EQ(convert_fst_text("run"), SignalValue::text("run"));
    EXPECT_EQ(convert_fst_text("0101"), SignalValue::text("0101"));
    EXPECT_EQ(convert_fst_text("a\xFF"), SignalValue::text("a\xEF\xBF\xBD"));
}

std::string write_temp(const std::vector<std::uint8_t>& bytes) {
    char name[] = "/tmp/quor_fst_trace_XXXXXX";
    const int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    close(fd);
    std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
    return name;
}

// Loads an FST written to a temporary file, which is removed again.
template <typename Bytes>
auto load_written(const Bytes& file) {
    const std::string path = write_temp(file);
    auto loaded = FstTrace::from_file(path);
    std::remove(path.c_str());
    return loaded;
}

TEST(FstTraceLoad, NamesIdsAndValues) {
    using namespace fst_test;
    // Scopes top and top.cpu; a top-level variable; a duplicate full name
    // with another handle (ignored); an alias sharing handle 1.
    Bytes up;
    up.u8(255);
    const auto entries = concat({var_entry("bare", 1), scope_entry("top"), var_entry("a", 1), scope_entry("cpu"),
                                 var_entry("pc", 4), var_entry("pc", 1), var_entry("a_alias", 1, 2), up.b, up.b});
    VcBlock b;
    b.start = 0;
    b.end = 20;
    b.frame = {'0', '1', '0', '0', '0', '0', '1'};
    b.frame_signals = 4;
    b.times = {10, 20};
    b.data = {std::nullopt, Buf{0x02}, Buf{0x02, 0xA0}, std::nullopt};
    // handles: bare 1, a 2, pc 3, (pc duplicate) 4
    const auto file = concat({header_block(0, 20, 4), geometry_block({1, 1, 4, 1}), hierarchy_lz4_block(entries),
                              vc_block(b)});
    auto loaded = load_written(file);
    ASSERT_TRUE(loaded.ok()) << loaded.error();
    const FstTrace& t = loaded.value();
    const std::vector<std::string> names = {"bare", "top.a", "top.cpu.pc", "top.cpu.a_alias"};
    EXPECT_EQ(std::vector<std::string>(t.signal_names().begin(), t.signal_names().end()), names);
    EXPECT_EQ(std::vector<std::string>(t.scopes().begin(), t.scopes().end()),
              (std::vector<std::string>{"top", "top.cpu"}));
    EXPECT_EQ(t.signal_id("top.cpu.a_alias"), t.signal_id("top.a"));
    EXPECT_EQ(t.signal_id("top.cpu.pc"), 2u);
    EXPECT_EQ(t.signal_width("top.cpu.pc"), 4u);
    EXPECT_EQ(t.max_index(), 2u);  // 0 (block start, before the first time), 10, 20
    EXPECT_EQ(t.signal_value("top.a", 0), SignalValue::uint(1));
    EXPECT_EQ(t.signal_value("top.a", 1), SignalValue::uint(1));  // its change to 1 at index 1 of the block
    EXPECT_EQ(t.signal_value("top.cpu.pc", 0), SignalValue::uint(0));
    EXPECT_EQ(t.signal_value("top.cpu.pc", 2), SignalValue::uint(10));
    EXPECT_EQ(t.signal_value("top.cpu.a_alias", 2), t.signal_value("top.a", 2));
}

// A name declared again with a handle of its own takes no id, so the ids of the handles after
// it are not their positions: their values still land under their own names, and the values of
// the unnamed handle are dropped.
TEST(FstTraceLoad, ValuesFollowTheirNamesPastAnIgnoredDuplicate) {
    using namespace fst_test;
    Bytes up;
    up.u8(255);
    // handles: a 1, a again 2 (ignored), b 3, c 4
    const auto entries = concat({scope_entry("top"), var_entry("a", 1), var_entry("a", 1), var_entry("b", 1),
                                 var_entry("c", 4), up.b});
    VcBlock block;
    block.start = 0;
    block.end = 20;
    block.frame = {'0', '1', '0', '0', '0', '1', '1'};
    block.frame_signals = 4;
    block.times = {10, 20};
    block.data = {std::nullopt, Buf{0x02}, Buf{0x02}, Buf{0x02, 0xA0}};
    const auto file = concat({header_block(0, 20, 4), geometry_block({1, 1, 1, 4}), hierarchy_lz4_block(entries),
                              vc_block(block)});
    auto loaded = load_written(file);
    ASSERT_TRUE(loaded.ok()) << loaded.error();
    const FstTrace& t = loaded.value();
    EXPECT_EQ(std::vector<std::string>(t.signal_names().begin(), t.signal_names().end()),
              (std::vector<std::string>{"top.a", "top.b", "top.c"}));
    EXPECT_EQ(t.signal_id("top.b"), 1u);
    EXPECT_EQ(t.signal_id("top.c"), 2u);
    const struct {
        const char* name;
        uint64_t index;
        SignalValue value;
    } cases[] = {
        {"top.a", 0, SignalValue::uint(0)}, {"top.a", 2, SignalValue::uint(0)},
        {"top.b", 0, SignalValue::uint(0)}, {"top.b", 1, SignalValue::uint(1)},
        {"top.c", 0, SignalValue::uint(3)}, {"top.c", 2, SignalValue::uint(10)},
    };
    for (const auto& c : cases) EXPECT_EQ(t.signal_value(c.name, c.index), c.value) << c.name << " at " << c.index;
}

TEST(FstTraceLoad, EmptyScopeNamesKeepTheirSeparators) {
    using namespace fst_test;
    Bytes up;
    up.u8(255);
    // Scopes "", "x" (inside it), then "a", "" and "b" nested.
    const auto entries = concat({scope_entry(""), scope_entry("x"), var_entry("v", 1), up.b, up.b, scope_entry("a"),
                                 scope_entry(""), scope_entry("b"), var_entry("w", 1), up.b, up.b, up.b});
    const auto file = concat({header_block(0, 0, 2), geometry_block({1, 1}), hierarchy_lz4_block(entries)});
    auto loaded = load_written(file);
    ASSERT_TRUE(loaded.ok()) << loaded.error();
    const FstTrace& t = loaded.value();
    EXPECT_EQ(std::vector<std::string>(t.signal_names().begin(), t.signal_names().end()),
              (std::vector<std::string>{".x.v", "a..b.w"}));
    EXPECT_EQ(std::vector<std::string>(t.scopes().begin(), t.scopes().end()),
              (std::vector<std::string>{"", ".x", "a", "a.", "a..b"}));
}

TEST(FstTraceLoad, NamesFoundWithTheirOwnIdsAndWidths) {
    using namespace fst_test;
    Bytes up;
    up.u8(255);
    // handles: bus 1, q 2, the second "bus [7:0]" 3 (ignored: the first declaration holds); q_alias
    // names handle 2 with a width of its own.
    const auto entries = concat({scope_entry("top"), var_entry("bus [7:0]", 8), var_entry("q", 1),
                                 var_entry("bus [7:0]", 3), var_entry("q_alias", 2, 2), up.b});
    const auto file = concat({header_block(0, 0, 3), geometry_block({8, 1, 3}), hierarchy_lz4_block(entries)});
    auto loaded = load_written(file);
    ASSERT_TRUE(loaded.ok()) << loaded.error();
    const FstTrace& t = loaded.value();
    EXPECT_EQ(std::vector<std::string>(t.signal_names().begin(), t.signal_names().end()),
              (std::vector<std::string>{"top.bus [7:0]", "top.q", "top.q_alias"}));
    const struct {
        const char* name;
        std::optional<uint32_t> id;
        uint32_t width;
    } cases[] = {
        {"top.bus [7:0]", 0, 8}, {"top.bus", 0, 8},      {"top.q", 1, 1}, {"top.q_alias", 1, 2},
        {"top.bu", std::nullopt, 1}, {"bus [7:0]", std::nullopt, 1}, {"", std::nullopt, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(t.signal_id(c.name), c.id) << c.name;
        EXPECT_EQ(t.signal_width(c.name), c.width) << c.name;
    }
}

TEST(FstTraceLoad, Messages) {
    auto missing = FstTrace::from_file("/nonexistent/file.fst");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error(), "Failed to open /nonexistent/file.fst: No such file or directory (os error 2)");
    auto dir = FstTrace::from_file("/tmp");
    ASSERT_FALSE(dir.ok());
    // A directory opens; reading it fails.
    EXPECT_EQ(dir.error(), "FST open: I/O operation failed: Is a directory (os error 21)");

    const std::string empty = write_temp({});
    auto opened = FstTrace::from_file(empty);
    std::remove(empty.c_str());
    ASSERT_FALSE(opened.ok());
    EXPECT_EQ(opened.error(), "FST open: I/O operation failed: the file is empty");

    using namespace fst_test;
    const std::string bad_hierarchy = write_temp(
        concat({header_block(0, 1, 1), geometry_block({1}), hierarchy_lz4_block(Buf{254, 99, 0, 0})}));
    auto h = FstTrace::from_file(bad_hierarchy);
    std::remove(bad_hierarchy.c_str());
    ASSERT_FALSE(h.ok());
    EXPECT_EQ(h.error(), "FST hierarchy: Unexpected scope type: 99, in hierarchy entry 1 at byte 0 of the decompressed "
                         "hierarchy, in the hierarchy block at byte " +
                             std::to_string(header_block(0, 1, 1).size() + geometry_block({1}).size()));

    VcBlock b;
    b.end = 5;
    b.frame_signals = 1;
    b.times = {0, 5};
    b.data = {Buf{0x03, 0, 0}};  // a real cut short
    const std::string bad_signals = write_temp(concat(
        {header_block(0, 5, 1), geometry_block({0}), hierarchy_lz4_block(var_entry("r", 64, 0, 3)), vc_block(b)}));
    auto s = FstTrace::from_file(bad_signals);
    std::remove(bad_signals.c_str());
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.error(), "FST signals: I/O operation failed: a value runs past the end of its signal's data, in the "
                         "data of signal handle 1, in the value-change block at byte " +
                             std::to_string(header_block(0, 5, 1).size() + geometry_block({0}).size() +
                                            hierarchy_lz4_block(var_entry("r", 64, 0, 3)).size()));
}

}  // namespace
