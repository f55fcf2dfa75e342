// VPD files: section offsets, name-section probing, and names only.

#include <gtest/gtest.h>

#include "format_fixtures.hpp"
#include "formats/vpd/vpd.hpp"

using namespace quor_core::trace;
using fixtures::Buf;

namespace {

std::vector<std::string> names_of(const Buf& bytes) {
    auto r = VpdTrace::from_bytes(bytes);
    EXPECT_TRUE(r.ok());
    if (!r.ok()) return {};
    return {r.value().signal_names().begin(), r.value().signal_names().end()};
}

}  // namespace

TEST(VpdLoad, Errors) {
    const auto small = VpdTrace::from_bytes(Buf(127, 0));
    ASSERT_FALSE(small.ok());
    EXPECT_EQ(small.error(), "VPD file too small");
    Buf bad(128, 0);
    bad[0] = 1;
    const auto magic = VpdTrace::from_bytes(bad);
    ASSERT_FALSE(magic.ok());
    EXPECT_EQ(magic.error(), "Not a VPD file (magic=0x00000001)");
}

TEST(VpdLoad, SectionsAndProbe) {
    const Buf four = fixtures::nul_strings({"top.a", "top.b", "top.c", "top.d"});
    const Buf three = fixtures::nul_strings({"x.a", "x.b", "x.c"});
    const Buf folded = fixtures::nul_strings({"FoldedTop", "m.q"});
    struct Case {
        const char* what;
        std::vector<Buf> sections;
        std::vector<std::string> expect;
    };
    const Case cases[] = {
        {"empty header", {}, {}},
        {"four identifiers", {four}, {"top.a", "top.b", "top.c", "top.d"}},
        {"three identifiers", {three}, {}},
        {"marker string", {folded}, {"FoldedTop", "m.q"}},
        {"first id kept", {four, fixtures::nul_strings({"top.d", "top.e", "top.a", "top.f"})},
         {"top.a", "top.b", "top.c", "top.d", "top.e", "top.f"}},
    };
    for (const Case& c : cases) EXPECT_EQ(names_of(fixtures::vpd_file(c.sections)), c.expect) << c.what;

    const auto t = VpdTrace::from_bytes(fixtures::vpd_file({four}));
    EXPECT_EQ(std::vector<std::string>(t.value().scopes().begin(), t.value().scopes().end()), (std::vector<std::string>{"top"}));
    EXPECT_EQ(t.value().max_index(), 0u);
    EXPECT_TRUE(t.value().signal_value("top.a", 0).is_unknown());
}

TEST(VpdLoad, DuplicateOffsetsSplitSections) {
    // Offsets 0x200, 0x200 and 0x100: sections 0x100..0x200 and 0x200..end. The probe of the
    // second section sees only its own bytes.
    Buf f(0x300, 0);
    fixtures::put_le32(f, 0, 0x12345678);
    fixtures::put_le32(f, 48, 0x200);
    fixtures::put_le32(f, 52, 0x200);
    fixtures::put_le32(f, 56, 0x100);
    fixtures::put_bytes(f, 0x100 + 0xC0, fixtures::nul_strings({"a.one", "a.two", "a.three"}));
    fixtures::put_bytes(f, 0x200, fixtures::nul_strings({"b.one", "b.two", "b.three", "b.four"}));
    EXPECT_EQ(names_of(f), (std::vector<std::string>{"b.one", "b.two", "b.three", "b.four"}));
}
