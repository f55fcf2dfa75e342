// Where frozen columns keep their arrays: the shared arena, and copies that outlive the writer
// and the original column.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "signal/column.hpp"
#include "signal/rank_bits.hpp"
#include "util/arena.hpp"

namespace {

using quor_core::signal::Column;
using quor_core::signal::ColumnWriter;
using quor_core::signal::SignalValue;
using quor_core::signal::ValueKind;
using quor_core::util::Arena;

TEST(Arena, BlocksFromManyThreadsAreAlignedAndDisjoint) {
    Arena arena;
    // Small, odd and large requests, including ones larger than any slab so far.
    const std::vector<size_t> sizes = {1, 7, 16, 100, 4096, 70000, size_t{3} << 20, 33, 8};
    constexpr int kThreads = 4;
    std::vector<std::vector<std::pair<unsigned char*, size_t>>> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 6; ++round) {
                for (const size_t n : sizes) {
                    auto* p = static_cast<unsigned char*>(arena.allocate(n));
                    std::memset(p, t * 6 + round, n);  // writable in full
                    got[t].emplace_back(p, n);
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    std::vector<std::pair<unsigned char*, size_t>> all;
    for (int t = 0; t < kThreads; ++t) {
        for (size_t k = 0; k < got[t].size(); ++k) {
            const auto [p, n] = got[t][k];
            EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0U);
            // Nothing written later by another thread landed in this block.
            const auto expect = static_cast<unsigned char>(t * 6 + k / sizes.size());
            EXPECT_EQ(p[0], expect);
            EXPECT_EQ(p[n - 1], expect);
            all.push_back(got[t][k]);
        }
    }
    std::sort(all.begin(), all.end());
    for (size_t k = 1; k < all.size(); ++k) EXPECT_LE(all[k - 1].first + all[k - 1].second, all[k].first);
}

Column make_column(const std::shared_ptr<Arena>& arena) {
    ColumnWriter w(1000, arena);
    w.append_inline(0, ValueKind::Uint, 5);
    w.append_inline(10, ValueKind::Unknown, 0);
    w.append(20, SignalValue::four_state({2, 1}));
    w.append_inline(999, ValueKind::Uint, 7);
    return std::move(w).finish();
}

TEST(ColumnMemory, CopiesReadTheSameAfterTheOriginalAndTheArenaHandleAreGone) {
    for (const bool with_arena : {false, true}) {
        auto arena = with_arena ? std::make_shared<Arena>() : nullptr;
        auto original = std::make_unique<Column>(make_column(arena));
        const Column copy = *original;
        original.reset();
        arena.reset();
        EXPECT_EQ(copy.run_count(), 4U);
        EXPECT_EQ(copy.at(9).as_uint(), 5U);
        EXPECT_TRUE(copy.at(15).is_unknown());
        EXPECT_EQ(copy.at(500).to_value(), SignalValue::four_state({2, 1}));
        EXPECT_EQ(copy.at(999).as_uint(), 7U);
        EXPECT_TRUE(copy.at(1000).is_unknown());
        EXPECT_EQ(copy.run_end_after(20), 999U);
    }
}

}  // namespace

