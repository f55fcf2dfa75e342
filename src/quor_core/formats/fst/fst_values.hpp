#pragma once
// Conversion of the FST reader's values into SignalValue.

#include <span>
#include <string_view>
#include <vector>

#include "fst_container/change_decoding.hpp"
#include "signal/values/value.hpp"

namespace quor_core::trace {

// A value of a bit-vector signal, as characters one per bit, in nine-valued logic (signal::
// classify_bit_char): empty gives Unknown; any unknown or high-impedance bit gives FourState;
// only 0, 1, L and H give a two-state value of every character (Uint up to 64, Wide beyond);
// anything else gives Text.
signal::SignalValue convert_fst_bits(std::string_view bytes);

// A value of a variable-length signal (strings, enumeration literals):
// empty gives Unknown, anything else Text with invalid UTF-8 replaced.
signal::SignalValue convert_fst_text(std::string_view bytes);

// The words of packed two-state bits, least significant first, into words.
void words_of_packed(const fst_container::PackedBits& bits, std::vector<uint64_t>& words);

}  // namespace quor_core::trace
