#include "eval/expr.hpp"

#include <stdexcept>
#include <utility>

namespace quor_core::eval {

ExprRef::ExprRef(Expr expr) : node_(new Node(std::move(expr))) {}

ExprRef::ExprRef(const ExprRef& other) noexcept : node_(other.node_) {
    if (node_) node_->refs.fetch_add(1, std::memory_order_relaxed);
}

void ExprRef::release() noexcept {
    Node* node = std::exchange(node_, nullptr);
    if (!node || node->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    // The last reference: free the node and, the same way, each child whose last reference it
    // held, listed through the dying nodes themselves (no recursion, no allocation).
    Node* dying = node;
    while (dying) {
        Node* current = std::exchange(dying, dying->next_dead);
        for (ExprRef* child : {&current->expr.left, &current->expr.right}) {
            Node* c = std::exchange(child->node_, nullptr);
            if (c && c->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
                c->next_dead = dying;
                dying = c;
            }
        }
        delete current;  // its children are detached: nothing recursive is left to free
    }
}

namespace {

uint64_t tree_nodes(uint64_t own, uint64_t left, uint64_t right) {
    // Each count is at most kMaxNodes, so the sum cannot overflow.
    const uint64_t total = own + left + right;
    if (total > Expr::kMaxNodes) {
        throw std::length_error("an expression may have at most 16,777,216 nodes (shared subtrees counted "
                                "wherever they appear)");
    }
    return total;
}

}  // namespace

Expr Expr::signal(uint64_t id) {
    Expr e;
    e.kind = ExprKind::Signal;
    e.id = id;
    return e;
}

Expr Expr::constant(signal::SignalValue value) {
    Expr e;
    e.kind = ExprKind::Const;
    e.value = std::move(value);
    return e;
}

Expr Expr::always_true() { return Expr(); }

Expr Expr::unary(ExprKind kind, const Expr& child) {
    Expr e;
    e.kind = kind;
    e.nodes_ = tree_nodes(1, child.nodes_, 0);
    e.left = ExprRef(child);
    return e;
}

Expr Expr::binary(ExprKind kind, const Expr& left, const Expr& right) {
    Expr e;
    e.kind = kind;
    e.nodes_ = tree_nodes(1, left.nodes_, right.nodes_);
    e.left = ExprRef(left);
    e.right = ExprRef(right);
    return e;
}

Expr Expr::rel_eval(const Expr& child, int64_t offset) {
    Expr e = unary(ExprKind::RelEval, child);
    e.offset = offset;
    return e;
}

Expr Expr::slice(const Expr& child, uint64_t high, uint64_t low) {
    Expr e = unary(ExprKind::Slice, child);
    e.high = high;
    e.low = low;
    return e;
}

}  // namespace quor_core::eval
