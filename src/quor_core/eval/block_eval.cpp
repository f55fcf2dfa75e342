#include "eval/block_eval.hpp"

#include <algorithm>

#include "eval/block_range.hpp"
#include "eval/ops.hpp"

namespace quor_core::eval {

namespace {

// Helpers are inlined into the operator functions, so they share their vector clones.
#define QUOR_INLINE __attribute__((always_inline)) inline

// Stack slots never overlap, so the loops may assume their arrays do not alias.
template <typename F>
QUOR_INLINE void map2(uint64_t* __restrict a, const uint64_t* __restrict b, size_t n, F f) {
    for (size_t k = 0; k < n; ++k) a[k] = f(a[k], b[k]);
}

template <typename F>
QUOR_INLINE void map1(uint64_t* __restrict a, uint64_t b, size_t n, F f) {
    for (size_t k = 0; k < n; ++k) a[k] = f(a[k], b);
}

bool is_logic(ExprKind k) { return k == ExprKind::And || k == ExprKind::Or || k == ExprKind::Eq || k == ExprKind::Neq; }

// The numeric operators on two known values; signed_order compares as signed 64-bit numbers.
template <typename Apply>
QUOR_INLINE void numeric(ExprKind kind, bool signed_order, Apply apply) {
    if (signed_order) {
        using S = int64_t;
        switch (kind) {
            case ExprKind::Gt: apply([](uint64_t x, uint64_t y) -> uint64_t { return S(x) > S(y); }); return;
            case ExprKind::Lt: apply([](uint64_t x, uint64_t y) -> uint64_t { return S(x) < S(y); }); return;
            case ExprKind::Gte: apply([](uint64_t x, uint64_t y) -> uint64_t { return S(x) >= S(y); }); return;
            case ExprKind::Lte: apply([](uint64_t x, uint64_t y) -> uint64_t { return S(x) <= S(y); }); return;
            default: break;
        }
    }
    switch (kind) {
        case ExprKind::Gt: apply([](uint64_t x, uint64_t y) -> uint64_t { return x > y; }); break;
        case ExprKind::Lt: apply([](uint64_t x, uint64_t y) -> uint64_t { return x < y; }); break;
        case ExprKind::Gte: apply([](uint64_t x, uint64_t y) -> uint64_t { return x >= y; }); break;
        case ExprKind::Lte: apply([](uint64_t x, uint64_t y) -> uint64_t { return x <= y; }); break;
        case ExprKind::Add: apply([](uint64_t x, uint64_t y) { return x + y; }); break;
        case ExprKind::Sub: apply([](uint64_t x, uint64_t y) { return x - y; }); break;
        case ExprKind::BitAnd: apply([](uint64_t x, uint64_t y) { return x & y; }); break;
        case ExprKind::BitOr: apply([](uint64_t x, uint64_t y) { return x | y; }); break;
        case ExprKind::BitXor: apply([](uint64_t x, uint64_t y) { return x ^ y; }); break;
        default: break;
    }
}

}  // namespace

// The operator loops are compiled twice: for AVX2, whose 64-bit compares vectorise, and for
// the baseline; the loader picks one for the processor at hand.
// ThreadSanitizer's runtime is not ready when the loader runs the clone resolvers, so
// sanitized builds keep the baseline loops only.
#if defined(__SANITIZE_THREAD__)
#define QUOR_VECTOR_CLONES
#else
#define QUOR_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#endif

BlockEvaluator::BlockEvaluator(const CompiledExpr& expr)
    : expr_(expr), val_(expr.max_stack_ * kBlock), known_(expr.max_stack_ * kBlock), slots_(expr.max_stack_) {
    for (size_t d = 0; d < slots_.size(); ++d) {
        slots_[d].val = val_.data() + d * kBlock;
        slots_[d].known = known_.data() + d * kBlock;
    }
}

void BlockEvaluator::materialise(Slot& s, size_t n) {
    if (!s.is_const) return;
    std::fill(s.val, s.val + n, s.scalar);
    s.is_const = false;
}

void BlockEvaluator::need_known(Slot& s, size_t n) {
    if (!s.all_known) return;
    std::fill(s.known, s.known + n, 1);
    s.all_known = false;
}

bool BlockEvaluator::fill_leaf(const CompiledExpr::Leaf& leaf, uint64_t first, size_t n, Slot& s) const {
    s.is_const = false;
    size_t begin = 0, end = 0;
    if (leaf.column) {
        const Int128 length_hi = Int128(leaf.column->length()) - 1 - leaf.offset;  // last i with t < length
        clip_block(leaf.reach.lo, std::min(leaf.reach.hi, length_hi), first, n, begin, end);
    }
    s.all_known = begin == 0 && end == n;
    if (!s.all_known) {
        std::fill(s.known, s.known + n, 0);
        std::fill(s.known + begin, s.known + end, 1);
    }
    if (begin >= end) return true;
    const signal::Column& col = *leaf.column;
    const auto& starts = col.run_starts();
    uint64_t* __restrict val = s.val;
    uint64_t t = static_cast<uint64_t>(Int128(first) + Int128(begin) + leaf.offset);
    size_t run = col.run_of(t);
    if (!col.all_uint()) return fill_mixed(col, t, run, begin, end, n, s);
    if (s.all_known && col.run_end_after(t) - t >= n) {
        // One run covers the block: a constant, as for a signal that rarely changes.
        s.is_const = true;
        s.scalar = col.run_payload(run);
        return true;
    }
    if (starts.size() == 0) {
        std::fill(val + begin, val + end, col.run_payload(0));
        return true;
    }
    if (starts.is_sorted()) {
        // Few runs: each one's stretch of the block filled at once.
        for (size_t k = begin; k < end; ++run) {
            const uint64_t next = col.run_end_after(t);
            const size_t stop = next - t >= end - k ? end : k + static_cast<size_t>(next - t);
            std::fill(val + k, val + stop, col.run_payload(run));
            t += stop - k;
            k = stop;
        }
        return true;
    }
    const auto& bits = starts.bits();
    val[begin] = col.run_payload(run);
    for (size_t k = begin + 1; k < end; ++k) {
        run += bits.test(++t);
        val[k] = col.run_payload(run);
    }
    return true;
}

bool BlockEvaluator::fill_mixed(const signal::Column& col, uint64_t t, size_t run, size_t begin, size_t end, size_t n,
                                Slot& s) const {
    // Runs may hold other kinds: Unknown runs clear the known flag; any other kind (x/z bits,
    // reals, text, wide values) needs the general evaluator.
    need_known(s, n);
    // The index at which the next run starts (past the block when none starts in it).
    uint64_t next = col.run_end_after(t);
    for (size_t k = begin; k < end; ++k, ++t) {
        if (t == next) {
            ++run;
            next = col.run_end_after(t);
        }
        const signal::ValueRef v = col.run_value(run);
        if (v.kind() == signal::ValueKind::Uint) {
            s.val[k] = v.as_uint();
        } else if (v.is_unknown()) {
            s.known[k] = 0;
        } else {
            return false;
        }
    }
    return true;
}

QUOR_VECTOR_CLONES void BlockEvaluator::unary(const CompiledExpr::Instr& in, uint64_t first, size_t n, Slot& s) const {
    switch (in.kind) {
        case ExprKind::RelEval: {
            const auto& r = expr_.reaches_[in.slot];
            size_t begin = 0, end = 0;
            clip_block(r.lo, r.hi, first, n, begin, end);
            if (begin == 0 && end == n) return;
            materialise(s, n);
            need_known(s, n);
            std::fill(s.known, s.known + begin, 0);
            std::fill(s.known + end, s.known + n, 0);
            return;
        }
        case ExprKind::Signed: {
            const uint64_t width = in.info.extend_from;
            if (width == 0 || width >= 64) return;
            if (s.is_const) {
                s.scalar = static_cast<uint64_t>(sign_extend(s.scalar, width));
            } else {
                // sign_extend without a branch: the bits above the width are set where the sign bit is.
                const uint64_t above = ~uint64_t{0} << width;
                const uint64_t shift = width - 1;
                for (size_t k = 0; k < n; ++k) s.val[k] |= (uint64_t{0} - ((s.val[k] >> shift) & 1U)) & above;
            }
            return;
        }
        case ExprKind::Slice:
            if (s.is_const) {
                s.scalar = bit_slice(s.scalar, in.node->high, in.node->low);
            } else {
                const uint64_t high = in.node->high, low = in.node->low;
                for (size_t k = 0; k < n; ++k) s.val[k] = bit_slice(s.val[k], high, low);
            }
            return;
        default: break;
    }
    materialise(s, n);
    uint64_t* __restrict a = s.val;
    const uint64_t* __restrict ka = s.known;
    switch (in.kind) {
        case ExprKind::Not:
            if (s.all_known) {
                for (size_t k = 0; k < n; ++k) a[k] = a[k] == 0;
            } else {
                for (size_t k = 0; k < n; ++k) a[k] = (ka[k] & (a[k] != 0)) ^ 1;
            }
            break;
        case ExprKind::IsX:
            if (s.all_known) {
                std::fill(a, a + n, 0);
            } else {
                for (size_t k = 0; k < n; ++k) a[k] = ka[k] ^ 1;
            }
            break;
        default: std::fill(a, a + n, 0); break;  // IsZ: a two-state value has no z bit
    }
    s.all_known = true;
}

QUOR_VECTOR_CLONES void BlockEvaluator::binary(const CompiledExpr::Instr& in, size_t n, Slot& l, Slot& r) const {
    const ExprKind kind = in.kind;
    const bool signed_order = in.info.signs.left || in.info.signs.right;
    // A constant right operand stays a scalar; a constant on the left is filled.
    materialise(l, n);
    uint64_t* __restrict a = l.val;
    if (r.is_const && !is_logic(kind)) {
        numeric(kind, signed_order, [&](auto f) { map1(a, r.scalar, n, f); });
        return;  // known flags unchanged: the constant is known
    }
    if (r.is_const && (kind == ExprKind::Eq || kind == ExprKind::Neq)) {
        const uint64_t flip = kind == ExprKind::Neq, b = r.scalar;
        if (l.all_known) {
            for (size_t k = 0; k < n; ++k) a[k] = (a[k] == b) ^ flip;
        } else {
            const uint64_t* __restrict ka = l.known;
            for (size_t k = 0; k < n; ++k) a[k] = (ka[k] & (a[k] == b)) ^ flip;
        }
        l.all_known = true;
        return;
    }
    materialise(r, n);
    const uint64_t* __restrict b = r.val;
    const bool both_known = l.all_known && r.all_known;
    if (!is_logic(kind)) {
        numeric(kind, signed_order, [&](auto f) { map2(a, b, n, f); });
        if (both_known) return;
        need_known(l, n);
        need_known(r, n);
        map2(l.known, r.known, n, [](uint64_t x, uint64_t y) { return x & y; });
        return;
    }
    if (!both_known) {
        need_known(l, n);
        need_known(r, n);
    }
    const uint64_t* __restrict ka = l.known;
    const uint64_t* __restrict kb = r.known;
    switch (kind) {
        case ExprKind::And:
        case ExprKind::Or: {
            const bool is_and = kind == ExprKind::And;
            if (both_known) {
                if (is_and) map2(a, b, n, [](uint64_t x, uint64_t y) -> uint64_t { return (x != 0) & (y != 0); });
                else map2(a, b, n, [](uint64_t x, uint64_t y) -> uint64_t { return (x != 0) | (y != 0); });
            } else {
                for (size_t k = 0; k < n; ++k) {
                    const uint64_t x = ka[k] & (a[k] != 0), y = kb[k] & (b[k] != 0);
                    a[k] = is_and ? (x & y) : (x | y);
                }
            }
            break;
        }
        default: {  // Eq, Neq: Unknown equals only Unknown; two Uints compare by value
            const uint64_t flip = kind == ExprKind::Neq;
            if (both_known) {
                for (size_t k = 0; k < n; ++k) a[k] = (a[k] == b[k]) ^ flip;
            } else {
                for (size_t k = 0; k < n; ++k) {
                    a[k] = ((ka[k] & kb[k] & (a[k] == b[k])) | ((ka[k] | kb[k]) ^ 1)) ^ flip;
                }
            }
            break;
        }
    }
    l.all_known = true;
}

QUOR_VECTOR_CLONES bool BlockEvaluator::eval(uint64_t first, size_t n, uint8_t* truthy) {
    size_t depth = 0;
    for (const CompiledExpr::Instr& in : expr_.program_) {
        switch (in.kind) {
            case ExprKind::Signal:
                if (!fill_leaf(expr_.leaves_[in.slot], first, n, slots_[depth++])) return false;
                break;
            case ExprKind::Const:
            case ExprKind::AlwaysTrue: {
                Slot& s = slots_[depth++];
                s.is_const = true;
                s.all_known = true;
                s.scalar = in.constant.as_uint();
                break;
            }
            case ExprKind::RelEval:
            case ExprKind::Not:
            case ExprKind::Slice:
            case ExprKind::Signed:
            case ExprKind::IsX:
            case ExprKind::IsZ: unary(in, first, n, slots_[depth - 1]); break;
            default:
                binary(in, n, slots_[depth - 2], slots_[depth - 1]);
                --depth;
                break;
        }
    }
    Slot& root = slots_[0];
    materialise(root, n);
    const uint64_t* __restrict v = root.val;
    if (root.all_known) {
        for (size_t k = 0; k < n; ++k) truthy[k] = v[k] != 0;
    } else {
        const uint64_t* __restrict kv = root.known;
        for (size_t k = 0; k < n; ++k) truthy[k] = static_cast<uint8_t>(kv[k] & (v[k] != 0));
    }
    return true;
}

}  // namespace quor_core::eval
