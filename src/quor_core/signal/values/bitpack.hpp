#pragma once
// Packing of bit strings (as written in value changes) into SignalValue.
//
// A bit string may use the nine values of VHDL's std_logic as well as Verilog's four, in either
// case: 0 and L are a 0 bit, 1 and H a 1 bit, Z high impedance, and X, U, W and - an unknown
// bit. Any other character is a 0 bit in a two-state value and an unknown bit in a four-state
// one.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "signal/values/value.hpp"

namespace quor_core::signal {

// What one character of a bit string stands for.
enum class BitChar : uint8_t { Zero, One, X, Z, Other };

constexpr BitChar classify_bit_char(char32_t c) {
    switch (c) {
        case U'0':
        case U'l':
        case U'L': return BitChar::Zero;
        case U'1':
        case U'h':
        case U'H': return BitChar::One;
        case U'z':
        case U'Z': return BitChar::Z;
        case U'x':
        case U'X':
        case U'u':
        case U'U':
        case U'w':
        case U'W':
        case U'-': return BitChar::X;
        default: return BitChar::Other;
    }
}

// Bit code of one character in a four-state value: 0, 1, Z, or X for an unknown bit and for any
// character that is no bit at all.
constexpr uint8_t bit_code(char32_t c) {
    switch (classify_bit_char(c)) {
        case BitChar::Zero: return kBit0;
        case BitChar::One: return kBit1;
        case BitChar::Z: return kBitZ;
        default: return kBitX;
    }
}

// Whether the character makes a bit string four-state (an unknown or high-impedance bit).
constexpr bool is_four_state_char(char32_t c) {
    const BitChar k = classify_bit_char(c);
    return k == BitChar::X || k == BitChar::Z;
}

// A bit string with or without one leading 'b'/'B'. Empty -> Unknown; any unknown or
// high-impedance bit -> FourState (one code per character); otherwise a two-state value of every
// character: Uint for up to 64 characters, Wide (64-bit words, least significant first) beyond.
// The text is UTF-8; a multi-byte character counts as one character.
SignalValue parse_binary_str(std::string_view text);
// The same, then extended to a signal's declared width (extend_to_width).
SignalValue parse_binary_str(std::string_view text, uint32_t declared_width);

// Extends a value written with fewer bits than its signal's declared width, as VCD writers
// intend: a four-state value whose first bit is X or Z repeats that bit on the left, any other
// is extended with 0 bits. A two-state value of a signal wider than 64 bits becomes Wide of
// ceil(width / 64) words, so every two-state value of one signal has one form and equal numbers
// compare identical. A value as long as the width or longer is kept whole; other kinds, a width
// of 0 (not known) and one above kMaxExtendedWidth leave the value as it is.
SignalValue extend_to_width(SignalValue value, uint32_t declared_width);

// The widest declared width values are extended to. A declared width is a number read from a
// file: a few characters ("bx") must not become gigabytes, change after change. Real signals
// this wide are written whole anyway.
inline constexpr uint32_t kMaxExtendedWidth = uint32_t{1} << 16;

// Words of a value of the given number of bits.
constexpr size_t words_for_bits(uint64_t bits) { return static_cast<size_t>((bits + 63) / 64); }

// The two-state value of characters given by count bits, the first character most significant:
// chunks[k] holds characters [64k, 64k + 64) as a number (the last chunk count % 64 of them, or
// 64), so words come out least significant first. Used by readers that gather a long bit string
// 64 characters at a time.
void words_from_chunks(std::span<const uint64_t> chunks, uint64_t count, std::vector<uint64_t>& words);

}  // namespace quor_core::signal
