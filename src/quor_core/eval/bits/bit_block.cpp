#include "eval/bits/bit_block.hpp"

#include <algorithm>

#include "eval/block_range.hpp"
#include "eval/ops.hpp"
#include "eval/bits/run_expand.hpp"

namespace quor_core::eval {

namespace {

// What a node of the compiled program is while rewriting it over truth values.
struct Operand {
    enum class Type : uint8_t { Value, Const, Bool };
    Type type;
    uint32_t slot;      // Value: leaf number
    uint64_t constant;  // Const
    uint8_t extend_from = 0;  // Value under signed(): the width its values are sign-extended from
};

bool is_comparison(ExprKind k) {
    return k == ExprKind::Eq || k == ExprKind::Neq || k == ExprKind::Gt || k == ExprKind::Lt || k == ExprKind::Gte ||
           k == ExprKind::Lte;
}

// The comparison with its operands swapped: c < x is x > c.
ExprKind mirrored(ExprKind k) {
    switch (k) {
        case ExprKind::Gt: return ExprKind::Lt;
        case ExprKind::Lt: return ExprKind::Gt;
        case ExprKind::Gte: return ExprKind::Lte;
        case ExprKind::Lte: return ExprKind::Gte;
        default: return k;
    }
}

// Bits of word w (block positions 64w .. 64w + 63) that lie in [begin, end).
uint64_t range_bits(size_t w, size_t begin, size_t end) {
    const size_t lo = w * 64, hi = lo + 64;
    if (end <= lo || begin >= hi || begin >= end) return 0;
    const size_t b = std::max(begin, lo) - lo, e = std::min(end, hi) - lo;
    return low_bits(e) & ~low_bits(b);
}

}  // namespace

std::vector<BitInstr> BitBlockEvaluator::translate(const CompiledExpr& expr) {
    std::vector<BitInstr> out;
    std::vector<Operand> stack;
    // Emits the instruction that turns a value into its truth. And and Or are symmetric, so a
    // left operand may be emitted after its right sibling.
    const auto truth = [&out](const Operand& o) {
        if (o.type == Operand::Type::Value) out.push_back({BitInstr::Op::Compare, ExprKind::Signal, o.slot, 0});
        if (o.type == Operand::Type::Const) out.push_back({BitInstr::Op::Fill, ExprKind::Const, 0, o.constant != 0});
    };
    for (const CompiledExpr::Instr& in : expr.program_) {
        switch (in.kind) {
            case ExprKind::Signal: stack.push_back({Operand::Type::Value, in.slot, 0}); break;
            case ExprKind::Const:
            case ExprKind::AlwaysTrue:
                if (in.constant.kind() != signal::ValueKind::Uint) return {};
                stack.push_back({Operand::Type::Const, 0, in.constant.as_uint()});
                break;
            case ExprKind::RelEval:
                // A signal right below already reads Unknown outside the reach (its leaf's reach
                // includes this one); a constant would not, and is left to the other evaluators.
                if (stack.back().type == Operand::Type::Const) return {};
                if (stack.back().type == Operand::Type::Bool) out.push_back({BitInstr::Op::Reach, in.kind, in.slot, 0});
                break;
            case ExprKind::Signed:
                // A constant keeps its bits; a signal's values are extended where they are compared.
                if (stack.back().type == Operand::Type::Bool) return {};
                // Only a signal right below (under relative offsets) has a width to extend from.
                if (stack.back().type == Operand::Type::Value && in.info.extend_from != 0 && in.info.extend_from < 64) {
                    stack.back().extend_from = static_cast<uint8_t>(in.info.extend_from);
                }
                break;
            case ExprKind::Not:
                truth(stack.back());
                out.push_back({BitInstr::Op::Not, in.kind, 0, 0});
                stack.back() = {Operand::Type::Bool, 0, 0};
                break;
            case ExprKind::And:
            case ExprKind::Or: {
                truth(stack.back());
                stack.pop_back();
                truth(stack.back());
                out.push_back({in.kind == ExprKind::And ? BitInstr::Op::And : BitInstr::Op::Or, in.kind, 0, 0});
                stack.back() = {Operand::Type::Bool, 0, 0};
                break;
            }
            default: {
                if (!is_comparison(in.kind)) return {};
                const Operand r = stack.back();
                stack.pop_back();
                const Operand l = stack.back();
                const bool signed_order = is_ordering(in.kind) && (in.info.signs.left || in.info.signs.right);
                const uint64_t flip = signed_order ? kSignFlip : 0;
                if (l.type == Operand::Type::Value && r.type == Operand::Type::Const) {
                    out.push_back({BitInstr::Op::Compare, in.kind, l.slot, r.constant ^ flip, l.extend_from, signed_order});
                } else if (l.type == Operand::Type::Const && r.type == Operand::Type::Value) {
                    out.push_back(
                        {BitInstr::Op::Compare, mirrored(in.kind), r.slot, l.constant ^ flip, r.extend_from, signed_order});
                } else {
                    return {};
                }
                stack.back() = {Operand::Type::Bool, 0, 0};
                break;
            }
        }
    }
    truth(stack.back());
    return out;
}

BitBlockEvaluator::BitBlockEvaluator(const CompiledExpr& expr)
    : expr_(expr), run_flags_(words_for(kBlock) + kRunFlagSlack), payloads_(kBlock + 1), shifted_(kWords), fast_deposit_(fast_deposit_available()), avx2_(avx2_available()) {
    size_t depth = 0, deepest = 1;
    for (const BitInstr& in : expr.bit_program_) {
        if (in.op == BitInstr::Op::Compare || in.op == BitInstr::Op::Fill) ++depth;
        if (in.op == BitInstr::Op::And || in.op == BitInstr::Op::Or) --depth;
        deepest = std::max(deepest, depth);
    }
    stack_.resize(deepest * kWords);
}

bool BitBlockEvaluator::compare(const BitInstr& in, uint64_t first, size_t n, uint64_t* out) {
    const CompiledExpr::Leaf& leaf = expr_.leaves_[in.slot];
    const uint64_t unknown = in.kind == ExprKind::Neq ? ~uint64_t{0} : 0;  // Unknown differs from any number
    const size_t words = words_for(n);
    size_t begin = 0, end = 0;
    if (leaf.column) {
        const Int128 length_hi = Int128(leaf.column->length()) - 1 - leaf.offset;  // last i with t < length
        clip_block(leaf.reach.lo, std::min(leaf.reach.hi, length_hi), first, n, begin, end);
    }
    if (begin >= end) {
        std::fill(out, out + words, unknown);
        return true;
    }
    const signal::Column& col = *leaf.column;
    const size_t len = end - begin;
    const auto t0 = static_cast<uint64_t>(Int128(first) + Int128(begin) + leaf.offset);
    const RunTest test{in.kind, in.constant};
    uint64_t* dst = begin == 0 ? out : shifted_.data();
    const size_t r0 = col.run_of(t0);
    const size_t r1 = col.run_of(t0 + len - 1);
    if (in.extend_from != 0 || in.signed_order) {
        // The signed() reading of each payload, in the order the test compares.
        col.copy_payloads(r0, r1 - r0 + 1, payloads_.data());
        const uint64_t above = in.extend_from != 0 ? ~uint64_t{0} << in.extend_from : 0;
        const unsigned sign_bit = in.extend_from != 0 ? in.extend_from - 1U : 0;
        const uint64_t flip = in.signed_order ? kSignFlip : 0;
        for (size_t q = 0; q <= r1 - r0; ++q) {
            const uint64_t v = payloads_[q];
            payloads_[q] = (v | ((uint64_t{0} - ((v >> sign_bit) & 1U)) & above)) ^ flip;
        }
        pack_run_flags(payloads_.data(), r1 - r0 + 1, test, run_flags_.data(), avx2_);
    } else if (col.payload_width() == 1 && in.constant <= 0xFF) {
        pack_run_flags_bytes(col.payload_data(r0), r1 - r0 + 1, test, run_flags_.data(), avx2_);
    } else {
        col.copy_payloads(r0, r1 - r0 + 1, payloads_.data());
        pack_run_flags(payloads_.data(), r1 - r0 + 1, test, run_flags_.data(), avx2_);
    }
    const std::span<const uint8_t> kinds = col.run_kinds();
    if (!kinds.empty() && !patch_unknown_runs(kinds.data() + r0, r1 - r0 + 1, unknown != 0, run_flags_.data())) {
        return false;
    }
    if (r0 == r1) {
        std::fill(dst, dst + words_for(len), uint64_t{0} - (run_flags_[0] & 1U));
    } else {
        expand_run_flags(col.run_starts(), t0, len, run_flags_.data(), dst, fast_deposit_, start_words_);
    }
    if (begin != 0) {
        // Moves the bits up by begin positions.
        const size_t q = begin / 64, r = begin % 64, have = words_for(len);
        for (size_t w = 0; w < words; ++w) {
            uint64_t v = 0;
            if (w >= q && w - q < have) v |= dst[w - q] << r;
            if (r != 0 && w >= q + 1 && w - q - 1 < have) v |= dst[w - q - 1] >> (64 - r);
            out[w] = v;
        }
    }
    if (begin == 0 && end == n) return true;
    for (size_t w = 0; w < words; ++w) {
        const uint64_t known = range_bits(w, begin, end);
        out[w] = (out[w] & known) | (unknown & ~known);
    }
    return true;
}

bool BitBlockEvaluator::eval(uint64_t first, size_t n, uint64_t* words) {
    const size_t count = words_for(n);
    size_t depth = 0;
    const auto level = [this](size_t d) { return stack_.data() + d * kWords; };
    for (const BitInstr& in : expr_.bit_program_) {
        switch (in.op) {
            case BitInstr::Op::Compare:
                if (!compare(in, first, n, level(depth++))) return false;
                break;
            case BitInstr::Op::Fill: {
                uint64_t* top = level(depth++);
                std::fill(top, top + count, uint64_t{0} - in.constant);
                break;
            }
            case BitInstr::Op::And:
            case BitInstr::Op::Or: {
                uint64_t* __restrict a = level(depth - 2);
                const uint64_t* __restrict b = level(depth - 1);
                if (in.op == BitInstr::Op::And) {
                    for (size_t w = 0; w < count; ++w) a[w] &= b[w];
                } else {
                    for (size_t w = 0; w < count; ++w) a[w] |= b[w];
                }
                --depth;
                break;
            }
            case BitInstr::Op::Not: {
                uint64_t* top = level(depth - 1);
                for (size_t w = 0; w < count; ++w) top[w] = ~top[w];
                break;
            }
            case BitInstr::Op::Reach: {
                const auto& r = expr_.reaches_[in.slot];
                size_t begin = 0, end = 0;
                clip_block(r.lo, r.hi, first, n, begin, end);
                uint64_t* top = level(depth - 1);
                for (size_t w = 0; w < count; ++w) top[w] &= range_bits(w, begin, end);
                break;
            }
        }
    }
    std::copy(stack_.data(), stack_.data() + count, words);
    words[count - 1] &= low_bits(n - (count - 1) * 64);
    return true;
}

}  // namespace quor_core::eval
