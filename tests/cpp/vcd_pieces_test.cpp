// Reading the value changes of a VCD text in stretches at the same time must give exactly what
// reading it in order gives, wherever the cuts fall; and the fast line reader must agree with
// the general one on every odd form of a line.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "signal/values/bitpack.hpp"
#include "formats/vcd/vcd.hpp"

namespace {

using quor_core::signal::SignalValue;
using quor_core::trace::VcdPieces;
using quor_core::trace::VcdTrace;

const char* const kCodes[] = {"!", "\"", "#", "aa", "~~", "abc", "long1", "long2", "a!c", "b!c"};

// narrow: no signal wider than 64 bits.
std::string random_vcd(uint32_t seed, bool declaration_midway, bool narrow = false) {
    std::mt19937 rng(seed);
    const auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
    std::string text = "$timescale 1ns $end\n$scope module top $end\n";
    for (size_t i = 0; i < std::size(kCodes); ++i) {
        // Scalars, 8-bit vectors, and two signals wider than 64 bits ("abc" and "long2").
        const int width = narrow && (i == 5 || i == 7) ? 64 : i == 5 ? 96 : i == 7 ? 130 : i % 3 == 0 ? 1 : 8;
        text += "$var wire " + std::to_string(width) + " " + kCodes[i] + " s" + std::to_string(i) + " $end\n";
    }
    text += "$var wire 1 ! alias_of_s0 $end\n$upscope $end\n$enddefinitions $end\n";
    text += "1!\nb101 aa\n";  // before the first timestamp: belongs to no sample
    uint64_t time = 0;
    const int lines = 300 + static_cast<int>(pick(400));
    for (int n = 0; n < lines; ++n) {
        const std::string code = kCodes[pick(std::size(kCodes))];
        switch (pick(24)) {
            case 0: case 1: case 2: text += std::string("#") + std::to_string(time += pick(3)) + "\n"; break;
            case 3: text += std::string("#") + std::to_string(time) + "\r\n"; break;
            case 4: text += "  #" + std::to_string(++time) + "\n"; break;
            case 5: text += "x" + code + "\n"; break;
            case 6: text += "Z" + code + "\n"; break;
            case 7: text += "b1x0 " + code + "\n"; break;
            case 8: text += "r2.5 " + code + "\n"; break;
            case 9: text += std::string("b") + std::string(70, '1') + " " + code + "\n"; break;
            case 10: text += "b101 " + code + " \n"; break;
            case 11: text += "$dumpvars\n"; break;
            case 12: text += "\xff" + code + "\n"; break;  // not UTF-8: skipped
            case 13: text += "\n"; break;
            case 14: text += pick(2) ? "1 " + code + "\n" : "1qqq\n"; break;  // codes nobody declared
            case 15:
                if (declaration_midway && n > lines / 2) text += "$var wire 1 new late $end\n1new\n";
                break;
            case 16: {  // wide two-state vectors, sometimes with an x or a nine-valued letter
                std::string bits;
                for (size_t b = 65 + pick(140); b > 0; --b) bits += "01"[pick(2)];
                if (pick(4) == 0) bits[pick(bits.size())] = "xzUHL-"[pick(6)];
                text += "b" + bits + " " + code + "\n";
                break;
            }
            case 17: text += std::string("b") + "xz0"[pick(3)] + "01"[pick(2)] + " " + code + "\n"; break;  // short
            case 18: text += std::string(1, "ULHWuh-"[pick(7)]) + code + "\n"; break;
            case 19: {  // nine-valued vectors of up to 64 letters
                std::string bits;
                for (size_t b = 1 + pick(64); b > 0; --b) bits += "01LHlhUWXZ-"[pick(11)];
                text += "b" + bits + " " + code + "\n";
                break;
            }
            default: {
                if (pick(2)) {
                    text += std::string(1, "01"[pick(2)]) + code + "\n";
                } else {
                    std::string bits;
                    for (size_t b = 1 + pick(64); b > 0; --b) bits += "01"[pick(2)];
                    text += "b" + bits + " " + code + "\n";
                }
            }
        }
    }
    if (pick(2)) text += "b11 abc";  // a last line without its line feed
    return text;
}

void expect_same(const VcdTrace& got, const VcdTrace& want) {
    ASSERT_EQ(std::vector<uint64_t>(got.timestamps().begin(), got.timestamps().end()),
              std::vector<uint64_t>(want.timestamps().begin(), want.timestamps().end()));
    ASSERT_EQ(std::vector<std::string>(got.signal_names().begin(), got.signal_names().end()),
              std::vector<std::string>(want.signal_names().begin(), want.signal_names().end()));
    for (const std::string& name : want.signal_names()) {
        for (uint64_t i = 0; i <= want.max_index() + 1; ++i) {
            ASSERT_EQ(got.signal_value(name, i), want.signal_value(name, i)) << name << " at " << i;
        }
    }
}

TEST(VcdPieces, AnyCutReadsLikeTheWholeText) {
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        const std::string text = random_vcd(seed, seed % 5 == 0, seed % 3 == 2);
        VcdPieces baseline;
        baseline.baseline_only = true;
        const VcdTrace want = VcdTrace::parse_in_order(text, baseline).value();
        for (const size_t count : {1, 2, 3, 7, 64}) {
            for (const bool baseline_only : {false, true}) {
                SCOPED_TRACE("seed " + std::to_string(seed) + ", " + std::to_string(count) + " pieces" +
                             (baseline_only ? ", baseline instructions" : ""));
                VcdPieces pieces{1, count};
                pieces.baseline_only = baseline_only;
                // Short steps and tails: idle readers take tails of other stretches.
                pieces.step_bytes = 64;
                pieces.min_steal_bytes = baseline_only ? 256 : 2;
                pieces.steal_bytes_per_signal = 0;
                // Some cuts stage their changes in text order first, as dumps of many signals do.
                if (count % 2) pieces.staging_signals = 0;
                expect_same(VcdTrace::parse(text, pieces).value(), want);
            }
        }
    }
}

