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
    uint64_t constant;
};

}  // namespace quor_core::eval
