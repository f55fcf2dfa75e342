#pragma once
// BitInstr: one step of a compiled expression rewritten over truth values only, for expressions
// that combine comparisons of signals against constants with And, Or, Not and relative
// evaluation. Such an expression is evaluated one bit per index (BitBlockEvaluator).

#include <cstdint>

#include "eval/expr.hpp"

namespace quor_core::eval {

struct BitInstr {
    enum class Op : uint8_t {
        Compare,  // pushes: leaf `slot` compared by `kind` against `constant`
        Fill,     // pushes: `constant` (0 or 1) at every index
        And,
        Or,
        Not,
        Reach,    // clears the top outside the reach `slot` (Unknown there, which is falsy)
    };
    Op op;
    ExprKind kind;      // Compare: Eq, Neq, Gt, Lt, Gte, Lte, or Signal for "nonzero"
    uint32_t slot;
    uint64_t constant;  // Compare: with signed_order, its bits with the top one flipped
    // Compare: the width the leaf's values are sign-extended from (1..63; 0: none), and whether
    // the order is that of signed 64-bit numbers. Both apply the leaf's signed() reading.
    uint8_t extend_from = 0;
    bool signed_order = false;
};

// Flips the top bit: signed 64-bit order becomes unsigned order.
inline constexpr uint64_t kSignFlip = uint64_t{1} << 63;

}  // namespace quor_core::eval
