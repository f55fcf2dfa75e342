#pragma once
// Expr: an expression tree over the signals of a trace, evaluated at one sample index.

#include <atomic>
#include <cstdint>
#include <utility>

#include "signal/values/value.hpp"

namespace quor_core::eval {

enum class ExprKind : uint8_t {
    Signal, Const, RelEval, Not, And, Or, Eq, Neq, Gt, Lt, Gte, Lte,
    Add, Sub, BitAnd, BitOr, BitXor, Slice, Signed, IsX, IsZ, AlwaysTrue
};

class Expr;

// A child of an expression node: a counted reference to an immutable node. Trees share their
// subtrees, so combining two expressions makes one node whatever their sizes, and a chain of
// n builders costs n nodes, not n squared. Dropping the last reference to a chain hundreds of
// thousands of nodes deep frees it without recursion.
class ExprRef {
public:
    ExprRef() = default;
    // A new shared node holding expr.
    explicit ExprRef(Expr expr);
    ExprRef(const ExprRef& other) noexcept;
    ExprRef(ExprRef&& other) noexcept : node_(std::exchange(other.node_, nullptr)) {}
    ExprRef& operator=(ExprRef other) noexcept {
        std::swap(node_, other.node_);
        return *this;
    }
    ~ExprRef() { release(); }

    inline const Expr* get() const noexcept;
    const Expr& operator*() const noexcept { return *get(); }
    const Expr* operator->() const noexcept { return get(); }
    explicit operator bool() const noexcept { return node_ != nullptr; }

private:
    struct Node;
    void release() noexcept;
    Node* node_ = nullptr;
};

// A node and, through its children, a tree. Nodes below the root are shared and never change;
// copying an Expr copies the root's fields and shares its children.
class Expr {
public:
    // Trees of more nodes than this (counting a shared subtree once per place it appears) are
    // refused with std::length_error: sharing lets a few builders describe a tree of 2^64
    // nodes, which no search could walk.
    static constexpr uint64_t kMaxNodes = uint64_t{1} << 24;

    static Expr signal(uint64_t id);
    static Expr constant(signal::SignalValue value);
    static Expr always_true();
    static Expr unary(ExprKind kind, const Expr& child);
    static Expr binary(ExprKind kind, const Expr& left, const Expr& right);
    static Expr rel_eval(const Expr& child, int64_t offset);
    static Expr slice(const Expr& child, uint64_t high, uint64_t low);

    // The nodes of the tree this node is the root of, as evaluation visits them.
    uint64_t nodes() const { return nodes_; }

    ExprKind kind = ExprKind::AlwaysTrue;
    uint64_t id = 0;       // Signal
    int64_t offset = 0;    // RelEval
    uint64_t high = 0;     // Slice
    uint64_t low = 0;      // Slice
    signal::SignalValue value;  // Const
    ExprRef left;  // the only child of unary nodes
    ExprRef right;

private:
    uint64_t nodes_ = 1;
};

struct ExprRef::Node {
    explicit Node(Expr e) : expr(std::move(e)) {}
    Expr expr;
    std::atomic<uint64_t> refs{1};
    Node* next_dead = nullptr;  // links nodes being freed
};

const Expr* ExprRef::get() const noexcept { return node_ ? &node_->expr : nullptr; }

}  // namespace quor_core::eval
