#pragma once
// BlockEvaluator: evaluates a two-state CompiledExpr (every signal column holds only Uint runs,
// every constant is a Uint) over a block of consecutive indices at once. Each value is a number
// plus a known flag (Unknown where a column ends or a relative index leaves the trace), and
// every operator is a flat loop over the block that the compiler can vectorise.

#include <cstdint>
#include <vector>

#include "eval/compiled.hpp"

namespace quor_core::eval {

class BlockEvaluator {
public:
    static constexpr size_t kBlock = 1024;

    explicit BlockEvaluator(const CompiledExpr& expr);

    // Evaluates first .. first + n - 1 (n <= kBlock); truthy[k] is 1 where index first + k matches.
    void eval(uint64_t first, size_t n, uint8_t* truthy);

private:
    void fill_leaf(const CompiledExpr::Leaf& leaf, uint64_t first, size_t n, uint64_t* val, uint8_t* known) const;

    const CompiledExpr& expr_;
    std::vector<uint64_t> val_;   // one block per stack slot
    std::vector<uint8_t> known_;
};

}  // namespace quor_core::eval
