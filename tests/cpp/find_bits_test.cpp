// Searches over expressions that only compare signals against constants and join the truths:
// these run one bit per index, and must agree with the plain evaluator index by index, around
// block and word boundaries, where columns end, over Unknown runs, next to runs of other kinds,
// and under relative offsets.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>

#include "eval/bits/bit_block.hpp"
#include "eval/evaluator.hpp"
#include "query/find.hpp"
#include "eval_test_trace.hpp"

namespace {

using namespace quor_core;
using eval::Expr;
using eval::ExprKind;
using signal::SignalValue;

std::vector<uint64_t> plain_find(const trace::Trace& t, const Expr& e) {
    std::vector<uint64_t> out;
    for (uint64_t i = 0; i <= t.max_index(); ++i) {
        if (eval::eval_bool(t, e, i)) out.push_back(i);
    }
    return out;
}

Expr sig(uint64_t id) { return Expr::signal(id); }
Expr num(uint64_t v) { return Expr::constant(SignalValue::uint(v)); }
Expr bin(ExprKind k, const Expr& l, const Expr& r) { return Expr::binary(k, l, r); }
Expr shifted(const Expr& e, int64_t off) { return Expr::rel_eval(e, off); }
Expr neg(const Expr& e) { return Expr::unary(ExprKind::Not, e); }
Expr sgn(const Expr& e) { return Expr::unary(ExprKind::Signed, e); }

// s0 changes every index, s1 every few (but not on 2000..6999), s2 rarely, s3 ends at `short_length`, s4 has no values.
eval_test::DenseTrace bit_trace(uint64_t samples, uint64_t short_length, uint64_t seed) {
    std::mt19937_64 rng(seed);
    signal::SignalStore store;
    uint64_t v1 = 0, v2 = 0;
    for (uint64_t i = 0; i < samples; ++i) {
        store.set(0, i, SignalValue::uint(rng() % 4));
        if (rng() % 5 == 0 && (i < 2000 || i >= 7000)) v1 = rng() % 8;
        store.set(1, i, SignalValue::uint(v1));
        if (rng() % 700 == 0) v2 = rng() % 3;
        store.set(2, i, SignalValue::uint(v2));
        if (i < short_length) store.set(3, i, SignalValue::uint(i % 3));
    }
    eval_test::DenseTrace trace({"top.s0", "top.s1", "top.s2", "top.s3", "top.s4"}, std::move(store), samples);
    trace.set_widths({2, 3, 2, 2, 1});
    return trace;
}

struct Shape {
    const char* name;
    Expr expr;
    bool bitwise;  // whether the search runs one bit per index
};

std::vector<Shape> shapes() {
    return {
        {"eq", bin(ExprKind::Eq, sig(0), num(1)), true},
        {"neq", bin(ExprKind::Neq, sig(3), num(1)), true},
        {"mirrored lt", bin(ExprKind::Lt, num(3), sig(1)), true},
        {"gte lte", bin(ExprKind::And, bin(ExprKind::Gte, sig(1), num(2)), bin(ExprKind::Lte, sig(0), num(2))), true},
        {"and of two", bin(ExprKind::And, bin(ExprKind::Eq, sig(0), num(1)), bin(ExprKind::Gt, sig(1), num(3))), true},
        {"or not", bin(ExprKind::Or, neg(bin(ExprKind::Eq, sig(2), num(0))), bin(ExprKind::Eq, sig(0), num(3))), true},
        {"bare signal", bin(ExprKind::And, sig(1), neg(sig(3))), true},
        {"constant joins", bin(ExprKind::Or, num(0), bin(ExprKind::And, num(7), sig(0))), true},
        {"no values", bin(ExprKind::Or, bin(ExprKind::Neq, sig(4), num(0)), neg(sig(4))), true},
        {"short column", bin(ExprKind::And, bin(ExprKind::Neq, sig(3), num(2)), bin(ExprKind::Gt, sig(0), num(0))), true},
        {"ahead 1", bin(ExprKind::Eq, shifted(sig(0), 1), num(2)), true},
        {"behind 1", bin(ExprKind::Neq, shifted(sig(0), -1), num(2)), true},
        {"ahead 64", bin(ExprKind::Gt, shifted(sig(1), 64), num(4)), true},
        {"behind 513", bin(ExprKind::Neq, shifted(sig(1), -513), num(4)), true},
        {"ahead 4097", bin(ExprKind::Lt, shifted(sig(0), 4097), num(2)), true},
        {"far ahead", bin(ExprKind::Neq, shifted(sig(0), INT64_MAX), num(4)), true},
        {"far behind", neg(bin(ExprKind::Eq, shifted(sig(0), INT64_MIN), num(4))), true},
        {"nested shifts", bin(ExprKind::Eq, shifted(shifted(sig(3), -70), 3), num(1)), true},
        {"shifted join", neg(shifted(bin(ExprKind::And, sig(0), shifted(sig(1), -2)), 100)), true},
        {"change", bin(ExprKind::Neq, neg(bin(ExprKind::Eq, sig(0), shifted(sig(0), -1))), num(0)), false},
        {"arithmetic", bin(ExprKind::Eq, bin(ExprKind::Add, sig(0), num(1)), num(2)), false},
        {"shifted constant", bin(ExprKind::Eq, shifted(num(1), 5), sig(0)), false},
        {"value compared", bin(ExprKind::Eq, bin(ExprKind::Eq, sig(0), num(1)), num(1)), false},
        {"signed", bin(ExprKind::Lt, sgn(sig(1)), num(0)), true},
        {"signed against negative", bin(ExprKind::Gte, num(~uint64_t{0}), sgn(sig(3))), true},
        {"signed equality", bin(ExprKind::Eq, sgn(shifted(sig(0), -1)), num(~uint64_t{0} - 1)), true},
        {"signed shifted", bin(ExprKind::Gt, shifted(sgn(sig(1)), 3), num(~uint64_t{0} - 2)), true},
        {"signed twice", bin(ExprKind::Lte, sgn(sgn(sig(0))), num(~uint64_t{0})), true},
        {"signed constant", bin(ExprKind::Lt, sig(1), sgn(num(~uint64_t{0}))), true},
        {"signed truth", bin(ExprKind::And, sgn(sig(0)), neg(sgn(sig(3)))), true},
        {"signed slice", bin(ExprKind::Lt, sgn(Expr::slice(sig(1), 1, 0)), num(0)), false},
    };
}

TEST(FindBits, ShapesTakeTheBitPathOrNot) {
    const auto trace = bit_trace(100, 50, 1);
    for (const Shape& s : shapes()) {
        const eval::CompiledExpr compiled(trace, s.expr);
        EXPECT_EQ(!eval::BitBlockEvaluator::translate(compiled).empty(), s.bitwise) << s.name;
    }
}

TEST(FindBits, AgreeWithPlainEvaluatorAroundBoundaries) {
    struct Size {
        uint64_t samples, short_length;
    };
    const Size sizes[] = {{1, 0}, {63, 10}, {64, 64}, {65, 64}, {511, 300}, {512, 1}, {513, 512},
                          {1500, 1023}, {4095, 4000}, {4097, 4096}, {9000, 8193}};
    for (const Size& size : sizes) {
        const auto trace = bit_trace(size.samples, size.short_length, size.samples);
        for (const Shape& s : shapes()) {
            const auto expected = plain_find(trace, s.expr);
            ASSERT_EQ(eval::find(trace, s.expr), expected) << s.name << " samples " << size.samples;
            ASSERT_EQ(eval::parallel_find(trace, s.expr), expected) << s.name << " samples " << size.samples;
            ASSERT_EQ(eval::parallel_count(trace, s.expr), expected.size()) << s.name << " samples " << size.samples;
        }
    }
}

// Trees of comparisons against constants, joined with And, Or, Not and shifts.
Expr random_bool_expr(std::mt19937_64& rng, int depth) {
    static const int64_t kOffsets[] = {-1, 1, -63, 64, 65, -512, 700, -4097};
    const unsigned pick = depth <= 0 ? rng() % 3 : rng() % 8;
    switch (pick) {
        case 0: {
            static const ExprKind kCmp[] = {ExprKind::Eq, ExprKind::Neq, ExprKind::Gt,
                                            ExprKind::Lt, ExprKind::Gte, ExprKind::Lte};
            Expr s = sig(rng() % 5);
            if (rng() % 3 == 0) s = shifted(s, kOffsets[rng() % 8]);
            if (rng() % 3 == 0) s = sgn(s);
            if (rng() % 5 == 0) s = shifted(s, kOffsets[rng() % 8]);
            const Expr c = num(rng() % 4 == 0 ? ~uint64_t{0} - rng() % 4 : rng() % 5);
            return rng() % 2 ? bin(kCmp[rng() % 6], s, c) : bin(kCmp[rng() % 6], c, s);
        }
        case 1: return sig(rng() % 5);
        case 2: return num(rng() % 2);
        case 3: return neg(random_bool_expr(rng, depth - 1));
        case 4: return shifted(random_bool_expr(rng, depth - 1), kOffsets[rng() % 8]);
        default:
            return bin(rng() % 2 ? ExprKind::And : ExprKind::Or, random_bool_expr(rng, depth - 1),
                       random_bool_expr(rng, depth - 1));
    }
}

TEST(FindBits, RandomJoinsAgreeWithPlainEvaluator) {
    for (uint64_t seed = 0; seed < 40; ++seed) {
        std::mt19937_64 rng(seed + 77);
        const uint64_t samples = 1 + rng() % 9000;
        const auto trace = bit_trace(samples, rng() % (samples + 1), seed);
        const Expr e = random_bool_expr(rng, 1 + static_cast<int>(rng() % 4));
        const auto expected = plain_find(trace, e);
        ASSERT_EQ(eval::find(trace, e), expected) << "seed " << seed;
        ASSERT_EQ(eval::parallel_count(trace, e), expected.size()) << "seed " << seed;
    }
}


// s0 changes every index and is Unknown for its first `lead` indices, across block and word
// boundaries and now and then; s1 changes every few and is Unknown on 3000..3599; s2 is Unknown
// throughout; s3 is Unknown now and then and holds x bits, reals and text on 5000..5099; s4 is
// Unknown until 700.
eval_test::DenseTrace unknown_trace(uint64_t samples, uint64_t lead, uint64_t seed) {
    std::mt19937_64 rng(seed);
    signal::SignalStore store;
    const auto unknown_s0 = [&rng, lead](uint64_t i) {
        const uint64_t in_block = i % 512, in_word = i % 64;
        return i < lead || in_block >= 510 || in_block < 2 || (i / 64 % 5 == 3 && in_word >= 61) || rng() % 40 == 0;
    };
    uint64_t v1 = 0;
    for (uint64_t i = 0; i < samples; ++i) {
        store.set(0, i, unknown_s0(i) ? SignalValue::unknown() : SignalValue::uint(rng() % 4));
        if (rng() % 5 == 0) v1 = rng() % 8;
        store.set(1, i, i >= 3000 && i < 3600 ? SignalValue::unknown() : SignalValue::uint(v1));
        store.set(2, i, SignalValue::unknown());
        SignalValue v3 = i % 97 < 5 ? SignalValue::unknown() : SignalValue::uint(i % 3);
        if (i >= 5000 && i < 5100) {
            switch (i % 7) {
                case 0: v3 = SignalValue::four_state({signal::kBit1, signal::kBitX}); break;
                case 1: v3 = SignalValue::real(1.0); break;
                case 2: v3 = SignalValue::text("a"); break;
                case 3: v3 = SignalValue::wide({1, 0}); break;  // the number 1
                case 4: v3 = SignalValue::wide({1, 1}); break;  // above every Uint
                case 5: v3 = SignalValue::real(i % 2 ? 1.5 : std::nan("")); break;
                default: break;
            }
        }
        store.set(3, i, std::move(v3));
        store.set(4, i, i < 700 ? SignalValue::unknown() : SignalValue::uint(i % 2));
    }
    eval_test::DenseTrace trace({"top.s0", "top.s1", "top.s2", "top.s3", "top.s4"}, std::move(store), samples);
    trace.set_widths({2, 3, 2, 2, 1});
    return trace;
}

TEST(FindBits, UnknownRunsAgreeWithPlainEvaluator) {
    struct Size {
        uint64_t samples, lead;
    };
    const Size sizes[] = {{1, 1}, {64, 63}, {513, 512}, {1100, 100}, {1100, 513}, {6000, 1}, {9000, 0}};
    for (const Size& size : sizes) {
        const auto trace = unknown_trace(size.samples, size.lead, size.samples + size.lead);
        for (const Shape& s : shapes()) {
            const auto expected = plain_find(trace, s.expr);
            ASSERT_EQ(eval::find(trace, s.expr), expected) << s.name << " samples " << size.samples;
            ASSERT_EQ(eval::parallel_count(trace, s.expr), expected.size()) << s.name << " samples " << size.samples;
        }
    }
}

TEST(FindBits, RandomJoinsOverUnknownRunsAgreeWithPlainEvaluator) {
    for (uint64_t seed = 0; seed < 40; ++seed) {
        std::mt19937_64 rng(seed + 991);
        const uint64_t samples = 1 + rng() % 9000;
        const auto trace = unknown_trace(samples, rng() % 1200, seed);
        const Expr e = random_bool_expr(rng, 1 + static_cast<int>(rng() % 4));
        const auto expected = plain_find(trace, e);
        ASSERT_EQ(eval::find(trace, e), expected) << "seed " << seed;
        ASSERT_EQ(eval::parallel_find(trace, e), expected) << "seed " << seed;
    }
}

// Values the bits do not cover (x bits here) now and then over a long trace: the search falls
// back to smaller blocks around them and to large ones again further on, and every stretch in
// between must still agree with the plain evaluator.
TEST(FindBits, ScatteredOtherKindsAgreeWithPlainEvaluator) {
    struct Case {
        const char* name;
        std::vector<uint64_t> x_at;  // indices where s1 holds an x bit
    };
    const Case cases[] = {
        {"none", {}},
        {"first and last index", {0, 149'999}},
        {"one inside a block", {5000}},
        {"both sides of a block boundary", {4095, 4096, 8191}},
        {"far apart", {300, 70'000, 70'001, 140'000}},
        {"every 3000 for a while", {3000, 6000, 9000, 12000, 15000, 18000, 21000, 24000, 27000, 30000}},
    };
    const uint64_t samples = 150'000;
    const Expr exprs[] = {
        bin(ExprKind::And, bin(ExprKind::Eq, sig(0), num(1)), bin(ExprKind::Lt, sig(1), num(3))),
        bin(ExprKind::Or, bin(ExprKind::Neq, sig(1), num(2)), bin(ExprKind::Gt, sig(0), num(2))),
        neg(bin(ExprKind::Eq, shifted(sig(1), -4096), num(4))),
    };
    for (const Case& c : cases) {
        std::mt19937_64 rng(samples + c.x_at.size());
        signal::SignalStore store;
        for (uint64_t i = 0; i < samples; ++i) {
            store.set(0, i, SignalValue::uint(rng() % 4));
            const bool x = std::find(c.x_at.begin(), c.x_at.end(), i) != c.x_at.end();
            store.set(1, i, x ? SignalValue::four_state({signal::kBit1, signal::kBitX}) : SignalValue::uint(i / 7 % 5));
        }
        eval_test::DenseTrace trace({"top.s0", "top.s1"}, std::move(store), samples);
        trace.set_widths({2, 3});
        for (size_t k = 0; k < std::size(exprs); ++k) {
            const auto expected = plain_find(trace, exprs[k]);
            ASSERT_EQ(eval::find(trace, exprs[k]), expected) << c.name << " expr " << k;
            ASSERT_EQ(eval::parallel_count(trace, exprs[k]), expected.size()) << c.name << " expr " << k;
        }
    }
}

// Blocks over Uint and Unknown runs stay on the bit path; only a block reading runs of other
// kinds is handed back.
TEST(FindBits, BitBlocksCoverUnknownRunsButNotOtherKinds) {
    const auto trace = unknown_trace(6000, 100, 5);
    struct Case {
        const char* name;
        Expr expr;
        uint64_t refused_block;  // the block reading 5000..5099, or none
    };
    const Case cases[] = {
        {"unknown lead and gaps", bin(ExprKind::Gte, sig(0), num(0)), UINT64_MAX},
        {"unknown stretch", bin(ExprKind::Or, bin(ExprKind::Neq, sig(1), num(3)), neg(sig(4))), UINT64_MAX},
        {"all unknown", bin(ExprKind::Eq, sig(2), num(0)), UINT64_MAX},
        {"other kinds", bin(ExprKind::Lte, sig(3), num(1)), 5000 / eval::BitBlockEvaluator::kBlock},
    };
    for (const Case& c : cases) {
        const eval::CompiledExpr compiled(trace, c.expr);
        eval::BitBlockEvaluator bits(compiled);
        const auto expected = plain_find(trace, c.expr);
        std::vector<uint64_t> found;
        const size_t kBlock = eval::BitBlockEvaluator::kBlock;
        for (uint64_t first = 0; first < 6000; first += kBlock) {
            const size_t n = std::min<size_t>(kBlock, 6000 - first);
            std::array<uint64_t, eval::BitBlockEvaluator::kWords> words{};
            const bool ok = bits.eval(first, n, words.data());
            ASSERT_EQ(ok, first / kBlock != c.refused_block) << c.name << " block at " << first;
            if (!ok) {
                for (uint64_t i = first; i < first + n; ++i) {
                    if (eval::eval_bool(trace, c.expr, i)) found.push_back(i);
                }
                continue;
            }
            for (size_t k = 0; k < n; ++k) {
                if ((words[k / 64] >> (k % 64)) & 1U) found.push_back(first + k);
            }
        }
        EXPECT_EQ(found, expected) << c.name;
    }
}

}  // namespace
