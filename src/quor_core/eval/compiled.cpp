#include "eval/compiled.hpp"

#include <algorithm>
#include <limits>

#include "eval/ops.hpp"

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
        Instr in{node.kind, 0, &node, ValueRef()};
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
}

SegmentScanner::SegmentScanner(const CompiledExpr& expr, uint64_t first, uint64_t last)
    : expr_(expr), pos_(first), stop_(Int128(last) + 1), cursors_(expr.leaves_.size()),
      leaf_values_(expr.leaves_.size()) {
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
    for (const CompiledExpr::Instr& in : expr_.program_) {
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
            case ExprKind::IsZ: stack_.back() = apply_unary(*in.node, stack_.back()); break;
            default: {
                const ValueRef right = stack_.back();
                stack_.pop_back();
                stack_.back() = apply_binary(in.kind, stack_.back(), right);
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

uint64_t CompiledExpr::count(uint64_t first, uint64_t last) const {
    SegmentScanner s(*this, first, last);
    uint64_t n = 0;
    uint64_t b = 0, e = 0;
    bool m = false;
    while (s.next(b, e, m)) {
        if (m) n += e - b;
    }
    return n;
}

void CompiledExpr::find(uint64_t first, uint64_t last, std::vector<uint64_t>& out) const {
    SegmentScanner s(*this, first, last);
    uint64_t b = 0, e = 0;
    bool m = false;
    while (s.next(b, e, m)) {
        if (!m) continue;
        for (uint64_t k = b; k < e; ++k) out.push_back(k);
    }
}

}  // namespace quor_core::eval
