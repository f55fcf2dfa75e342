#pragma once
// BlockEvaluator: evaluates a CompiledExpr whose constants are Uints over a block of consecutive
// indices at once, as long as the signals hold only Uint or Unknown values in that block. Each value is a number
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
    // False when a signal holds another kind of value there; the block is then left to the
    // general evaluator.
    bool eval(uint64_t first, size_t n, uint8_t* truthy);

private:
    struct Slot {
        uint64_t* val;
        uint64_t* known;   // valid only when !all_known
        bool all_known;
        bool is_const;     // val not filled; the value is scalar
        uint64_t scalar;
    };

    bool fill_leaf(const CompiledExpr::Leaf& leaf, uint64_t first, size_t n, Slot& s) const;
    bool fill_mixed(const signal::Column& col, uint64_t t, size_t run, size_t begin, size_t end, size_t n,
                    Slot& s) const;
    void unary(const CompiledExpr::Instr& in, uint64_t first, size_t n, Slot& s) const;
    void binary(const CompiledExpr::Instr& in, size_t n, Slot& l, Slot& r) const;
    static void materialise(Slot& s, size_t n);     // fills a constant's block
    static void need_known(Slot& s, size_t n);      // fills the flags of an all-known slot

    const CompiledExpr& expr_;
    std::vector<uint64_t> val_;
    std::vector<uint64_t> known_;
    std::vector<Slot> slots_;
};

}  // namespace quor_core::eval
