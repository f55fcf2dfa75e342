#pragma once
// Packing of bit strings (as written in value changes) into SignalValue.

#include <cstdint>
#include <string_view>

#include "signal/value.hpp"

namespace quor_core::signal {

// Bit code of one character: '0' -> 0, '1' -> 1, 'z'/'Z' -> Z, anything else -> X.
constexpr uint8_t bit_code(char32_t c) {
    switch (c) {
        case U'0': return kBit0;
        case U'1': return kBit1;
        case U'z':
        case U'Z': return kBitZ;
        default: return kBitX;
    }
}

// A bit string with or without one leading 'b'/'B'. Empty -> Unknown; any x/X/z/Z -> FourState
// (one code per character); otherwise Uint of the low 64 bits, where only '1' counts as one.
// The text is UTF-8; a multi-byte character counts as one character.
SignalValue parse_binary_str(std::string_view text);

// Decodes one UTF-8 scalar at text[pos], advancing pos. Invalid bytes decode as U+FFFD, one byte each.
char32_t next_code_point(std::string_view text, size_t& pos);

}  // namespace quor_core::signal