// A file of a few megabytes is read in blocks, the later ones in slices at once, with lines
// cut at block ends: all in one buffer when it fits, else in two taking turns, growing for a
// line longer than a block. A pipe is read front to back. All must read like the text in order.
TEST(VcdFile, BlocksAndSlicesReadLikeTheWholeText) {
    std::mt19937 rng(7);
    // d changes rarely, so most blocks have none of its changes and its log skips their parts.
    std::string text =
        "$var wire 1 ! a $end\n$var wire 64 \" b $end\n$var wire 5 # c $end\n$var wire 8 $ d $end\n$enddefinitions $end\n";
    for (uint64_t time = 0; text.size() < (size_t{3} << 20) + 12345; ++time) {
        text += "#" + std::to_string(time) + "\n" + std::to_string(rng() % 2) + "!\nb";
        for (int b = 0; b < 64; ++b) text += static_cast<char>('0' + rng() % 2);
        text += " \"\nb" + std::to_string(rng() % 2) + "01x1 #\n";
        if (time % 7919 == 3) text += "b1" + std::to_string(time % 2) + "0001 $\n";
        if (time == 20000) text += "$comment " + std::string(150000, 'c') + " $end\n";
    }
    const VcdTrace want = VcdTrace::parse_in_order(text).value();
    const std::string path = testing::TempDir() + "quor_blocks_" + std::to_string(getpid()) + ".vcd";
    std::ofstream(path, std::ios::binary) << text;
    // Blocks of a fixed size, and blocks that grow once the declarations are read (as for a
    // dump of many signals; here three signals ask for 3 x 100,000 bytes).
    for (const size_t per_signal : {size_t{0}, size_t{100000}}) {
        for (const size_t block : {size_t{16} << 20, size_t{1} << 20, size_t{1} << 16}) {
            SCOPED_TRACE("blocks of " + std::to_string(block) + " bytes, " + std::to_string(per_signal) + " per signal");
            VcdPieces pieces;
            pieces.block_bytes = block;
            pieces.block_bytes_per_signal = per_signal;
            pieces.step_bytes = block >> 6;
            pieces.min_steal_bytes = block >> 4;
            pieces.steal_bytes_per_signal = 0;
            expect_same(VcdTrace::from_file(path, pieces).value(), want);
        }
    }
    std::remove(path.c_str());

    const std::string fifo = testing::TempDir() + "quor_blocks_" + std::to_string(getpid()) + ".fifo";
    std::remove(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << text; });
    auto piped = VcdTrace::from_file(fifo);
    writer.join();
    std::remove(fifo.c_str());
    expect_same(piped.value(), want);
}

