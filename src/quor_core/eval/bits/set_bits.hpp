#pragma once
// The positions of the set bits of a bitmap, written as indices: the last step of every search
// that returns its matches as indices.

#include <cstddef>
#include <cstdint>

namespace quor_core::eval {

// Writes base + k for every set bit k of words[0 .. count) (bit k in word k / 64), ascending,
// from out on, and returns how many it wrote. Between the last of them and out_end it may
// write anything: with room for 64 more it stores eight indices at a time (AVX-512 compress,
// where the processor has it).
size_t write_set_bit_indices(const uint64_t* words, size_t count, uint64_t base, uint64_t* out,
                             const uint64_t* out_end);

// The same, one index at a time (the reference, and the path without room or AVX-512).
size_t write_set_bit_indices_plain(const uint64_t* words, size_t count, uint64_t base, uint64_t* out);

}  // namespace quor_core::eval
