#include "eval/block_eval.hpp"

#include <algorithm>

#include "eval/ops.hpp"

namespace quor_core::eval {

namespace {

// Block positions [begin, end) of first..first+n-1 that lie in lo..hi.
void clip(Int128 lo, Int128 hi, uint64_t first, size_t n, size_t& begin, size_t& end) {
    const Int128 b = std::max<Int128>(lo - Int128(first), 0);
    const Int128 e = std::min<Int128>(hi - Int128(first) + 1, Int128(n));
    begin = static_cast<size_t>(std::min<Int128>(b, Int128(n)));
    end = e > Int128(begin) ? static_cast<size_t>(e) : begin;
}

template <typename F>
void combine(uint64_t* a, uint8_t* ka, const uint64_t* b, const uint8_t* kb, size_t n, F f) {
    for (size_t k = 0; k < n; ++k) {
        a[k] = f(a[k], b[k]);
        ka[k] = ka[k] & kb[k];
    }
}

}  // namespace

BlockEvaluator::BlockEvaluator(const CompiledExpr& expr)
    : expr_(expr), val_(expr.max_stack_ * kBlock), known_(expr.max_stack_ * kBlock) {}

void BlockEvaluator::fill_leaf(const CompiledExpr::Leaf& leaf, uint64_t first, size_t n, uint64_t* val,
                               uint8_t* known) const {
    std::fill(val, val + n, 0);
    std::fill(known, known + n, 0);
    if (!leaf.column) return;
    size_t begin = 0, end = 0;
    const Int128 length_hi = Int128(leaf.column->length()) - 1 - leaf.offset;  // last i with t < length
    clip(leaf.reach.lo, std::min(leaf.reach.hi, length_hi), first, n, begin, end);
    if (begin >= end) return;
    const auto& payload = leaf.column->run_payloads();
    const auto& starts = leaf.column->run_starts();
    uint64_t t = static_cast<uint64_t>(Int128(first) + Int128(begin) + leaf.offset);
    std::fill(known + begin, known + end, 1);
    if (starts.size() == 0) {
        std::fill(val + begin, val + end, payload[0]);
        return;
    }
    size_t run = leaf.column->run_of(t);
    val[begin] = payload[run];
    for (size_t k = begin + 1; k < end; ++k) {
        run += starts.test(++t);
        val[k] = payload[run];
    }
}

void BlockEvaluator::eval(uint64_t first, size_t n, uint8_t* truthy) {
    size_t depth = 0;
    auto slot_val = [this](size_t d) { return val_.data() + d * kBlock; };
    auto slot_known = [this](size_t d) { return known_.data() + d * kBlock; };
    for (const CompiledExpr::Instr& in : expr_.program_) {
        switch (in.kind) {
            case ExprKind::Signal:
                fill_leaf(expr_.leaves_[in.slot], first, n, slot_val(depth), slot_known(depth));
                ++depth;
                continue;
            case ExprKind::Const:
            case ExprKind::AlwaysTrue:
                std::fill(slot_val(depth), slot_val(depth) + n, in.constant.as_uint());
                std::fill(slot_known(depth), slot_known(depth) + n, 1);
                ++depth;
                continue;
            default: break;
        }
        uint64_t* a = slot_val(depth - 1);
        uint8_t* ka = slot_known(depth - 1);
        switch (in.kind) {
            case ExprKind::RelEval: {
                const auto& r = expr_.reaches_[in.slot];
                size_t begin = 0, end = 0;
                clip(r.lo, r.hi, first, n, begin, end);
                std::fill(ka, ka + begin, 0);
                std::fill(ka + end, ka + n, 0);
                continue;
            }
            case ExprKind::Not:
                for (size_t k = 0; k < n; ++k) {
                    a[k] = !(ka[k] && a[k] != 0);
                    ka[k] = 1;
                }
                continue;
            case ExprKind::IsX:
                for (size_t k = 0; k < n; ++k) {
                    a[k] = !ka[k];
                    ka[k] = 1;
                }
                continue;
            case ExprKind::IsZ:
                std::fill(a, a + n, 0);
                std::fill(ka, ka + n, 1);
                continue;
            case ExprKind::Signed: continue;
            case ExprKind::Slice: {
                const uint64_t high = in.node->high, low = in.node->low;
                for (size_t k = 0; k < n; ++k) a[k] = bit_slice(a[k], high, low);
                continue;
            }
            default: break;
        }
        // Two operands: the left one is below the right one on the stack.
        --depth;
        uint64_t* l = slot_val(depth - 1);
        uint8_t* kl = slot_known(depth - 1);
        const uint64_t* r = a;
        const uint8_t* kr = ka;
        switch (in.kind) {
            case ExprKind::And:
                for (size_t k = 0; k < n; ++k) {
                    l[k] = (kl[k] && l[k] != 0) & (kr[k] && r[k] != 0);
                    kl[k] = 1;
                }
                break;
            case ExprKind::Or:
                for (size_t k = 0; k < n; ++k) {
                    l[k] = (kl[k] && l[k] != 0) | (kr[k] && r[k] != 0);
                    kl[k] = 1;
                }
                break;
            case ExprKind::Eq:
            case ExprKind::Neq: {
                // Unknown equals only Unknown; two Uints compare by value.
                const uint64_t flip = in.kind == ExprKind::Neq;
                for (size_t k = 0; k < n; ++k) {
                    const uint64_t eq = (kl[k] & kr[k] & (l[k] == r[k])) | (!kl[k] & !kr[k]);
                    l[k] = eq ^ flip;
                    kl[k] = 1;
                }
                break;
            }
            case ExprKind::Gt: combine(l, kl, r, kr, n, [](uint64_t x, uint64_t y) -> uint64_t { return x > y; }); break;
            case ExprKind::Lt: combine(l, kl, r, kr, n, [](uint64_t x, uint64_t y) -> uint64_t { return x < y; }); break;
            case ExprKind::Gte: combine(l, kl, r, kr, n, [](uint64_t x, uint64_t y) -> uint64_t { return x >= y; }); break;
            case ExprKind::Lte: combine(l, kl, r, kr, n, [](uint64_t x, uint64_t y) -> uint64_t { return x <= y; }); break;
            case ExprKind::Add: combine(l, kl, r, kr, n, [](uint64_t x, uint64_t y) { return x + y; }); break;
            case ExprKind::Sub: combine(l, kl, r, kr, n, [](uint64_t x, uint64_t y) { return x - y; }); break;
            case ExprKind::BitAnd: combine(l, kl, r, kr, n, [](uint64_t x, uint64_t y) { return x & y; }); break;
            case ExprKind::BitOr: combine(l, kl, r, kr, n, [](uint64_t x, uint64_t y) { return x | y; }); break;
            case ExprKind::BitXor: combine(l, kl, r, kr, n, [](uint64_t x, uint64_t y) { return x ^ y; }); break;
            default: break;
        }
    }
    const uint64_t* v = slot_val(0);
    const uint8_t* kv = slot_known(0);
    for (size_t k = 0; k < n; ++k) truthy[k] = kv[k] && v[k] != 0;
}

}  // namespace quor_core::eval
