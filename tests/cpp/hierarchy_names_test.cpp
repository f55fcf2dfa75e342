// Full names of a hierarchy read declaration by declaration: scopes listed once, whatever
// reopens them, and names kept within their budget so that deep nesting cannot take memory
// quadratic in its depth.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "trace/hierarchy_names.hpp"
#include "trace/vcd.hpp"

namespace {

using quor_core::trace::HierarchyNames;
using Names = std::vector<std::string>;

// Entries: "+name" opens a scope, "-" closes one, anything else declares a variable.
struct Walk {
    Names vars;
    Names scopes;
    bool over_budget;
};

Walk walk(const Names& entries, uint64_t bytes_per_entry = 16) {
    HierarchyNames names;
    Walk out;
    for (const std::string& e : entries) {
        names.read(bytes_per_entry);
        if (e[0] == '+') {
            names.open_scope(e.substr(1));
        } else if (e == "-") {
            names.close_scope();
        } else if (std::string full; names.var_name(e, full)) {
            out.vars.push_back(full);
        }
    }
    out.over_budget = names.over_budget();
    out.scopes = names.take_scopes();
    return out;
}

TEST(HierarchyNames, ScopesListedOnceInOrderOfFirstAppearance) {
    struct Case {
        const char* what;
        Names entries;
        Names vars;
        Names scopes;
    };
    const std::vector<Case> cases = {
        {"nested", {"+top", "a", "+sub", "b", "-", "c", "-", "d"}, {"top.a", "top.sub.b", "top.c", "d"}, {"top", "top.sub"}},
        {"reopened", {"+top", "+u", "x", "-", "-", "+top", "+u", "y"}, {"top.u.x", "top.u.y"}, {"top", "top.u"}},
        {"same name, other parent", {"+a", "+b", "-", "-", "+b"}, {}, {"a", "a.b", "b"}},
        // An instance name holding a dot (as Icarus writes an escaped one) gives the same text
        // as a scope inside a scope: listed once.
        {"same text, two paths", {"+top", "+u", "+a", "-", "-", "+u.a", "x"}, {"top.u.a.x"}, {"top", "top.u", "top.u.a"}},
        // The dotted name first: the nested path met later gives its text again.
        {"same text, dotted first", {"+top", "+u.a", "x", "-", "+u", "+a", "y"}, {"top.u.a.x", "top.u.a.y"},
         {"top", "top.u.a", "top.u"}},
        {"dotted, reopened", {"+a.b", "-", "+a.b", "+c", "-", "-", "+a", "+b", "+c"}, {}, {"a.b", "a.b.c", "a"}},
        {"close at the top", {"-", "+t", "-", "-", "v"}, {"v"}, {"t"}},
        {"empty names", {"+", "+x", "v"}, {".x.v"}, {"", ".x"}},
    };
    for (const Case& c : cases) {
        const Walk w = walk(c.entries);
        EXPECT_EQ(w.vars, c.vars) << c.what;
        EXPECT_EQ(w.scopes, c.scopes) << c.what;
        EXPECT_FALSE(w.over_budget) << c.what;
    }
}

// Names of n nested scopes of one long name each, with a variable in every one.
Names nested(size_t depth, size_t name_length) {
    Names entries;
    for (size_t d = 0; d < depth; ++d) {
        entries.push_back("+" + std::string(name_length, static_cast<char>('a' + d % 26)));
        entries.push_back("v");
    }
    return entries;
}

TEST(HierarchyNames, BudgetBoundsDeepNesting) {
    struct Case {
        size_t depth;
        size_t name_length;
        bool over_budget;
    };
    const std::vector<Case> cases = {
        {300, 30, false},   // a few hundred levels of long names: a few MB of names
        {2000, 10, false},  // 44 MB of names from 64 kB of declarations
        {4000, 30, true},   // 500 MB of names from 128 kB
    };
    for (const Case& c : cases) {
        const Walk w = walk(nested(c.depth, c.name_length));
        EXPECT_EQ(w.over_budget, c.over_budget) << c.depth << " levels";
        uint64_t bytes = 0;
        for (const auto& n : w.vars) bytes += n.size();
        for (const auto& n : w.scopes) bytes += n.size();
        EXPECT_LE(bytes, HierarchyNames::kFreeBytes + HierarchyNames::kBytesPerInputByte * 2 * 16 * c.depth);
        if (!c.over_budget) {
            EXPECT_EQ(w.vars.size(), c.depth);
        }
    }
}

// The VCD loader reports a hierarchy over budget, from memory and read in order alike.
TEST(HierarchyNames, VcdLoadFailsOnDeepNesting) {
    std::string text = "$timescale 1ns $end\n";
    for (int d = 0; d < 4000; ++d) text += "$scope module m" + std::string(28, 'x') + " $end\n";
    text += "$var wire 1 ! leaf $end\n$enddefinitions $end\n#0\n1!\n";
    for (const bool in_order : {false, true}) {
        auto loaded = in_order ? quor_core::trace::VcdTrace::parse_in_order(text) : quor_core::trace::VcdTrace::parse(text);
        ASSERT_FALSE(loaded.ok());
        EXPECT_EQ(loaded.error().rfind("VCD hierarchy: too deep or its names too long: after ", 0), 0u) << loaded.error();
    }
}

}  // namespace
