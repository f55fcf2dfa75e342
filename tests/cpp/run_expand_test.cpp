// Spreading per-run flags over indices: every window of a column, whatever its alignment to the
// words of the run-start bits, must give each index the flag of the run holding it.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "eval/bits/run_expand.hpp"
#include "signal/column.hpp"

namespace {

using namespace quor_core;
using eval::ExprKind;

// A column of `length` indices whose run k starts at starts[k] with value values[k].
signal::Column make_column(uint64_t length, const std::vector<uint64_t>& starts, const std::vector<uint64_t>& values) {
    signal::ColumnWriter w(length);
    for (size_t k = 0; k < starts.size(); ++k) w.append(starts[k], signal::ValueRef::of_uint(values[k]));
    return std::move(w).finish();
}

// Runs of the given lengths, in turn, with values cycling through 0..modulus-1.
signal::Column runs_of(uint64_t length, const std::vector<uint64_t>& lengths, uint64_t modulus) {
    std::vector<uint64_t> starts, values;
    uint64_t v = 0;
    for (uint64_t t = 0, k = 0; t < length; t += lengths[k++ % lengths.size()]) {
        starts.push_back(t);
        values.push_back(v);
        v = (v + 1) % modulus;
    }
    return make_column(length, starts, values);
}

bool holds(ExprKind kind, uint64_t v, uint64_t c) {
    switch (kind) {
        case ExprKind::Eq: return v == c;
        case ExprKind::Neq: return v != c;
        case ExprKind::Gt: return v > c;
        case ExprKind::Lt: return v < c;
        case ExprKind::Gte: return v >= c;
        case ExprKind::Lte: return v <= c;
        default: return v != 0;
    }
}

TEST(RunExpand, DepositScattersLowBitsOntoMask) {
    struct Case {
        uint64_t src, mask, expected;
    };
    const Case cases[] = {
        {0b1, 0, 0},
        {0b101, 0b1011'0000, 0b1000'0000 | 0b1'0000},
        {~uint64_t{0}, uint64_t{1} << 63, uint64_t{1} << 63},
        {0b10, 0b11, 0b10},
        {~uint64_t{0}, ~uint64_t{0}, ~uint64_t{0}},
        {0x00000000ffffffffULL, 0xaaaaaaaaaaaaaaaaULL, 0xaaaaaaaaaaaaaaaaULL},
        {0x00000000aaaaaaaaULL, 0xf0f0f0f0f0f0f0f0ULL, 0xa0a0a0a0a0a0a0a0ULL},
    };
    for (const Case& c : cases) EXPECT_EQ(eval::deposit_portable(c.src, c.mask), c.expected) << c.src << " " << c.mask;
}

TEST(RunExpand, PrefixXorAndWindows) {
    EXPECT_EQ(eval::prefix_xor(0), 0u);
    EXPECT_EQ(eval::prefix_xor(1), ~uint64_t{0});
    EXPECT_EQ(eval::prefix_xor(0b1001'0010), (~uint64_t{0} << 7) | 0b1110);  // bits 1, 4, 7
    const uint64_t words[] = {0x8000000000000001ULL, 0x3ULL};
    EXPECT_EQ(eval::bits_at(words, 2, 0), words[0]);
    EXPECT_EQ(eval::bits_at(words, 2, 63), 0b111u);
    EXPECT_EQ(eval::bits_at(words, 2, 64), 0b11u);
    EXPECT_EQ(eval::bits_at(words, 2, 65), 0b1u);
    EXPECT_EQ(eval::bits_at(words, 2, 128), 0u);  // past the last word
}

TEST(RunExpand, PackedFlagsCompareUnsigned) {
    // Values on both sides of the top bit, in runs of counts that end inside a step of four and
    // inside a word.
    const uint64_t values[] = {0, 1, (uint64_t{1} << 63) - 1, uint64_t{1} << 63, ~uint64_t{0}, 5, 7};
    const uint64_t constants[] = {0, 1, uint64_t{1} << 63, ~uint64_t{0}, 5};
    const ExprKind kinds[] = {ExprKind::Eq, ExprKind::Neq, ExprKind::Gt, ExprKind::Lt,
                              ExprKind::Gte, ExprKind::Lte, ExprKind::Signal};
    for (const size_t count : {size_t{1}, size_t{7}, size_t{64}, size_t{70}, size_t{131}}) {
        std::vector<uint64_t> payloads(count);
        for (size_t i = 0; i < count; ++i) payloads[i] = values[(i * 5 + i / 7) % 7];
        for (const uint64_t c : constants) {
            for (const ExprKind kind : kinds) {
                for (const bool avx2 : {false, eval::avx2_available()}) {
                    std::vector<uint64_t> flags(eval::words_for(count), 0xdeadbeef);
                    eval::pack_run_flags(payloads.data(), count, {kind, c}, flags.data(), avx2);
                    for (size_t q = 0; q < flags.size() * 64; ++q) {
                        const bool got = (flags[q / 64] >> (q % 64)) & 1U;
                        const bool want = q < count && (kind == ExprKind::Signal ? payloads[q] != 0
                                                                                   : holds(kind, payloads[q], c));
                        ASSERT_EQ(got, want) << "count " << count << " c " << c << " q " << q << " avx2 " << avx2;
                    }
                }
            }
        }
    }
}

// Byte payloads over the whole unsigned range (signed byte compares would order 0x80 and up
// below 0x7F), at counts around the 32-byte and 64-run steps.
TEST(RunExpand, BytePayloadsCompareUnsigned) {
    std::mt19937 rng(11);
    std::vector<uint8_t> bytes(300);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    bytes[0] = 0, bytes[1] = 0x7F, bytes[2] = 0x80, bytes[3] = 0xFF;
    const ExprKind kinds[] = {ExprKind::Eq, ExprKind::Neq, ExprKind::Gt, ExprKind::Lt, ExprKind::Gte, ExprKind::Lte, ExprKind::Signal};
    std::vector<bool> modes{false};
    if (eval::avx2_available()) modes.push_back(true);
    for (const size_t count : {1, 31, 32, 33, 63, 64, 65, 100, 300}) {
        for (const uint64_t constant : {0, 1, 0x7F, 0x80, 200, 0xFF}) {
            for (const ExprKind kind : kinds) {
                for (const bool fast : modes) {
                    std::vector<uint64_t> flags(eval::words_for(count), 0xdeadbeef);
                    eval::pack_run_flags_bytes(bytes.data(), count, eval::RunTest{kind, constant}, flags.data(), fast);
                    for (size_t q = 0; q < flags.size() * 64; ++q) {
                        const bool want = q < count && holds(kind, bytes[q], kind == ExprKind::Signal ? 0 : constant);
                        ASSERT_EQ(((flags[q / 64] >> (q % 64)) & 1U) != 0, want)
                            << "count " << count << " constant " << constant << " run " << q << " fast " << fast;
                    }
                }
            }
        }
    }
}

TEST(RunExpand, EveryWindowGetsItsRunsFlags) {
    struct Case {
        const char* name;
        uint64_t length;
        std::vector<uint64_t> run_lengths;
        uint64_t modulus;
    };
    const Case cases[] = {
        {"a run per index", 700, {1}, 4},
        {"a run per index, whole words only", 4200, {1}, 2},
        {"alternating 1 and 2", 1100, {1, 2}, 3},
        {"runs of 63", 1300, {63}, 2},
        {"runs of 64", 1300, {64}, 3},
        {"runs of 65", 1300, {65}, 2},
        {"long and short", 2000, {300, 1, 1, 1, 90, 2}, 5},
        {"two runs", 900, {511, 10000}, 2},
        {"ends inside a word", 131, {3, 1}, 4},
    };
    const uint64_t windows[][2] = {{0, 512}, {5, 4096}, {1, 512}, {63, 64}, {64, 64}, {65, 130}, {100, 1}, {7, 511}, {0, 1}, {128, 4096}, {3, 64}, {70, 128}};
    const ExprKind kinds[] = {ExprKind::Eq, ExprKind::Neq, ExprKind::Gt, ExprKind::Lt, ExprKind::Gte, ExprKind::Lte, ExprKind::Signal};
    std::vector<bool> modes{false};  // portable code, then the processor's instructions where it has them
    if (eval::fast_deposit_available() || eval::avx2_available()) modes.push_back(true);
    std::vector<uint64_t> start_words;
    for (const Case& c : cases) {
        const signal::Column col = runs_of(c.length, c.run_lengths, c.modulus);
        ASSERT_GT(col.run_count(), 1u) << c.name;
        std::vector<uint64_t> payloads(col.run_count());
        col.copy_payloads(0, col.run_count(), payloads.data());
        for (const auto& win : windows) {
            // The window as given, and the same length ending at the column's last index.
            for (const uint64_t t0 : {win[0], c.length - std::min(win[1], c.length)}) {
                const size_t len = static_cast<size_t>(std::min(win[1], c.length - t0));
                if (len == 0) continue;
                for (const ExprKind kind : kinds) {
                    const eval::RunTest test{kind, 1};
                    const size_t r0 = col.run_of(t0), r1 = col.run_of(t0 + len - 1);
                    // The slack after the flags holds junk: the expansion must not depend on it.
                    std::vector<uint64_t> flags(eval::words_for(r1 - r0 + 1) + eval::kRunFlagSlack, ~uint64_t{0});
                    for (const bool fast : modes) {
                        eval::pack_run_flags(payloads.data() + r0, r1 - r0 + 1, test, flags.data(),
                                             fast && eval::avx2_available());
                        // One-byte payloads, packed where they are stored, give the same flags.
                        ASSERT_EQ(col.payload_width(), 1u) << c.name;
                        std::vector<uint64_t> byte_flags(flags.size(), ~uint64_t{0});
                        eval::pack_run_flags_bytes(col.payload_data(r0), r1 - r0 + 1, test, byte_flags.data(),
                                                   fast && eval::avx2_available());
                        ASSERT_EQ(byte_flags, flags) << c.name << " t0 " << t0 << " len " << len << " fast " << fast;
                        std::vector<uint64_t> out(eval::words_for(len), 0xdeadbeef);
                        eval::expand_run_flags(col.run_starts(), t0, len, flags.data(), out.data(),
                                               fast && eval::fast_deposit_available(), start_words);
                        for (size_t k = 0; k < out.size() * 64; ++k) {
                            const bool got = (out[k / 64] >> (k % 64)) & 1U;
                            const bool want = k < len && holds(kind, col.at(t0 + k).as_uint(), 1);
                            ASSERT_EQ(got, want) << c.name << " t0 " << t0 << " len " << len << " k " << k
                                                 << " fast " << fast;
                        }
                    }
                }
            }
        }
    }
}

using signal::ValueKind;

// Unknown runs take the given flag, Uint runs keep theirs, at every position of the 8-byte and
// 64-run steps; any other kind refuses the whole stretch.
TEST(PatchUnknownRuns, UnknownRunsTakeTheirFlagOthersRefuse) {
    struct Case {
        size_t count;
        std::vector<size_t> unknown_at;
        std::vector<size_t> other_at;
    };
    const Case cases[] = {
        {1, {0}, {}},          {1, {}, {}},          {8, {7}, {}},          {9, {8}, {}},
        {64, {0, 63}, {}},     {65, {64}, {}},       {130, {7, 8, 65, 129}, {}},
        {130, {3}, {127}},     {9, {}, {8}},         {513, {0, 512}, {}},   {513, {1}, {256}},
    };
    const ValueKind others[] = {ValueKind::Wide, ValueKind::FourState, ValueKind::Real, ValueKind::Text};
    for (const bool unknown : {false, true}) {
        for (const Case& c : cases) {
            std::vector<uint8_t> kinds(c.count, static_cast<uint8_t>(ValueKind::Uint));
            for (size_t k : c.unknown_at) kinds[k] = static_cast<uint8_t>(ValueKind::Unknown);
            for (size_t k : c.other_at) kinds[k] = static_cast<uint8_t>(others[k % 4]);
            std::vector<uint64_t> flags(eval::words_for(c.count));
            for (size_t w = 0; w < flags.size(); ++w) flags[w] = 0x5a5a5a5a5a5a5a5aULL * (w + 1);
            flags.back() &= eval::low_bits(c.count - (flags.size() - 1) * 64);
            std::vector<uint64_t> expected = flags;
            for (size_t k : c.unknown_at) {
                expected[k / 64] = (expected[k / 64] & ~(uint64_t{1} << (k % 64))) | (uint64_t{unknown} << (k % 64));
            }
            const bool ok = eval::patch_unknown_runs(kinds.data(), c.count, unknown, flags.data());
            EXPECT_EQ(ok, c.other_at.empty()) << "count " << c.count;
            if (ok) {
                EXPECT_EQ(flags, expected) << "count " << c.count << " unknown " << unknown;
            }
        }
    }
}

}  // namespace
