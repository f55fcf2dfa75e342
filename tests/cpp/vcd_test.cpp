// The VCD reader: declarations, scopes, timestamps and value changes.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>

#include "formats/vcd/vcd.hpp"

namespace {

using quor_core::trace::VcdTrace;
using quor_core::signal::SignalValue;

VcdTrace load(const std::string& text) {
    auto r = VcdTrace::parse(text);
    EXPECT_TRUE(r.ok());
    return std::move(r).value();
}

const std::string kHeader =
    "$scope module top $end\n"
    "$scope module cpu $end\n"
    "$var wire 8 # data [7:0] $end\n"
    "$var wire 8 % bus[7:0] $end\n"
    "$var wire 1 ! clk $end\n"
    "$var wire 1 ! clk_alias $end\n"
    "$var real 64 r val $end\n"
    "$var wire w ? odd $end\n"
    "$upscope $end\n"
    "$var wire 4 m mem[3] $end\n"
    "$var wire 4 n mem[2][3:0] $end\n"
    "$upscope $end\n"
    "$enddefinitions $end\n";

TEST(VcdDeclarations, NamesWidthsAndAliases) {
    const VcdTrace t = load(kHeader);
    const std::vector<std::string> names(t.signal_names().begin(), t.signal_names().end());
    EXPECT_EQ(names, (std::vector<std::string>{"top.cpu.data", "top.cpu.bus", "top.cpu.clk", "top.cpu.clk_alias",
                                               "top.cpu.val", "top.cpu.odd", "top.mem[3]", "top.mem[2]"}));
    EXPECT_EQ(std::vector<std::string>(t.scopes().begin(), t.scopes().end()),
              (std::vector<std::string>{"top", "top.cpu"}));
    EXPECT_EQ(t.signal_width("top.cpu.data"), 8u);
    EXPECT_EQ(t.signal_width("top.cpu.odd"), 1u);
    EXPECT_EQ(t.signal_width("nope"), 0u);
    EXPECT_EQ(t.signal_id("top.cpu.clk"), t.signal_id("top.cpu.clk_alias"));
    EXPECT_EQ(t.var("top.cpu.data")->reference, "data");
    EXPECT_EQ(t.max_index(), 0u);
    EXPECT_EQ(t.timestamp(0), 0u);
}

struct ValueCase {
    const char* signal;
    uint64_t index;
    SignalValue expected;
};

TEST(VcdValues, ChangesAreCarriedForward) {
    const VcdTrace t = load(kHeader +
                            "#0\n$dumpvars\n1!\nb10x1 #\nb1010 %\nr1.5e3 r\n$end\n"
                            "#10\n0!\nrabc r\nb1111\nb11 undeclared\n"
                            "#10\nx!\n"
                            "#5\nz!\nb1 #\nb0 #\n");
    ASSERT_EQ(t.max_index(), 3u);
    EXPECT_EQ(t.timestamp(1), 10u);
    EXPECT_EQ(t.timestamp(2), 10u);
    EXPECT_EQ(t.timestamp(3), 5u);
    EXPECT_EQ(t.timestamp(4), 0u);
    const ValueCase cases[] = {
        {"top.cpu.clk", 0, SignalValue::uint(1)},
        {"top.cpu.clk", 1, SignalValue::uint(0)},
        {"top.cpu.clk_alias", 1, SignalValue::uint(0)},
        {"top.cpu.clk", 2, SignalValue::unknown()},
        {"top.cpu.clk", 3, SignalValue::four_state({3})},
        {"top.cpu.clk", 4, SignalValue::unknown()},
        {"top.cpu.data", 0, SignalValue::four_state({0, 0, 0, 0, 1, 0, 2, 1})},  // extended to 8 bits
        {"top.cpu.data", 2, SignalValue::four_state({0, 0, 0, 0, 1, 0, 2, 1})},
        {"top.cpu.data", 3, SignalValue::uint(0)},  // the later change at one index wins
        {"top.cpu.bus", 3, SignalValue::uint(10)},
        {"top.cpu.val", 0, SignalValue::real(1500.0)},
        {"top.cpu.val", 1, SignalValue::real(0.0)},
        {"missing", 0, SignalValue::unknown()},
    };
    for (const auto& c : cases) EXPECT_EQ(t.signal_value(c.signal, c.index), c.expected) << c.signal << "@" << c.index;
}

TEST(VcdValues, OddLines) {
    const char* text =
        "$var wire 1 ! a $end\n"
        "1!\n"                          // before the first timestamp: lost
        "#10 1!\n"                      // not a number: time 0, and the change is not applied
        "$comment\n#7\n1!\n$end\n"      // keywords are not blocks
        "  \t\n"
        "#+8\r\n"
        "\xff\xfe bad line\n"
        "0!\r\n";
    const VcdTrace t = load(text);
    ASSERT_EQ(t.max_index(), 2u);
    EXPECT_EQ(t.timestamp(0), 0u);
    EXPECT_EQ(t.timestamp(1), 7u);
    EXPECT_EQ(t.timestamp(2), 8u);
    EXPECT_TRUE(t.signal_value("a", 0).is_unknown());
    EXPECT_EQ(t.signal_value("a", 1), SignalValue::uint(1));
    EXPECT_EQ(t.signal_value("a", 2), SignalValue::uint(0));
}

TEST(VcdValues, IdentifierCodesOfEveryLength) {
    // Codes that share leading characters, an undeclared code of each length, carriage
    // returns, a code of non-ASCII bytes, and a last line without its line feed.
    const VcdTrace t = load(
        "$var wire 1 ! a $end\n$var wire 1 !! b $end\n$var wire 1 ~~ c $end\n"
        "$var wire 1 !!! d $end\n$var wire 4 abcd e $end\n$var wire 1 \xc3\xa9 f $end\n"
        "$enddefinitions $end\n"
        "#0\n1!\n0!!\n1~~\n1!!!\nb101 abcd\n1\xc3\xa9\n1~\n0!~\n1!!~\nb1 abce\n"
        "#1\n0!\r\n1!!\r\nb11 abcd\r\n0\xc3\xa9\n0!!!\n0~~");
    ASSERT_EQ(t.max_index(), 1u);
    const ValueCase cases[] = {
        {"a", 0, SignalValue::uint(1)}, {"a", 1, SignalValue::uint(0)},
        {"b", 0, SignalValue::uint(0)}, {"b", 1, SignalValue::uint(1)},
        {"c", 0, SignalValue::uint(1)}, {"c", 1, SignalValue::uint(0)},
        {"d", 0, SignalValue::uint(1)}, {"d", 1, SignalValue::uint(0)},
        {"e", 0, SignalValue::uint(5)}, {"e", 1, SignalValue::uint(3)},
        {"f", 0, SignalValue::uint(1)}, {"f", 1, SignalValue::uint(0)},
    };
    for (const auto& c : cases) EXPECT_EQ(t.signal_value(c.signal, c.index), c.expected) << c.signal << "@" << c.index;
}

TEST(VcdValues, LongCodesFoundByTheirWholeText) {
    // Codes of three to nine characters that differ only in their first or last character, or
    // by characters at both ends of the printable range; each must find its own signal, and an
    // undeclared code of each length, or one with a DEL byte, none.
    std::vector<std::string> codes;
    for (size_t length = 3; length <= 9; ++length) {
        codes.push_back(std::string(length, '!'));
        codes.push_back(std::string(length, '~'));
        codes.push_back("~" + std::string(length - 1, '!'));
        codes.push_back(std::string(length - 1, '!') + "~");
        codes.push_back(std::string(length - 2, 'a') + "!~");
    }
    std::string text;
    for (size_t i = 0; i < codes.size(); ++i) text += "$var wire 1 " + codes[i] + " s" + std::to_string(i) + " $end\n";
    text += "$var wire 1 \x7f\x7f\x7f\x7f d $end\n$enddefinitions $end\n#0\n";
    for (size_t i = 0; i < codes.size(); ++i) text += (i % 2 ? "1" : "0") + codes[i] + "\n";
    for (size_t length = 3; length <= 9; ++length) text += "1" + std::string(length - 1, '!') + "}\n";
    text += "1\x7f\x7f\x7f\x7f\n#1\n";
    for (size_t i = 0; i < codes.size(); ++i) text += (i % 2 ? "0" : "1") + codes[i] + (i % 3 ? "\n" : "\r\n");
    const VcdTrace t = load(text);
    ASSERT_EQ(t.max_index(), 1u);
    for (size_t i = 0; i < codes.size(); ++i) {
        const std::string name = "s" + std::to_string(i);
        EXPECT_EQ(t.signal_value(name, 0), SignalValue::uint(i % 2)) << codes[i];
        EXPECT_EQ(t.signal_value(name, 1), SignalValue::uint(1 - i % 2)) << codes[i];
    }
    EXPECT_EQ(t.signal_value("d", 0), SignalValue::uint(1));
}

TEST(VcdValues, RealForms) {
    const VcdTrace t = load("$var real 64 ! a $end\n#0\nrinf !\n#1\nR-1e-3 !\n#2\nr.5 !\n#3\nr1e !\n#4\nrNaN !\n");
    EXPECT_EQ(t.signal_value("a", 0), SignalValue::real(INFINITY));
    EXPECT_EQ(t.signal_value("a", 1), SignalValue::real(-1e-3));
    EXPECT_EQ(t.signal_value("a", 2), SignalValue::real(0.5));
    EXPECT_EQ(t.signal_value("a", 3), SignalValue::real(0.0));
    EXPECT_TRUE(std::isnan(t.signal_value("a", 4).as_real()));
}

TEST(VcdScopes, ShortScopeLinesAndUnbalancedUpscope) {
    const VcdTrace t = load(
        "$scope module top $end\n$scope module\n$upscope $end\n$var wire 1 ! a $end\n"
        "$upscope $end\n$upscope $end\n$scope module $end\n$var wire 1 \" b $end\n");
    EXPECT_EQ(std::vector<std::string>(t.signal_names().begin(), t.signal_names().end()),
              (std::vector<std::string>{"a", "$end.b"}));
    EXPECT_EQ(std::vector<std::string>(t.scopes().begin(), t.scopes().end()),
              (std::vector<std::string>{"top", "$end"}));
}

TEST(VcdDeclarations, RedeclaredNamesAndWideSpaces) {
    // A name declared again keeps its first position and takes the later width and code;
    // words may be parted by any white space, a no-break space or an ideographic one included.
    const VcdTrace t = load(
        "$scope module top $end\n$var wire 1 ! a $end\n$var wire 1 \" b $end\n"
        "$var wire 4 # a [3:0] $end\n$var\xc2\xa0wire\t2\xe3\x80\x80$ c\v$end\n$upscope $end\n"
        "$var wire 3 % a $end\n$enddefinitions $end\n#0\n1!\nb1010 #\nb11 $\n");
    EXPECT_EQ(std::vector<std::string>(t.signal_names().begin(), t.signal_names().end()),
              (std::vector<std::string>{"top.a", "top.b", "top.c", "a"}));
    EXPECT_EQ(t.signal_width("top.a"), 4u);
    EXPECT_EQ(t.signal_width("top.c"), 2u);
    EXPECT_EQ(t.signal_width("a"), 3u);
    EXPECT_EQ(t.signal_value("top.a", 0), SignalValue::uint(10));
    EXPECT_EQ(t.signal_value("top.c", 0), SignalValue::uint(3));
}

TEST(VcdFile, OpenErrorsAndChunkBoundaries) {
    auto missing = VcdTrace::from_file("/nonexistent/file.vcd");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error(), "Failed to open /nonexistent/file.vcd: No such file or directory (os error 2)");
    auto dir = VcdTrace::from_file("/tmp");
    ASSERT_FALSE(dir.ok());
    EXPECT_EQ(dir.error(), "Failed to open /tmp: Is a directory (os error 21)");

    // Many samples so the reader crosses its buffer boundaries; no final line feed.
    std::string text = "$var wire 32 ! n $end\n";
    for (int i = 0; i < 300000; ++i) {
        text += "#";
        text += std::to_string(i);
        text += "\nb";
        text += std::to_string(i % 2);
        text += "1 !\n";
    }
    text += "#300000\nb111 !";
    const std::string path = testing::TempDir() + "quor_chunks.vcd";
    std::ofstream(path, std::ios::binary) << text;
    auto loaded = VcdTrace::from_file(path);
    ASSERT_TRUE(loaded.ok());
    const VcdTrace& t = loaded.value();
    EXPECT_EQ(t.max_index(), 300000u);
    EXPECT_EQ(t.signal_value("n", 299999), SignalValue::uint(3));
    EXPECT_EQ(t.signal_value("n", 300000), SignalValue::uint(7));
    EXPECT_EQ(t.timestamp(123456), 123456u);
}

}  // namespace
