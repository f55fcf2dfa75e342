#include "eval/compiled.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <limits>
#include <numeric>
#include <optional>

#include "eval/bits/bit_block.hpp"
#include "eval/block_eval.hpp"
#include "eval/ops.hpp"
#include "eval/bits/set_bits.hpp"

namespace quor_core::eval {

using signal::ValueRef;

namespace {

struct Context {
    Int128 offset;
    Int128 lo;
    Int128 hi;
    uint32_t reach;  // the reach number of the nearest RelEval above, or kTop
};

constexpr uint32_t kTop = std::numeric_limits<uint32_t>::max();

// Deeper programs would need a block of buffers per level; they take the segment path.
constexpr size_t kMaxBlockStack = 64;

// Bit blocks are cheap even where the expression is constant, so after a run of short segments
// the search stops asking for the next segment before every block: it skips the question for
// 1, 3, 7, ... blocks, at most this many, and asks again.
constexpr uint64_t kMaxUncheckedBlocks = 15;

// A bit block refused for values it does not cover is retried in blocks of this many indices,
// and so are the blocks up to kSmallBitStretch indices on: where such values are frequent, a
// refused large block would cost its evaluation again and again.
constexpr size_t kSmallBitBlock = 512;
constexpr uint64_t kSmallBitStretch = uint64_t{1} << 16;

}  // namespace

CompiledExpr::CompiledExpr(const trace::Trace& trace, const Expr& expr) {
    const Int128 max_index = trace.max_index();
    const Int128 top_hi = std::numeric_limits<uint64_t>::max();
    struct Item {
        const Expr* node;
        Context ctx;
        bool children_done;
    };
    // Post-order with an explicit stack: children first (left before right), then the node.
    std::vector<Item> work{{&expr, Context{0, 0, top_hi, kTop}, false}};
    while (!work.empty()) {
        Item item = work.back();
        work.pop_back();
        const Expr& node = *item.node;
        if (!item.children_done && (node.left || node.right)) {
            work.push_back({item.node, item.ctx, true});
            Context child = item.ctx;
            if (node.kind == ExprKind::RelEval) {
                child.offset += node.offset;
                child.lo = std::max(child.lo, -child.offset);
                child.hi = std::min(child.hi, max_index - child.offset);
                child.reach = static_cast<uint32_t>(reaches_.size());
                reaches_.push_back({child.lo, child.hi});
                // The node's own instruction reads its reach number from the saved context.
                work.back().ctx.reach = child.reach;
            }
            if (node.right) work.push_back({node.right.get(), child, false});
            if (node.left) work.push_back({node.left.get(), child, false});
            continue;
        }
        Instr in{node.kind, 0, &node, ValueRef(), node_info(trace, node)};
        switch (node.kind) {
            case ExprKind::Signal: {
                const signal::Column* col = nullptr;
                if (node.id <= std::numeric_limits<uint32_t>::max()) {
                    col = trace.store().column(static_cast<uint32_t>(node.id));
                    if (col && col->length() == 0) col = nullptr;
                }
                in.slot = static_cast<uint32_t>(leaves_.size());
                leaves_.push_back({col, item.ctx.offset, Reach{item.ctx.lo, item.ctx.hi}});
                break;
            }
            case ExprKind::Const: in.constant = ValueRef::of(node.value); break;
            case ExprKind::AlwaysTrue: in.constant = ValueRef::of_uint(1); break;
            case ExprKind::RelEval: in.slot = item.ctx.reach; break;
            default: break;
        }
        program_.push_back(in);
    }
    // Stack depth and the constants' kinds, for the block evaluator.
    size_t depth = 0;
    blockable_ = true;
    for (const Instr& in : program_) {
        switch (in.kind) {
            case ExprKind::Signal: ++depth; break;
            case ExprKind::Const:
                if (in.constant.kind() != signal::ValueKind::Uint) blockable_ = false;
                ++depth;
                break;
            case ExprKind::AlwaysTrue: ++depth; break;
            case ExprKind::Signed:
                // The blocks hold 64-bit numbers; signed() of a wider value may be any number.
                if (in.info.extend_from > 64) blockable_ = false;
                break;
            case ExprKind::RelEval:
            case ExprKind::Not:
            case ExprKind::Slice:
            case ExprKind::IsX:
            case ExprKind::IsZ: break;
            default: --depth; break;
        }
        max_stack_ = std::max(max_stack_, depth);
    }
    if (max_stack_ > kMaxBlockStack) blockable_ = false;
    if (blockable_) bit_program_ = BitBlockEvaluator::translate(*this);
}

SegmentScanner::SegmentScanner(const CompiledExpr& expr, uint64_t first, uint64_t last)
    : expr_(expr), pos_(first), stop_(Int128(last) + 1), cursors_(expr.leaves_.size()),
      leaf_values_(expr.leaves_.size()), scratch_(expr.program_.size()) {
    stack_.reserve(expr.program_.size());
}

bool SegmentScanner::next(uint64_t& begin, uint64_t& end, bool& matched) {
    if (pos_ >= stop_) return false;
    const Int128 i = pos_;
    Int128 next = stop_;
    for (const auto& r : expr_.reaches_) {
        if (i < r.lo) next = std::min(next, r.lo);
        else if (i <= r.hi) next = std::min(next, r.hi + 1);
    }
    for (size_t k = 0; k < expr_.leaves_.size(); ++k) {
        const CompiledExpr::Leaf& leaf = expr_.leaves_[k];
        leaf_values_[k] = ValueRef();
        if (!leaf.column || i < leaf.reach.lo || i > leaf.reach.hi) continue;
        const auto t = static_cast<uint64_t>(i + leaf.offset);
        if (t >= leaf.column->length()) continue;  // Unknown from here on
        Cursor& c = cursors_[k];
        if (!c.valid || t > c.run_end) {
            c.run = leaf.column->run_of(t);
            c.valid = true;
            c.run_end = leaf.column->run_end_after(t);
        } else if (t == c.run_end) {
            ++c.run;
            c.run_end = leaf.column->run_end_after(t);
        }
        leaf_values_[k] = leaf.column->run_value(c.run);
        next = std::min(next, Int128(c.run_end) - leaf.offset);
    }
    stack_.clear();
    for (size_t pc = 0; pc < expr_.program_.size(); ++pc) {
        const CompiledExpr::Instr& in = expr_.program_[pc];
        switch (in.kind) {
            case ExprKind::Signal: stack_.push_back(leaf_values_[in.slot]); break;
            case ExprKind::Const:
            case ExprKind::AlwaysTrue: stack_.push_back(in.constant); break;
            case ExprKind::RelEval: {
                const auto& r = expr_.reaches_[in.slot];
                if (i < r.lo || i > r.hi) stack_.back() = ValueRef();
                break;
            }
            case ExprKind::Not:
            case ExprKind::Slice:
            case ExprKind::Signed:
            case ExprKind::IsX:
            case ExprKind::IsZ: stack_.back() = apply_unary(*in.node, in.info, stack_.back(), scratch_[pc]); break;
            default: {
                const ValueRef right = stack_.back();
                stack_.pop_back();
                stack_.back() = apply_binary(in.kind, in.info, stack_.back(), right);
                break;
            }
        }
    }
    matched = stack_.back().truthy();
    begin = static_cast<uint64_t>(i);
    end = static_cast<uint64_t>(next);
    pos_ = next;
    return true;
}

// Steps segment by segment; where segments are shorter than a block, evaluates a whole block
// at once instead when a block evaluator can. sink.range(begin, end) gets matching ranges,
// sink.block(first, n, truthy) a block's flags, sink.bits(first, n, words) a block's bits.
template <typename Sink>
void CompiledExpr::scan(uint64_t first, uint64_t last, Sink&& sink) const {
    SegmentScanner segments(*this, first, last);
    std::optional<BitBlockEvaluator> bits;
    std::optional<BlockEvaluator> block;
    if (!bit_program_.empty()) bits.emplace(*this);
    else if (blockable_) block.emplace(*this);
    std::vector<uint8_t> truthy(block ? BlockEvaluator::kBlock : 0);
    std::array<uint64_t, BitBlockEvaluator::kWords> words{};
    uint64_t unchecked = 0;  // bit blocks to evaluate before asking for the next segment again
    uint64_t backoff = 0;
    uint64_t pos = first;
    uint64_t b = 0, e = 0;
    bool m = false;
    const size_t full_block = bits ? BitBlockEvaluator::kBlock : BlockEvaluator::kBlock;
    size_t block_size = full_block;
    uint64_t small_until = 0;  // bit blocks are small before this index, after one was refused
    while (pos <= last) {
        if (pos >= small_until) block_size = full_block;
        const size_t n = static_cast<size_t>(std::min<uint64_t>(block_size - 1, last - pos) + 1);
        const bool at_pos = unchecked == 0;  // segments hold the one starting at pos
        if (at_pos) {
            segments.seek(pos);
            segments.next(b, e, m);
            if ((!block && !bits) || e - b >= block_size) {
                backoff = 0;
                if (m) sink.range(b, e);
                if (e > last) return;
                pos = e;
                continue;
            }
            if (bits) {
                backoff = std::min(2 * backoff + 1, kMaxUncheckedBlocks);
                unchecked = backoff + 1;
            }
        }
        if (bits) {
            --unchecked;
            if (bits->eval(pos, n, words.data())) {
                sink.bits(pos, n, words.data());
                if (last - pos < n) return;
                pos += n;
                continue;
            }
            if (n > kSmallBitBlock) {
                // Smaller blocks over this stretch keep the bit path wherever the values that
                // refused it are not.
                block_size = kSmallBitBlock;
                small_until = pos + kSmallBitStretch;
                continue;
            }
            if (!at_pos) {
                segments.seek(pos);
                segments.next(b, e, m);
            }
        } else if (block->eval(pos, n, truthy.data())) {
            sink.block(pos, n, truthy.data());
            if (last - pos < n) return;
            pos += n;
            continue;
        }
        // Values the block evaluators do not take: step this stretch segment by segment.
        const uint64_t stop = pos + (n - 1);
        while (true) {
            if (m) sink.range(b, e);
            if (e > stop) break;
            segments.next(b, e, m);
        }
        if (e > last) return;
        pos = e;
    }
}

uint64_t CompiledExpr::count(uint64_t first, uint64_t last) const {
    struct Counter {
        uint64_t n = 0;
        void range(uint64_t b, uint64_t e) { n += e - b; }
        void block(uint64_t, size_t count, const uint8_t* truthy) {
            for (size_t k = 0; k < count; ++k) n += truthy[k];
        }
        void bits(uint64_t, size_t count, const uint64_t* words) {
            for (size_t w = 0; w * 64 < count; ++w) n += static_cast<uint64_t>(std::popcount(words[w]));
        }
    } counter;
    scan(first, last, counter);
    return counter.n;
}

namespace {

// Appends matching indices to a vector or a PodBuffer.
template <typename Out>
struct Collector {
    Out& out;
    void range(uint64_t b, uint64_t e) {
        const size_t base = out.size();
        out.resize(base + static_cast<size_t>(e - b));
        std::iota(out.data() + base, out.data() + out.size(), b);
    }
    void block(uint64_t first, size_t count, const uint8_t* truthy) {
        // Writes every index and advances only past matches: no branch per index.
        const size_t base = out.size();
        out.resize(base + count);
        uint64_t* dst = out.data() + base;
        size_t kept = 0;
        for (size_t k = 0; k < count; ++k) {
            dst[kept] = first + k;
            kept += truthy[k];
        }
        out.resize(base + kept);
    }
    void bits(uint64_t first, size_t count, const uint64_t* words) {
        const size_t word_count = (count + 63) / 64;
        size_t total = 0;
        for (size_t w = 0; w < word_count; ++w) total += static_cast<size_t>(std::popcount(words[w]));
        const size_t base = out.size();
        out.resize(base + total);
        write_set_bit_indices(words, word_count, first, out.data() + base, room_end(out));
    }
    // Where writing must stop: a vector's last element; a PodBuffer's room beyond it is free to
    // scribble on.
    static const uint64_t* room_end(const std::vector<uint64_t>& v) { return v.data() + v.size(); }
    static const uint64_t* room_end(const util::PodBuffer<uint64_t>& b) { return b.data() + b.capacity(); }
};

// Marks the matches in a bitmap over all indices (bit i in word i / 64). Writes only the words
// that hold bits of the indices it is given, and a word only where it sets a bit.
struct Marker {
    uint64_t* marks;
    uint64_t n = 0;
    void set(uint64_t i) { marks[i >> 6] |= uint64_t{1} << (i & 63); }
    void range(uint64_t b, uint64_t e) {
        n += e - b;
        for (; b < e && (b & 63) != 0; ++b) set(b);
        for (; b + 64 <= e; b += 64) marks[b >> 6] = ~uint64_t{0};
        for (; b < e; ++b) set(b);
    }
    void block(uint64_t first, size_t count, const uint8_t* truthy) {
        for (size_t k = 0; k < count; ++k) {
            marks[(first + k) >> 6] |= uint64_t{truthy[k]} << ((first + k) & 63);
            n += truthy[k];
        }
    }
    void bits(uint64_t first, size_t count, const uint64_t* words) {
        const unsigned shift = first & 63;
        for (size_t w = 0; w * 64 < count; ++w) {
            const uint64_t x = words[w];
            if (x == 0) continue;
            n += static_cast<uint64_t>(std::popcount(x));
            const uint64_t at = (first >> 6) + w;
            marks[at] |= x << shift;
            // The bits carried into the next word belong to these indices too; a word without
            // any of them may be another thread's.
            if (shift != 0 && (x >> (64 - shift)) != 0) marks[at + 1] |= x >> (64 - shift);
        }
    }
};

}  // namespace

void CompiledExpr::find(uint64_t first, uint64_t last, std::vector<uint64_t>& out) const {
    scan(first, last, Collector<std::vector<uint64_t>>{out});
}

void CompiledExpr::find(uint64_t first, uint64_t last, util::PodBuffer<uint64_t>& out) const {
    scan(first, last, Collector<util::PodBuffer<uint64_t>>{out});
}

uint64_t CompiledExpr::mark(uint64_t first, uint64_t last, uint64_t* marks) const {
    Marker marker{marks};
    scan(first, last, marker);
    return marker.n;
}

}  // namespace quor_core::eval