TEST(VcdPieces, DeclarationAmongChangesIsHonoured) {
    const std::string text =
        "$var wire 1 ! a $end\n$enddefinitions $end\n#0\n1!\n#1\n0!\n"
        "$var wire 1 \" b $end\n#2\n1\"\n#3\n0\"\n1!\n";
    const VcdTrace t = VcdTrace::parse(text, VcdPieces{1, 4}).value();
    EXPECT_EQ(t.signal_value("b", 2), SignalValue::uint(1));
    EXPECT_EQ(t.signal_value("b", 3), SignalValue::uint(0));
    EXPECT_EQ(t.signal_value("a", 3), SignalValue::uint(1));
    // The first signal wider than 64 bits, declared among the changes: its values are Wide.
    const VcdTrace w = VcdTrace::parse(text + "$var wire 100 # w $end\n#4\nb1 #\nb101 !\n").value();
    EXPECT_EQ(w.signal_value("w", 4), SignalValue::wide({1, 0}));
    EXPECT_EQ(w.signal_value("a", 4), SignalValue::uint(5));
}

// Each line, placed after "#5" in a text declaring a (8 bits, code "!") and b (code "ab"), and
// what a and b then hold at the index of that timestamp.
struct LineCase {
    std::string line;
    SignalValue a;
    SignalValue b;
};

TEST(VcdFastLines, OddFormsReadLikeTheGeneralForm) {
    const SignalValue none = SignalValue::unknown();
    const auto u = [](uint64_t v) { return SignalValue::uint(v); };
    // Both signals are 8 bits wide: shorter bit strings are extended to that.
    const auto pb = [](const std::string& bits) { return quor_core::signal::parse_binary_str(bits, 8); };
    const LineCase cases[] = {
        {"b101 !", u(5), none},
        {"b101 ! ", u(5), none},
        {" b101 !", u(5), none},
        {"b101 !\r", u(5), none},
        {"b101  !", u(5), none},
        {"b101 a", none, none},
        {"b101 abc", none, none},
        {"b0000000011111111000000001111111100000000111111110000000011111111 ab", none, u(0x00FF00FF00FF00FFULL)},
        {"b11111111111111111111111111111111111111111111111111111111111111110 !", SignalValue::wide({0xFFFFFFFFFFFFFFFEULL, 1}), none},
        {"1!", u(1), none},
        {"1ab", none, u(1)},
        {"1ab ", none, u(1)},
        {"1 ab", none, none},
        {"0!\r", u(0), none},
        {"b1x0z !", pb("1x0z"), none},
        {"bX1 ab", none, pb("x1")},
        {"bxz ab ", none, pb("xz")},
        {"b1x0  !", pb("1x0"), none},
        {"bx1y !", pb("bx1y"), none},
        {std::string("b") + std::string(70, 'x') + " !", SignalValue::four_state(std::vector<uint8_t>(70, 2)), none},
        {"b" + std::string(63, '1') + " !", u((uint64_t{1} << 63) - 1), none},
        {"b" + std::string(64, '1') + " ab", none, u(UINT64_MAX)},
        {"b1" + std::string(63, '0') + "x !", pb("b1" + std::string(63, '0') + "x"), none},
        {"b" + std::string(16, '1') + " !", u(0xFFFF), none},
        {"b" + std::string(62, '1') + "xZ ab", none, pb("b" + std::string(62, '1') + "xz")},
        {"bz" + std::string(63, '0') + " !", pb("bz" + std::string(63, '0')), none},
        {"x!", none, none},
        {"Zab", none, SignalValue::four_state({3})},  // a scalar is not extended
        {"z!\r", SignalValue::four_state({3}), none},
        {"z ab", none, none},
    };
    for (const LineCase& c : cases) {
        for (const bool padded : {false, true}) {
            for (const bool baseline_only : {false, true}) {
                // Padding puts the line far from the end of the text, where the fast reader takes it.
                std::string text = "$var wire 8 ! a $end\n$var wire 8 ab b $end\n#5\n" + c.line + "\n";
                if (padded) text += std::string(200, '\n') + "#6\n";
                VcdPieces pieces;
                pieces.baseline_only = baseline_only;
                const VcdTrace t = VcdTrace::parse(text, pieces).value();
                EXPECT_EQ(t.signal_value("a", 0), c.a) << '"' << c.line << '"' << (baseline_only ? " (baseline)" : "");
                EXPECT_EQ(t.signal_value("b", 0), c.b) << '"' << c.line << '"' << (baseline_only ? " (baseline)" : "");
            }
        }
    }
}

