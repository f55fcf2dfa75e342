// WLF files: header names, extra name pages, and value pages.

#include <gtest/gtest.h>

#include "format_fixtures.hpp"
#include "formats/wlf/wlf.hpp"

using namespace quor_core::trace;
using fixtures::Buf;

namespace {

WlfTrace load(const Buf& bytes) {
    auto r = WlfTrace::from_bytes(bytes);
    EXPECT_TRUE(r.ok());
    return std::move(r).value();
}

std::vector<std::string> names_of(const WlfTrace& t) { return {t.signal_names().begin(), t.signal_names().end()}; }

}  // namespace

TEST(WlfLoad, SizeLimits) {
    const auto small = WlfTrace::from_bytes(Buf(8191, 0));
    ASSERT_FALSE(small.ok());
    EXPECT_EQ(small.error(), "WLF file too small (< 1 page)");
    // One page with a value mark in a would-be second page is never decoded.
    const WlfTrace one = load(fixtures::wlf_header({"top.a", "top.b"}, 0));
    EXPECT_EQ(names_of(one), (std::vector<std::string>{"top.a", "top.b"}));
    EXPECT_EQ(one.max_index(), 0u);
}

TEST(WlfLoad, NameFilterAndHeaderStrings) {
    const WlfTrace t = load(fixtures::wlf_header({"bus data", "a.b(0)", "x@y", "_", ".a", "top.sig", "bus data"}, 0));
    EXPECT_EQ(names_of(t), (std::vector<std::string>{"bus data", "top.sig"}));
    EXPECT_EQ(std::vector<std::string>(t.scopes().begin(), t.scopes().end()), (std::vector<std::string>{"top"}));

    Buf file(8192, 0);
    size_t pos = 40;
    const Buf strings{3, 'a', 0x01, 'c', 2, 'o', 'k'};
    fixtures::put_bytes(file, 40, strings);
    EXPECT_EQ(wlf::read_lpstr(file, pos), "");
    EXPECT_EQ(pos, 41u);  // just after the length byte
    pos = 44;
    EXPECT_EQ(wlf::read_lpstr(file, pos), "ok");
    EXPECT_EQ(pos, 47u);
    pos = 8191;
    file[8191] = 5;
    EXPECT_EQ(wlf::read_lpstr(file, pos), "");
}

TEST(WlfLoad, NameCapAndExtraPages) {
    std::vector<std::string> many;
    for (int i = 0; i < 1100; ++i) many.push_back(std::string("s").append(std::to_string(i)));
    Buf f = fixtures::wlf_header(many, 0);
    f.resize(8192);  // the list runs past the page; the name area ends at 8192
    fixtures::put_be16(f, 2, 8192);
    EXPECT_EQ(load(f).signal_names().size(), 1000u);

    // Y = 3 with one header name: the next page is scanned, a page with the value mark is not.
    Buf g = fixtures::wlf_header({"h1"}, 3);
    fixtures::append(g, fixtures::wlf_value_page({0x00, 0x00}));
    Buf names_page(8192, 0);
    fixtures::put_bytes(names_page, 100, fixtures::nul_strings({"p2", "p3"}));
    fixtures::append(g, names_page);
    EXPECT_EQ(names_of(load(g)), (std::vector<std::string>{"h1", "p2", "p3"}));
}

TEST(WlfLoad, ValuePages) {
    Buf f = fixtures::wlf_header({"n0", "n1", "n2"}, 0);
    // 01 05 FF 01 06: signal 1 is 5 at index 0 and 6 at index 1; 02 07 on the next page at 2.
    fixtures::append(f, fixtures::wlf_value_page({0x01, 0x05, 0xFF, 0x01, 0x06, 0x09, 0x00, 0xFF}));
    fixtures::append(f, fixtures::wlf_value_page({0xFF, 0x02, 0x07}));
    // Too few non-zero bytes: not decoded.
    fixtures::append(f, fixtures::wlf_value_page({0xFF, 0xFF, 0x02, 0x01}, false));
    const WlfTrace t = load(f);
    EXPECT_EQ(std::vector<uint64_t>(t.timestamps().begin(), t.timestamps().end()), (std::vector<uint64_t>{0, 1, 2}));
    const auto at = [&](const char* n, uint64_t i) {
        const auto v = t.signal_value(n, i);
        return v.is_unknown() ? 999 : v.as_uint();
    };
    EXPECT_EQ(at("n1", 0), 5u);
    EXPECT_EQ(at("n1", 1), 6u);
    EXPECT_EQ(at("n1", 2), 6u);
    EXPECT_EQ(at("n2", 1), 999u);
    EXPECT_EQ(at("n2", 2), 7u);
    EXPECT_EQ(at("n0", 2), 999u);  // id 0 never receives a value
}
