// Path elements of hierarchical names: escaped identifiers are one element, dots and all; bit
// ranges a writer kept at the end of a name.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bytes/byte_scan.hpp"
#include "trace/derived_scopes.hpp"
#include "trace/common_trace.hpp"
#include "trace/hierarchy_names.hpp"
#include "util/name_path.hpp"

namespace {

using namespace quor_core;

std::vector<std::string> elements(std::string_view name) {
    std::vector<std::string> out;
    for (size_t pos = 0;;) {
        const size_t end = util::path_element_end(name, pos);
        out.emplace_back(name.substr(pos, end - pos));
        if (end >= name.size()) return out;
        pos = end + 1;
    }
}

TEST(NamePath, Elements) {
    struct Case {
        const char* name;
        std::vector<std::string> elements;
    };
    const std::vector<Case> cases = {
        {"top.sub.clk", {"top", "sub", "clk"}},
        {"top.\\esc.dotted", {"top", "\\esc.dotted"}},               // Verilog, as Icarus writes it
        {"tb.\\u.1\\.\\inner.x\\", {"tb", "\\u.1\\", "\\inner.x\\"}},  // VHDL, as GHDL writes it
        {"top.\\bus.v .x", {"top", "\\bus.v ", "x"}},                // ended by white space
        {"top.\\idx[3] [1:0]", {"top", "\\idx[3] [1:0]"}},
        {"top.\\.x", {"top", "\\.x"}},
        {"a.b\\c.d", {"a", "b\\c", "d"}},  // a backslash inside a plain element escapes nothing
        {"a..b", {"a", "", "b"}},
        {".a", {"", "a"}},
        {"a.", {"a", ""}},
        {"", {""}},
    };
    for (const Case& c : cases) EXPECT_EQ(elements(c.name), c.elements) << c.name;
}

TEST(NamePath, InsideAndDirectlyIn) {
    struct Case {
        const char* name;
        const char* scope;
        bool inside;
        bool directly;
    };
    const std::vector<Case> cases = {
        {"top.clk", "top", true, true},
        {"top.sub.clk", "top", true, false},
        {"top.sub.clk", "top.sub", true, true},
        {"topx.clk", "top", false, false},
        {"top", "top", false, false},
        {"top.\\esc.dotted", "top", true, true},
        {"top.\\esc.dotted", "top.\\esc", false, false},
        {"tb.\\u.1\\.\\inner.x\\", "tb.\\u.1\\", true, true},
        {"tb.\\u.1\\.\\inner.x\\", "tb.\\u", false, false},
        {"tb.\\u.1\\.\\inner.x\\", "tb", true, false},
        {"clk", "", false, true},
        {"\\esc.dotted", "", false, true},
        {"top.clk", "", false, false},
        {".clk", "", true, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(util::inside_scope(c.name, c.scope), c.inside) << c.name << " in " << c.scope;
        EXPECT_EQ(util::directly_in_scope(c.name, c.scope), c.directly) << c.name << " in " << c.scope;
    }
}

TEST(NamePath, WithoutBitRange) {
    struct Case {
        const char* name;
        const char* bare;
    };
    const std::vector<Case> cases = {
        {"top.cnt [7:0]", "top.cnt"},   {"q[7:0]", "q"},      {"top.mem[0] [7:0]", "top.mem[0]"},
        {"top.mem[3]", "top.mem[3]"},   {"top.\\idx[3] [1:0]", "top.\\idx[3]"},
        {"top.x [0:0]", "top.x"},       {"top.clk", "top.clk"}, {"[7:0]", "[7:0]"},
        {"top. [7:0]", "top. [7:0]"},   {"top.a ]", "top.a ]"}, {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(util::without_bit_range(c.name), c.bare) << c.name;
}

TEST(NamePath, DerivedScopesKeepEscapedElementsWhole) {
    EXPECT_EQ(trace::derive_scopes({"top.\\esc.dotted", "top.u.\\a.b\\.c", "x"}),
              (std::vector<std::string>{"top", "top.u", "top.u.\\a.b\\"}));
}

TEST(NamePath, DerivedScopesOfOneVeryDeepName) {
    // 100,000 elements: all their scopes would take 10 GB; they are listed down to the budget.
    std::string deep;
    for (int k = 0; k < 100000; ++k) deep += k == 0 ? "a" : ".a";
    const std::vector<std::string> scopes = trace::derive_scopes({deep, "top.x"});
    uint64_t bytes = 0;
    for (const std::string& s : scopes) bytes += s.size();
    EXPECT_LE(bytes, trace::HierarchyNames::kFreeBytes + trace::HierarchyNames::kBytesPerInputByte * (deep.size() + 5));
    ASSERT_GE(scopes.size(), 1000U);
    EXPECT_EQ(scopes[0], "a");
    EXPECT_EQ(scopes[1], "a.a");
    // Reopened paths are listed once, in byte order, whatever the order of the names.
    EXPECT_EQ(trace::derive_scopes({"t.b.x", "t.a.y", "t.b.z", "s.q"}), (std::vector<std::string>{"s", "t", "t.a", "t.b"}));
}

TEST(NamePath, ScopeNamesJoinAsOneElement) {
    const struct {
        const char* element;
        const char* joined;
    } cases[] = {
        {"u", "top.u"},
        {"u.1", "top.\\u.1 "},          // as Icarus writes the instance \u.1
        {"\\u.1", "top.\\u.1 "},        // escaped without its ending space
        {"\\u.1 ", "top.\\u.1 "},       // already whole
        {"\\u.1\\", "top.\\u.1\\"},     // VHDL extended identifier
        {"\\esc", "top.\\esc "},        // "\esc.x" would read as one element
        {"a\\b", "top.a\\b"},          // a backslash inside a plain element escapes nothing
        {"", "top."},
    };
    for (const auto& c : cases) {
        std::string path = "top.";
        util::append_path_element(path, c.element);
        EXPECT_EQ(path, c.joined) << c.element;
        EXPECT_EQ(util::path_element_end(path + ".x", 4), path.size()) << c.element;
    }
}

// A lookup by a name without its bit range finds the one name that gives it; an exact name wins.
TEST(NamePath, LookupsWithoutBitRange) {
    trace::TraceRecord r;
    const std::vector<std::pair<std::string, uint32_t>> names = {
        {"top.x [3:0]", 4}, {"top.x [7:4]", 4}, {"top.y [3:0]", 4}, {"top.y", 1}, {"top.z[1:0]", 2}, {"top.m[2]", 3},
    };
    for (uint32_t id = 0; id < names.size(); ++id) {
        r.signal_names.push_back(names[id].first);
        r.name_to_id.emplace(names[id].first, id);
        r.widths.emplace(names[id].first, names[id].second);
    }
    const trace::CommonTrace t(std::move(r));
    struct Case {
        const char* name;
        std::optional<uint32_t> id;
        uint32_t width;
    };
    const std::vector<Case> cases = {
        {"top.x", std::nullopt, 1},  // two names give it
        {"top.x [7:4]", 1, 4},
        {"top.y", 3, 1},             // a name of its own
        {"top.y [3:0]", 2, 4},
        {"top.z", 4, 2},
        {"top.m", std::nullopt, 1},  // an element index is not a range
        {"top.m[2]", 5, 3},
        {"top.z[1", std::nullopt, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(t.signal_id(c.name), c.id) << c.name;
        EXPECT_EQ(t.signal_width(c.name), c.width) << c.name;
        EXPECT_EQ(t.signal_values_range(c.name, 0, 2).size(), 2u) << c.name;
    }
}

}  // namespace