// Lines for a signal of 96 bits (code "w"), at the end of the text (the general reader) and
// far from it (the fast one), and the value each leaves.
TEST(VcdFastLines, WideAndNineValuedForms) {
    const auto ones = [](size_t n) { return std::string(n, '1'); };
    const struct {
        std::string line;
        SignalValue value;
    } cases[] = {
        {"b1 w", SignalValue::wide({1, 0})},
        {"b" + ones(64) + " w", SignalValue::wide({UINT64_MAX, 0})},
        {"b1" + std::string(64, '0') + " w", SignalValue::wide({0, 1})},
        {"b" + ones(96) + " w", SignalValue::wide({UINT64_MAX, 0xFFFFFFFF})},
        {"b" + ones(128) + " w", SignalValue::wide({UINT64_MAX, UINT64_MAX})},
        {"b1" + std::string(128, '0') + " w", SignalValue::wide({0, 0, 1})},  // longer than declared
        {"b" + ones(200) + " w", SignalValue::wide({UINT64_MAX, UINT64_MAX, UINT64_MAX, 0xFF})},
        {"bx w", SignalValue::four_state(std::vector<uint8_t>(96, 2))},
        {"bz1 w", quor_core::signal::parse_binary_str("bz1", 96)},
        {"b1x w", quor_core::signal::parse_binary_str("b1x", 96)},
        {"b" + ones(90) + "x w", quor_core::signal::parse_binary_str(ones(90) + "x", 96)},
        {"bH" + std::string(65, 'L') + " w", SignalValue::wide({0, 2})},
        {"bLH w", SignalValue::wide({1, 0})},
        {"bU" + ones(95) + " w", quor_core::signal::parse_binary_str("U" + ones(95))},
        {"b" + ones(64) + "- w", quor_core::signal::parse_binary_str(ones(64) + "-", 96)},
        {"b" + ones(127) + "x w", quor_core::signal::parse_binary_str(ones(127) + "x")},
        {"b" + ones(70) + "2 w", quor_core::signal::parse_binary_str(ones(70) + "0", 96)},  // not a bit: 0
        {"H!", SignalValue::uint(1)},
        {"l!", SignalValue::uint(0)},
        {"U!", SignalValue::unknown()},
        {"-!", SignalValue::unknown()},
        {"bHL !", SignalValue::uint(2)},
        {"bhUz !", quor_core::signal::parse_binary_str("hUz", 8)},
    };
    for (const auto& c : cases) {
        for (const bool padded : {false, true}) {
            for (const bool baseline_only : {false, true}) {
                std::string text = "$var wire 8 ! a $end\n$var wire 96 w b $end\n#5\n" + c.line + "\n";
                if (padded) text += std::string(200, '\n') + "#6\n";
                VcdPieces pieces;
                pieces.baseline_only = baseline_only;
                const VcdTrace t = VcdTrace::parse(text, pieces).value();
                const char* name = c.line.back() == 'w' ? "b" : "a";
                EXPECT_EQ(t.signal_value(name, 0), c.value)
                    << '"' << c.line << '"' << (padded ? " (padded)" : "") << (baseline_only ? " (baseline)" : "");
            }
        }
    }
}

TEST(VcdFastLines, TimestampForms) {
    const struct {
        const char* line;
        uint64_t time;
    } cases[] = {
        {"#0", 0}, {"#0012", 12}, {"#18446744073709551615", UINT64_MAX}, {"#18446744073709551616", 0},
        {"#", 0}, {"#12 ", 12}, {"#1x", 0}, {"# 7", 7},
        // Around the eight digits read at once.
        {"#7", 7}, {"#1234567", 1234567}, {"#12345678", 12345678}, {"#123456789", 123456789},
        {"#98765432109", 98765432109}, {"#1234567890123456789", 1234567890123456789}, {"#12345678 ", 12345678},
        {"#00000000", 0}, {"#99999999", 99999999},
    };
    for (const auto& c : cases) {
        const VcdTrace t = VcdTrace::parse(std::string(c.line) + "\n" + std::string(100, '\n')).value();
        ASSERT_EQ(t.timestamps().size(), 1u) << c.line;
        EXPECT_EQ(t.timestamps()[0], c.time) << c.line;
    }
}

}  // namespace