namespace {

// Payloads are stored in as few bytes as the column's largest needs. Each case's values, run by
// run (with a real, an Unknown and a text value mixed in for the kinds), must read back exactly,
// one by one and in bulk, from columns in an arena and in arrays of their own.
TEST(ColumnMemory, PayloadsReadBackAtEveryWidth) {
    struct Case {
        uint64_t largest;
        unsigned width;
        bool mixed;
    };
    const Case cases[] = {
        {0, 1, false},           {0xFF, 1, false},     {0x100, 2, false},       {0xFFFF, 2, false},
        {0x10000, 4, false},     {0xFFFFFFFF, 4, false}, {uint64_t{1} << 32, 8, false}, {~uint64_t{0}, 8, false},
        {0x7F, 8, true},  // a real's bits need all eight bytes
    };
    std::mt19937_64 rng(3);
    for (const Case& c : cases) {
        for (const bool with_arena : {false, true}) {
            SCOPED_TRACE(std::to_string(c.largest) + (with_arena ? " in an arena" : " on its own"));
            auto arena = with_arena ? std::make_shared<Arena>() : nullptr;
            ColumnWriter writer(3000, arena);
            std::vector<SignalValue> want;
            for (uint64_t start = 0; start < 3000; start += 3) {
                SignalValue v = SignalValue::uint(start == 1500 ? c.largest : (c.largest == 0 ? 0 : rng() % (c.largest / 2 + 1)));
                if (c.mixed && start % 300 == 3) v = SignalValue::real(0.5 + static_cast<double>(start));
                if (c.mixed && start % 300 == 6) v = SignalValue::unknown();
                if (c.mixed && start % 300 == 9) v = SignalValue::text(std::string("t").append(std::to_string(start)));
                writer.append(start, SignalValue(v));
                want.push_back(std::move(v));
            }
            const Column col = std::move(writer).finish();
            EXPECT_EQ(col.payload_width(), c.width);
            for (uint64_t start = 0; start < 3000; start += 3) {
                ASSERT_EQ(col.at(start + 2).to_value(), want[start / 3]) << "at " << start + 2;
            }
            std::vector<uint64_t> bulk(col.run_count());
            col.copy_payloads(0, bulk.size(), bulk.data());
            for (size_t run = 0; run < bulk.size(); ++run) ASSERT_EQ(bulk[run], col.run_payload(run)) << "run " << run;
        }
    }
}

// Adopted memory is handed out before new slabs; what was never handed out can be given back
// while everything handed out stays readable and writable.
TEST(Arena, AdoptedMemoryServesFirstAndUnusedMemoryGoesBack) {
    using quor_core::util::HugeBuffer;
    for (const size_t adopted : {size_t{64} << 10, size_t{4} << 20}) {
        quor_core::util::Arena arena;
        auto buffer = std::make_unique<HugeBuffer<std::byte>>(adopted);
        const std::byte* begin = buffer->data();
        arena.adopt(std::move(buffer));
        auto* first = static_cast<uint64_t*>(arena.allocate(1000 * sizeof(uint64_t)));
        EXPECT_GE(reinterpret_cast<const std::byte*>(first), begin);
        EXPECT_LT(reinterpret_cast<const std::byte*>(first), begin + adopted);
        for (uint64_t i = 0; i < 1000; ++i) first[i] = i * 3;
        arena.release_unused();
        auto* second = static_cast<uint64_t*>(arena.allocate(100 * sizeof(uint64_t)));
        for (uint64_t i = 0; i < 100; ++i) second[i] = i;
        for (uint64_t i = 0; i < 1000; ++i) ASSERT_EQ(first[i], i * 3);
        for (uint64_t i = 0; i < 100; ++i) ASSERT_EQ(second[i], i);
    }
}

}  // namespace

namespace {

// rank1 and next_one against a plain count, for lengths around word and directory-block edges
// (a block is 512 bits) and for bit patterns that fill or empty whole blocks. The directory lies
// after the words in the same array: a wrong offset reads words as counts.
TEST(RankBits, RankAndNextOneMatchACount) {
    using quor_core::signal::RankBits;
    struct Pattern {
        const char* name;
        std::function<bool(uint64_t, std::mt19937_64&)> bit;
    };
    const std::vector<Pattern> patterns = {
        {"sparse", [](uint64_t, std::mt19937_64& rng) { return rng() % 64 == 0; }},
        {"half", [](uint64_t, std::mt19937_64& rng) { return rng() % 2 == 0; }},
        {"all ones", [](uint64_t, std::mt19937_64&) { return true; }},
        {"all zeros", [](uint64_t, std::mt19937_64&) { return false; }},
        {"first of each block", [](uint64_t i, std::mt19937_64&) { return i % 512 == 0; }},
        {"last of each block", [](uint64_t i, std::mt19937_64&) { return i % 512 == 511; }},
    };
    std::mt19937_64 rng(11);
    for (const uint64_t length : {0u, 1u, 63u, 64u, 65u, 511u, 512u, 513u, 1000u, 1024u, 1536u, 4096u, 4099u}) {
        for (const Pattern& pattern : patterns) {
            SCOPED_TRACE(std::string(pattern.name) + ", length " + std::to_string(length));
            const size_t words = RankBits::word_count(length);
            ASSERT_EQ(RankBits::array_words(length), words + RankBits::block_count(length));
            // Guard words around the array: a read past it would see them.
            std::vector<uint64_t> memory(RankBits::array_words(length) + 2, ~uint64_t{0});
            std::fill(memory.begin() + 1, memory.end() - 1, 0);
            uint64_t* array = memory.data() + 1;
            std::vector<bool> bits(length);
            for (uint64_t i = 0; i < length; ++i) {
                bits[i] = pattern.bit(i, rng);
                if (bits[i]) array[i / 64] |= uint64_t{1} << (i % 64);
            }
            RankBits::build_directory(array, words, array + words);
            const RankBits r(length, array);
            ASSERT_EQ(r.blocks(), array + words);
            ASSERT_EQ(r.next_one(length), length);
            uint64_t count = 0;
            for (uint64_t i = 0; i < length; ++i) {
                count += bits[i];
                ASSERT_EQ(r.test(i), bits[i]) << "at " << i;
                ASSERT_EQ(r.rank1(i), count) << "at " << i;
                ASSERT_EQ(RankBits::rank1(length, array, i), count) << "at " << i;
                uint64_t next = i;
                while (next < length && !bits[next]) ++next;
                ASSERT_EQ(r.next_one(i), next) << "from " << i;
            }
        }
    }
}

}  // namespace
