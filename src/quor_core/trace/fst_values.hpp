#pragma once
// Conversion of the FST reader's values into SignalValue.

#include <string_view>

#include "signal/value.hpp"

namespace quor_core::trace {

// A value of a bit-vector signal, as characters one per bit: empty gives
// Unknown; any of - X Z h l u w x z gives FourState; only 0 and 1 give the
// Uint of the last 64 characters; anything else gives Text.
signal::SignalValue convert_fst_bits(std::string_view bytes);

// A value of a variable-length signal (strings, enumeration literals):
// empty gives Unknown, anything else Text with invalid UTF-8 replaced.
signal::SignalValue convert_fst_text(std::string_view bytes);

}  // namespace quor_core::trace
