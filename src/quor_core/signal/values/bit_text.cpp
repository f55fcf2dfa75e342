#include "signal/values/bit_text.hpp"

#include <bit>

namespace quor_core::signal {

namespace {

// The words as bits, least significant word first, without the leading zeros (one '0' for zero).
std::string word_bits(const uint64_t* words, size_t count) {
    size_t top = count;
    while (top > 0 && words[top - 1] == 0) --top;
    if (top == 0) return "0";
    const size_t bits = (top - 1) * 64 + (64 - static_cast<size_t>(std::countl_zero(words[top - 1])));
    std::string out(bits, '0');
    for (size_t k = 0; k < bits; ++k) {
        if ((words[k / 64] >> (k % 64)) & 1U) out[bits - 1 - k] = '1';
    }
    return out;
}

std::string extended(std::string bits, uint32_t width, char fill) {
    if (bits.size() < width) bits.insert(0, width - bits.size(), fill);
    return bits;
}

}  // namespace

std::optional<std::string> bit_text(const ValueRef& value, uint32_t width) {
    switch (value.kind()) {
        case ValueKind::Uint: {
            const uint64_t v = value.as_uint();
            return extended(word_bits(&v, 1), width, '0');
        }
        case ValueKind::Wide: {
            const auto words = value.wide_words();
            return extended(word_bits(words.data(), words.size()), width, '0');
        }
        case ValueKind::FourState: {
            static constexpr char kChars[] = {'0', '1', 'x', 'z'};
            const auto& codes = value.heap().as_four_state().bits;
            std::string out;
            out.reserve(codes.size());
            for (const uint8_t c : codes) out.push_back(kChars[c & 3]);
            const char lead = out.empty() ? 'x' : out.front();
            return extended(std::move(out), width, lead == 'x' || lead == 'z' ? lead : '0');
        }
        default: return std::nullopt;
    }
}

}  // namespace quor_core::signal
