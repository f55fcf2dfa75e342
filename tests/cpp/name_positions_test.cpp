// The table that finds names by their text among a list: collisions, growth and absent names.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "trace/name_positions.hpp"

namespace {

using quor_core::trace::NamePositions;

TEST(NamePositions, FindsEveryListedNameAndNoOther) {
    struct Case {
        const char* what;
        size_t names;
        bool one_hash;  // every name listed under the same hash: each probe walks the collisions
        size_t reserved;
    };
    const std::vector<Case> cases = {
        {"empty", 0, false, 0},
        {"grows from nothing", 1000, false, 0},
        {"reserved", 1000, false, 1000},
        {"all collide", 100, true, 0},
    };
    for (const Case& c : cases) {
        std::vector<std::string> names;
        NamePositions table;
        table.reserve(c.reserved);
        const auto hash_of = [&](const std::string& name) { return c.one_hash ? 7u : NamePositions::hash(name); };
        for (size_t i = 0; i < c.names; ++i) {
            names.push_back("top.unit[" + std::to_string(i) + "].q");
            table.insert(hash_of(names.back()), static_cast<uint32_t>(i));
        }
        EXPECT_EQ(table.size(), c.names) << c.what;
        for (size_t i = 0; i < c.names; ++i) {
            EXPECT_EQ(table.find(names[i], hash_of(names[i]), names), i) << c.what << " " << names[i];
        }
        for (const std::string absent : {"", "top.unit[0]", "top.unit[0].q ", "top.unit[1000].q"}) {
            EXPECT_FALSE(table.find(absent, hash_of(absent), names)) << c.what << " " << absent;
        }
    }
}

TEST(NamePositions, FindIfTakesTheFirstMatchUnderItsHash) {
    NamePositions table;
    const std::vector<int> parents = {3, 4, 3};
    for (uint32_t i = 0; i < parents.size(); ++i) table.insert(11, i);
    EXPECT_EQ(table.find_if(11, [&](uint32_t p) { return parents[p] == 4; }), 1u);
    EXPECT_EQ(table.find_if(11, [&](uint32_t p) { return parents[p] == 3; }), 0u);
    EXPECT_FALSE(table.find_if(11, [&](uint32_t p) { return parents[p] == 5; }));
    EXPECT_FALSE(table.find_if(12, [](uint32_t) { return true; }));
}

}  // namespace
