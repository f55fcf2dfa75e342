// Scope navigation, glob patterns and the case-insensitive name search.

#include <gtest/gtest.h>

#include "names/lowercase.hpp"
#include "names/names.hpp"
#include "query/scope.hpp"
#include "eval_test_trace.hpp"

namespace {

using namespace quor_core;
using Names = std::vector<std::string>;

eval_test::DenseTrace names_only(Names names, Names scopes = {}) {
    eval_test::DenseTrace t(std::move(names), signal::SignalStore(), 1);
    t.scopes_ = std::move(scopes);
    return t;
}

TEST(Scope, Resolve) {
    struct Case {
        Names names;
        const char* scope;
        const char* short_name;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {{"top.sub.clk", "top.clk"}, "top", "clk", "top.clk"},
        {{"top.sub.clk"}, "top", "clk", "top.sub.clk"},
        {{"topx.clk"}, "top", "clk", "topx.clk"},
        {{"a.xclk", "b.clk", "clk"}, "", "clk", "clk"},
        {{"a.xclk", "b.clk"}, "", "clk", "b.clk"},
        {{"top.clk"}, "top", "rst", std::nullopt},
        // Short names end at an element boundary; an escaped identifier is one element.
        {{"top.\\esc.dotted"}, "top", "dotted", std::nullopt},
        {{"top.\\esc.dotted"}, "", "\\esc.dotted", "top.\\esc.dotted"},
        {{"top.u.\\esc.dotted"}, "top", "u.\\esc.dotted", "top.u.\\esc.dotted"},
        // A name that keeps its bit range is found without it.
        {{"top.sub.cnt [7:0]"}, "top", "cnt", "top.sub.cnt [7:0]"},
        {{"top.sub.cnt [7:0]"}, "top", "sub.cnt", "top.sub.cnt [7:0]"},
        {{"top.sub.xcnt [7:0]"}, "top", "cnt", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(eval::resolve(names_only(c.names), c.scope, c.short_name), c.expected);
}

TEST(Scope, LocalScopesAndSignals) {
    const auto t = names_only({"top.clk", "top.sub.clk", "top", "clk", "topx.a"},
                              {"top", "top.a", "top.a.x", "top.b.y", "other", "top", "top.a"});
    EXPECT_EQ(eval::local_scopes(t, ""), (Names{"top", "other"}));
    EXPECT_EQ(eval::local_scopes(t, "top"), (Names{"top.a", "top.b"}));
    EXPECT_EQ(eval::local_scopes(t, "top.b"), (Names{"top.b.y"}));
    EXPECT_EQ(eval::local_signals(t, "top"), (Names{"top.clk"}));
    EXPECT_EQ(eval::local_signals(t, ""), (Names{"top", "clk"}));
}

// Escaped identifiers (Verilog "\esc.dotted", VHDL "\u.1\") are one element of a path.
TEST(Scope, EscapedIdentifiersAreOneElement) {
    const auto t = names_only({"top.clk", "top.\\esc.dotted", "top.\\esc", "tb.\\u.1\\.\\inner.x\\", "\\top.level"},
                              {"top", "tb", "tb.\\u.1\\", "tb.\\u.1\\.\\deep.er\\"});
    EXPECT_EQ(eval::local_signals(t, "top"), (Names{"top.clk", "top.\\esc.dotted", "top.\\esc"}));
    EXPECT_EQ(eval::local_signals(t, "top.\\esc"), Names{});
    EXPECT_EQ(eval::local_signals(t, "tb.\\u.1\\"), (Names{"tb.\\u.1\\.\\inner.x\\"}));
    EXPECT_EQ(eval::local_signals(t, "tb.\\u"), Names{});
    EXPECT_EQ(eval::local_signals(t, ""), (Names{"\\top.level"}));
    EXPECT_EQ(eval::local_scopes(t, "tb"), (Names{"tb.\\u.1\\"}));
    EXPECT_EQ(eval::local_scopes(t, "tb.\\u.1\\"), (Names{"tb.\\u.1\\.\\deep.er\\"}));
    EXPECT_EQ(eval::local_scopes(t, ""), (Names{"top", "tb"}));
}

TEST(Names, Glob) {
    struct Case {
        const char* pattern;
        const char* name;
        bool match;
    };
    const Case cases[] = {
        {"*", "top.a", true},     {"*", "", true},           {"top.?", "top.a", true},
        {"top.?", "top.ab", false}, {"*clk", "top.clk", true}, {"*clk", "clk", true},
        {"", "", true},           {"", "a", false},          {"top.[ab]", "top.a", false},
        {"top.[ab]", "top.[ab]", true}, {"a*b*c", "aXbYbZc", true}, {"a*b*c", "aXbYbZ", false},
        {"*a*", "bbb", false},    {"**", "x", true},         {"?", "\xC3\xA9", false},
        {"??", "\xC3\xA9", true},
    };
    for (const Case& c : cases) EXPECT_EQ(eval::glob_match(c.pattern, c.name), c.match) << c.pattern << " " << c.name;
    const auto t = names_only({"top.clk", "clk", "top.clk_en"});
    EXPECT_EQ(eval::find_signals_glob(t, "*clk"), (Names{"top.clk", "clk"}));
}

TEST(Names, ContainingLowerCasesFully) {
    EXPECT_EQ(eval::to_lower_full("Top.CLK"), "top.clk");
    EXPECT_EQ(eval::to_lower_full("\xC3\x84"), "\xC3\xA4");         // Ä
    EXPECT_EQ(eval::to_lower_full("\xC4\xB0"), "i\xCC\x87");        // İ becomes two code points
    EXPECT_EQ(eval::to_lower_full("\xCE\xA9"), "\xCF\x89");         // Ω
    EXPECT_EQ(eval::to_lower_full("a\xFF" "B"), "a\xFF" "b");       // invalid bytes kept
    // A capital sigma ends a word when a cased letter comes before it and none after it;
    // case-ignorable code points (a full stop, a combining acute) are looked through.
    struct Sigma {
        const char* in;
        const char* out;
    };
    const Sigma sigmas[] = {
        {"\xCE\x91\xCE\xA3", "\xCE\xB1\xCF\x82"},                        // ΑΣ: ας
        {"\xCE\xA3", "\xCF\x83"},                                        // Σ alone: σ
        {"\xCE\x91\xCE\xA3\xCE\x91", "\xCE\xB1\xCF\x83\xCE\xB1"},          // ΑΣΑ: ασα
        {"x.\xCE\xA3", "x.\xCF\x82"},                                    // x.Σ: the stop is skipped
        {"\xCE\x91\xCE\xA3.x", "\xCE\xB1\xCF\x83.x"},                      // ΑΣ.x: a letter follows
        {"\xCE\x91\xCE\xA3_x", "\xCE\xB1\xCF\x82_x"},                      // ΑΣ_x: '_' is neither
        {"\xCE\x91\xCC\x81\xCE\xA3", "\xCE\xB1\xCC\x81\xCF\x82"},          // Α + acute + Σ
        {"1\xCE\xA3", "1\xCF\x83"},                                      // a digit is not cased
        {"\xFF\xCE\xA3", "\xFF\xCF\x83"},                                  // nor an invalid byte
    };
    for (const Sigma& c : sigmas) EXPECT_EQ(eval::to_lower_full(c.in), c.out) << c.in;
    const auto t = names_only({"top.clk", "Top.Clk_en", "top.data", "\xC3\x84RGER"});
    EXPECT_EQ(eval::find_signals_containing(t, "CLK"), (Names{"top.clk", "Top.Clk_en"}));
    EXPECT_EQ(eval::find_signals_containing(t, "\xC3\xA4rg"), (Names{"\xC3\x84RGER"}));
    EXPECT_EQ(eval::find_signals_containing(t, "").size(), 4u);
}

}  // namespace
