#pragma once
// BitBlockEvaluator: evaluates a CompiledExpr made of comparisons of two-state signals against
// constants, joined by And, Or, Not and relative evaluation, over a block of indices as one bit
// per index. Each comparison is made once per run and spread over the run's indices 64 at a
// time; the joins are word-wide bit operations. Unknown values (an Unknown run, a column ended, a
// relative index left the trace) take the truth each operator gives them: false, except under
// Neq and Not. A block reading a run that holds any other kind than Uint or Unknown (x/z bits,
// reals, text, wide values) is left to the general evaluator.

#include <cstdint>
#include <vector>

#include "eval/bits/bit_instr.hpp"
#include "eval/compiled.hpp"

namespace quor_core::eval {

class BitBlockEvaluator {
public:
    static constexpr size_t kBlock = 4096;
    static constexpr size_t kWords = kBlock / 64;

    // The expression rewritten over truth values, or empty when it has another shape.
    static std::vector<BitInstr> translate(const CompiledExpr& expr);

    explicit BitBlockEvaluator(const CompiledExpr& expr);

    // Bit k % 64 of words[k / 64] tells whether index first + k matches (n <= kBlock). Bits past
    // n in the last word are zero. False, with words unspecified, when the block reads a run
    // holding a kind the bits do not cover.
    bool eval(uint64_t first, size_t n, uint64_t* words);

private:
    bool compare(const BitInstr& in, uint64_t first, size_t n, uint64_t* out);

    const CompiledExpr& expr_;
    std::vector<uint64_t> stack_;      // kWords per level
    std::vector<uint64_t> run_flags_;  // per-run flags of one comparison
    std::vector<uint64_t> payloads_;   // the payloads of one comparison's runs, widened
    std::vector<uint64_t> start_words_;  // a window's run-start bits, when a column keeps them sorted
    std::vector<uint64_t> shifted_;    // a comparison's bits before they move to their block position
    bool fast_deposit_;
    bool avx2_;
};

}  // namespace quor_core::eval
