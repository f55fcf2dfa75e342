#pragma once
// Turning a column's runs into one bit per index. A comparison against a constant is evaluated
// once per run (pack_run_flags), and the per-run flags are spread over the indices each run
// covers, 64 indices at a time (expand_run_flags): inside a word, the flag changes only at run
// starts, so depositing the flag changes onto the run-start bits and taking a prefix xor gives
// every index's flag without visiting the indices one by one.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "eval/expr.hpp"
#include "signal/column.hpp"

namespace quor_core::eval {

// Word count a flag array of `bits` bits occupies.
constexpr size_t words_for(size_t bits) { return (bits + 63) / 64; }

// The 64 bits of words starting at bit pos; bits past words[word_count - 1] read as zero.
inline uint64_t bits_at(const uint64_t* words, size_t word_count, uint64_t pos) {
    const uint64_t w = pos >> 6;
    if (w >= word_count) return 0;
    const unsigned s = pos & 63;
    if (s == 0) return words[w];
    const uint64_t next = w + 1 < word_count ? words[w + 1] : 0;
    return (words[w] >> s) | (next << (64 - s));
}

// Ones in bits 0..k-1 (k <= 64).
inline uint64_t low_bits(size_t k) { return k >= 64 ? ~uint64_t{0} : (uint64_t{1} << k) - 1; }

// Bit i of the result: the xor of bits 0..i of x.
inline uint64_t prefix_xor(uint64_t x) {
    x ^= x << 1;
    x ^= x << 2;
    x ^= x << 4;
    x ^= x << 8;
    x ^= x << 16;
    x ^= x << 32;
    return x;
}

// Scatters the low bits of src, in order, to the positions of the set bits of mask.
uint64_t deposit_portable(uint64_t src, uint64_t mask);

// Whether this processor has the AVX2 instructions.
bool avx2_available();

// Whether this processor deposits bits and multiplies without carries in fast instructions.
bool fast_deposit_available();

// A comparison of a run's payload against a constant: Eq, Neq, Gt, Lt, Gte, Lte, or Signal
// for "nonzero".
struct RunTest {
    ExprKind kind;
    uint64_t constant;
};

// flags[q / 64] bit q % 64 = test(payloads[q]) for q < count; the bits after count in the last
// word are zero. avx2 selects the processor's vector instructions (only when avx2_available()).
void pack_run_flags(const uint64_t* payloads, size_t count, RunTest test, uint64_t* flags, bool avx2);
// The same for payloads stored in one byte each; test.constant must be at most 0xFF.
void pack_run_flags_bytes(const uint8_t* payloads, size_t count, RunTest test, uint64_t* flags, bool avx2);

// Gives the Unknown runs among kinds[0..count) (ValueKind bytes) the flag `unknown` in flags,
// whatever their payload compared to. False when a run holds another kind than Uint or Unknown:
// such a run's comparison is left to the general evaluator.
bool patch_unknown_runs(const uint8_t* kinds, size_t count, bool unknown, uint64_t* flags);

// Words after a run flag array that expand_run_flags reads (whatever they hold): it reads the
// flags 64 at a time from any bit position without a bounds check per word.
inline constexpr size_t kRunFlagSlack = 2;

// For a column with two runs or more: bit k of out (k < len) is the flag of the run
// holding index t0 + k, where run_flags bit q is the flag of run first_run + q and first_run
// is the run holding t0. run_flags holds words_for(runs) words, runs being the number of runs
// the window touches, and kRunFlagSlack readable words after them. Bits past len in the last
// word are zero. fast_deposit selects the processor's instructions for both (only when
// fast_deposit_available()).
void expand_run_flags(const signal::RankBits& starts, uint64_t t0, size_t len, const uint64_t* run_flags,
                      uint64_t* out, bool fast_deposit);
// The same for a column's run starts in either form; scratch holds the window's start bits
// when the starts are kept sorted.
void expand_run_flags(const signal::RunStarts& starts, uint64_t t0, size_t len, const uint64_t* run_flags,
                      uint64_t* out, bool fast_deposit, std::vector<uint64_t>& scratch);

}  // namespace quor_core::eval
