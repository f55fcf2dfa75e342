#include "eval/expr.hpp"

#include <utility>
#include <vector>

namespace quor_core::eval {

namespace {

// Copies one node's own fields, not its children.
void copy_fields(Expr& to, const Expr& from) {
    to.kind = from.kind;
    to.id = from.id;
    to.offset = from.offset;
    to.high = from.high;
    to.low = from.low;
    to.value = from.value;
}

}  // namespace

// Copy and destruction walk the tree with an explicit stack, so a tree nested hundreds of
// thousands of levels deep never overflows the thread's stack.
Expr::Expr(const Expr& other) {
    std::vector<std::pair<Expr*, const Expr*>> work{{this, &other}};
    while (!work.empty()) {
        auto [to, from] = work.back();
        work.pop_back();
        copy_fields(*to, *from);
        if (from->left) {
            to->left = std::make_unique<Expr>();
            work.emplace_back(to->left.get(), from->left.get());
        }
        if (from->right) {
            to->right = std::make_unique<Expr>();
            work.emplace_back(to->right.get(), from->right.get());
        }
    }
}

Expr& Expr::operator=(const Expr& other) {
    if (this != &other) *this = Expr(other);
    return *this;
}

Expr::~Expr() {
    std::vector<std::unique_ptr<Expr>> work;
    if (left) work.push_back(std::move(left));
    if (right) work.push_back(std::move(right));
    while (!work.empty()) {
        std::unique_ptr<Expr> node = std::move(work.back());
        work.pop_back();
        if (node->left) work.push_back(std::move(node->left));
        if (node->right) work.push_back(std::move(node->right));
    }
}

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
    e.left = std::make_unique<Expr>(child);
    return e;
}

Expr Expr::binary(ExprKind kind, const Expr& left, const Expr& right) {
    Expr e;
    e.kind = kind;
    e.left = std::make_unique<Expr>(left);
    e.right = std::make_unique<Expr>(right);
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
