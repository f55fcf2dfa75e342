#pragma once
// BlockEvaluator: evaluates a two-state CompiledExpr (every signal column holds only Uint runs,
// every constant is a Uint) over a block of consecutive indices at once. Each value is a number
// plus a known flag (Unknown where a column ends or a relative index leaves the trace), and
// every operator is a flat loop over the block that the compiler can vectorise. A slot that is
// known everywhere, the common case, carries no flags; a constant carries one number.

#include <cstdint>
#include <vector>

#include "eval/compiled.hpp"

namespace quor_core::eval {

class BlockEvaluator {
public:
    static constexpr size_t kBlock = 512;

    explicit BlockEvaluator(const CompiledExpr& expr);

    // Evaluates first .. first + n - 1 (n <= kBlock); truthy[k] is 1 where index first + k matches.
    void eval(uint64_t first, size_t n, uint8_t* truthy);

private:
    struct Slot {
        uint64_t* val;
        uint64_t* known;   // valid only when !all_known
        bool all_known;
        bool is_const;     // val not filled; the value is scalar
        uint64_t scalar;
    };

    void fill_leaf(const CompiledExpr::Leaf& leaf, uint64_t first, size_t n, Slot& s) const;
    void unary(const CompiledExpr::Instr& in, uint64_t first, size_t n, Slot& s) const;
    void binary(ExprKind kind, size_t n, Slot& l, Slot& r) const;
    static void materialise(Slot& s, size_t n);     // fills a constant's block
    static void need_known(Slot& s, size_t n);      // fills the flags of an all-known slot

    const CompiledExpr& expr_;
    std::vector<uint64_t> val_;
    std::vector<uint64_t> known_;
    std::vector<Slot> slots_;
};

}  // namespace quor_core::eval
