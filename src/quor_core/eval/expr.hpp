#pragma once
// Expr: an expression tree over the signals of a trace, evaluated at one sample index.

#include <cstdint>
#include <memory>

#include "signal/value.hpp"

namespace quor_core::eval {

enum class ExprKind : uint8_t {
    Signal, Const, RelEval, Not, And, Or, Eq, Neq, Gt, Lt, Gte, Lte,
    Add, Sub, BitAnd, BitOr, BitXor, Slice, Signed, IsX, IsZ, AlwaysTrue
};

// A strict tree: every child is owned by its parent; copying copies every node.
class Expr {
public:
    Expr() = default;
    Expr(const Expr& other);
    Expr& operator=(const Expr& other);
    Expr(Expr&&) noexcept = default;
    Expr& operator=(Expr&&) noexcept = default;
    ~Expr();

    static Expr signal(uint64_t id);
    static Expr constant(signal::SignalValue value);
    static Expr always_true();
    static Expr unary(ExprKind kind, const Expr& child);
    static Expr binary(ExprKind kind, const Expr& left, const Expr& right);
    static Expr rel_eval(const Expr& child, int64_t offset);
    static Expr slice(const Expr& child, uint64_t high, uint64_t low);

    ExprKind kind = ExprKind::AlwaysTrue;
    uint64_t id = 0;       // Signal
    int64_t offset = 0;    // RelEval
    uint64_t high = 0;     // Slice
    uint64_t low = 0;      // Slice
    signal::SignalValue value;   // Const
    std::unique_ptr<Expr> left;  // the only child of unary nodes
    std::unique_ptr<Expr> right;
};

}  // namespace quor_core::eval
