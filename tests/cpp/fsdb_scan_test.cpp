// The shared byte scans: printable runs, identifier filters, scope derivation, bounded inflation.

#include <gtest/gtest.h>

#include "format_fixtures.hpp"
#include "bytes/byte_scan.hpp"
#include "trace/derived_scopes.hpp"
#include "bytes/zlib_inflate.hpp"

using namespace quor_core::trace;
using fixtures::Buf;

namespace {

Buf text(std::string_view s) { return Buf(s.begin(), s.end()); }

}  // namespace

TEST(IdentifierFilters, AcceptAndRefuse) {
    struct Case {
        std::string_view name;
        bool fsdb;
        bool wlf;
    };
    const Case cases[] = {
        {"top.u1.sig", true, true}, {"a$b:c[3]", true, true},  {"top..sig", false, false},
        {"top.1sig", false, false}, {".top", false, false},     {"top.", false, false},
        {"run.log", false, true},   {"a-b", false, true},       {"bus data", false, true},
        {"a.b(0)", false, false},   {"x@y", false, false},      {"_", true, false},
        {"\\esc", false, false},    {"simv_top", false, true},  {"x/y", false, false},
        {"a=b", false, true},       {"top.$x", false, false},   {"9lives", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fsdb_accepts(c.name), c.fsdb) << c.name;
        EXPECT_EQ(wlf_accepts(c.name), c.wlf) << c.name;
    }
}

TEST(PrintableRuns, NeedADirectNulTerminator) {
    // "abc" ends in NUL, "def" in 0x01, "  gh" starts after the spaces, "tail" runs to the end.
    const Buf b = text(std::string_view("abc\0def\x01  gh\0tail", 17));
    std::vector<std::string> runs;
    scan_printable_runs(b, false, [&](std::string_view s) { runs.emplace_back(s); });
    EXPECT_EQ(runs, (std::vector<std::string>{"abc", "gh"}));
    runs.clear();
    scan_printable_runs(b, true, [&](std::string_view s) { runs.emplace_back(s); });
    EXPECT_EQ(runs, (std::vector<std::string>{"abc", "  gh"}));
}

TEST(DeriveScopes, ProperPrefixesSortedOnce) {
    EXPECT_EQ(derive_scopes({"a.b.c", "a.d"}), (std::vector<std::string>{"a", "a.b"}));
    EXPECT_EQ(derive_scopes({"top.cpu.clk", "top.mem", "x"}), (std::vector<std::string>{"top", "top.cpu"}));
}

TEST(BoundedInflate, OutputBoundsAndConsumedInput) {
    struct Case {
        size_t plain;
        size_t expect;
    };
    for (const Case c : {Case{1000, 1000}, Case{size_t{2} << 20, size_t{2} << 20}, Case{size_t{5} << 20, size_t{4} << 20}}) {
        Buf z = fixtures::zlib(Buf(c.plain, 'a'));
        const size_t stream = z.size();
        z.insert(z.end(), {1, 2, 3});  // trailing bytes are not consumed
        const auto out = try_zlib_decompress(z);
        ASSERT_TRUE(out) << c.plain;
        EXPECT_EQ(out->bytes.size(), c.expect);
        if (c.plain == c.expect) {
            EXPECT_EQ(out->consumed, stream);
        }
    }
}

TEST(BoundedInflate, NothingForShortEmptyOrBrokenInput) {
    EXPECT_FALSE(try_zlib_decompress(Buf{0x78}));
    EXPECT_FALSE(try_zlib_decompress(fixtures::zlib(Buf{})));
    EXPECT_FALSE(try_zlib_decompress(Buf{0x78, 0x9C, 0xFF, 0xFF, 0xFF}));
    Buf plain;
    for (int i = 0; i < 200; ++i) plain.push_back(static_cast<uint8_t>(i * 7 + i / 3));
    Buf truncated = fixtures::zlib(plain);
    truncated.resize(truncated.size() - 6);  // the input ends early: partial output is kept
    const auto out = try_zlib_decompress(truncated);
    ASSERT_TRUE(out);
    EXPECT_FALSE(out->bytes.empty());
}

TEST(BoundedInflate, BudgetStopsFurtherInflation) {
    const Buf z = fixtures::zlib(Buf(size_t{3} << 20, 0));
    BoundedInflater inflater(size_t{5} << 20);
    EXPECT_TRUE(inflater.try_decompress(z));
    EXPECT_TRUE(inflater.try_decompress(z));
    EXPECT_TRUE(inflater.exhausted());
    EXPECT_FALSE(inflater.try_decompress(z));
}
