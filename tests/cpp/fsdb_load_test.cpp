// Whole FSDB files: errors, the first layout, and the second layout's names, widths and values.

#include <gtest/gtest.h>


#include "format_fixtures.hpp"
#include "formats/fsdb/fsdb.hpp"

using namespace quor_core::trace;
using fixtures::Buf;

namespace {

const std::vector<std::string> kNames = {"top.clk", "top.a", "top.b", "top.c", "top.u1.d", "top.u1.e",
                                         "top.u1.f", "top.u1.g", "top.h", "top.i", "top.j"};

FsdbTrace load(const Buf& bytes) {
    auto r = FsdbTrace::from_bytes(bytes);
    EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.error());
    return std::move(r).value();
}

uint64_t uint_at(const FsdbTrace& t, const std::string& name, uint64_t index) {
    const auto v = t.signal_value(name, index);
    return v.is_unknown() ? 999 : v.as_uint();
}

}  // namespace

TEST(FsdbLoad, Errors) {
    struct Case {
        Buf bytes;
        std::string message;
    };
    Buf other(12, 0);
    other[7] = 1;
    const Case cases[] = {
        {Buf(11, 0), "FSDB file too small"},
        {other, "Not an FSDB file (magic=0x00000001)"},
        {Buf{0, 0, 0, 0, 0xAB, 0xCD, 0xEF, 0x12, 0, 0, 0, 0}, "Not an FSDB file (magic=0xABCDEF12)"},
    };
    for (const Case& c : cases) {
        const auto r = FsdbTrace::from_bytes(c.bytes);
        ASSERT_FALSE(r.ok());
        EXPECT_EQ(r.error(), c.message);
    }
    const auto missing = FsdbTrace::from_file("/nonexistent/x.fsdb");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error(), "Failed to read /nonexistent/x.fsdb: No such file or directory (os error 2)");
}

TEST(FsdbLoad, FirstLayoutNamesOnce) {
    const FsdbTrace t = load(fixtures::fsdb_first_layout({"top.a", "top.b", "top.a", "run.log", "top.u.c"}));
    EXPECT_EQ(std::vector<std::string>(t.signal_names().begin(), t.signal_names().end()),
              (std::vector<std::string>{"top.a", "top.b", "top.u.c"}));
    EXPECT_EQ(std::vector<std::string>(t.scopes().begin(), t.scopes().end()), (std::vector<std::string>{"top", "top.u"}));
    EXPECT_EQ(t.max_index(), 0u);
    EXPECT_TRUE(t.signal_value("top.a", 0).is_unknown());
}

TEST(FsdbLoad, SecondLayoutNamesWidthsAndValues) {
    fixtures::FsdbModern f;
    f.name_chunks = {fixtures::nul_strings(kNames)};
    // Widths: 8 (0x43, five bytes), 32, a 0x02 record skipped, 2; the rest stay 1.
    f.width_records = Buf{0x01, 0x00, 0x43, 0x00, 0x00, 0x01, 0x00, 0x7D, 0x02, 0, 0, 0, 0x01, 0x00, 0x6A, 0x21};
    // One section: a table value for signal 1, the base list for signal 2, a clock on signal 0.
    f.block_sections = {fixtures::fsdb_section({}, {0x02, 0x09, 0x01, 0x04, 0x08, 0x40, 0x00, 0x04, 0x31}, Buf{0x0A, 0, 0, 0})};
    const FsdbTrace t = load(f.build());
    ASSERT_EQ(t.signal_names().size(), kNames.size());
    EXPECT_EQ(t.signal_width("top.clk"), 8u);
    EXPECT_EQ(t.signal_width("top.a"), 32u);
    EXPECT_EQ(t.signal_width("top.b"), 2u);
    EXPECT_EQ(t.signal_width("top.c"), 1u);
    EXPECT_EQ(t.signal_width("nothing"), 1u);
    EXPECT_EQ(std::vector<std::string>(t.scopes().begin(), t.scopes().end()), (std::vector<std::string>{"top", "top.u1"}));
    // acc 2 gives time 10, acc 3 gives 20; the clock runs to 30 with period 10.
    EXPECT_EQ(std::vector<uint64_t>(t.timestamps().begin(), t.timestamps().end()), (std::vector<uint64_t>{0, 10, 20, 30}));
    for (uint64_t i = 0; i < 4; ++i) {
        EXPECT_EQ(uint_at(t, "top.clk", i), i % 2 == 0 ? 1u : 0u) << i;
        EXPECT_EQ(uint_at(t, "top.a", i), 10u);
        EXPECT_EQ(uint_at(t, "top.c", i), 0u);  // no value: 0 from time 0 on
    }
    EXPECT_EQ(uint_at(t, "top.b", 0), 0u);
    EXPECT_EQ(uint_at(t, "top.b", 1), 9u);
    EXPECT_EQ(uint_at(t, "top.b", 2), 4u);
    EXPECT_EQ(uint_at(t, "top.b", 3), 4u);
}

TEST(FsdbLoad, ExcludedAndEmptyFiles) {
    fixtures::FsdbModern excluded;
    std::vector<std::string> names = kNames;
    names.push_back("simv");
    excluded.name_chunks = {fixtures::nul_strings(names)};
    const FsdbTrace a = load(excluded.build());
    EXPECT_TRUE(a.signal_names().empty());
    EXPECT_EQ(a.max_index(), 0u);

    const FsdbTrace b = load(fixtures::FsdbModern{}.build());
    EXPECT_TRUE(b.signal_names().empty());
    EXPECT_EQ(std::vector<uint64_t>(b.timestamps().begin(), b.timestamps().end()), (std::vector<uint64_t>{0}));
}

TEST(FsdbLoad, TailFallbackFindsMarkedNames) {
    Buf f = fixtures::FsdbModern{}.build();
    f.resize(8192, 0);
    const Buf tail{0x02, 't', 'o', 'p', '.', 'x', 0, 'y', '_', '1', 0, 0x11, 0x04, 0x02, 'h', 'i', 'd', 0, 0x02, 'z', 0};
    fixtures::put_bytes(f, 8192 - 100, tail);
    const FsdbTrace t = load(f);
    EXPECT_EQ(std::vector<std::string>(t.signal_names().begin(), t.signal_names().end()),
              (std::vector<std::string>{"top.x", "y_1", "z"}));
}

// Crafted files stay within their documented bounds (bench/bench_formats_caps.py times them).
TEST(FsdbLoad, CraftedInflationIsBounded) {
    fixtures::FsdbModern f;
    f.name_chunks = {fixtures::nul_strings(kNames)};
    // A section of 4 MiB of pairs, listed 65535 times in the block table.
    Buf area;
    while (area.size() < (size_t{4} << 20)) area.insert(area.end(), {0x01, 0x01});
    f.block_sections = {fixtures::fsdb_section({}, area)};
    f.extra_table_entries = 65534;
    // A width section of 200 MiB of filler bytes.
    f.width_records = Buf(size_t{200} << 20, 0x00);
    const FsdbTrace t = load(f.build());
    EXPECT_EQ(t.signal_names().size(), kNames.size());
    EXPECT_LE(t.timestamps().size(), fsdb::kMaxValueEntries + 1);
}
