#include "signal/values/bitpack.hpp"

#include <algorithm>
#include <type_traits>

#include "util/text.hpp"

namespace quor_core::signal {

void words_from_chunks(std::span<const uint64_t> chunks, uint64_t count, std::vector<uint64_t>& words) {
    words.assign(words_for_bits(count), 0);
    if (chunks.empty() || count == 0) return;
    const size_t m = chunks.size();
    // Chunk k's lowest bit lands at count - 64 (k + 1); the last chunk's at 0.
    for (size_t k = 0; k < m; ++k) {
        const uint64_t low_bit = k + 1 == m ? 0 : count - 64 * (k + 1);
        const size_t w = static_cast<size_t>(low_bit / 64);
        const unsigned s = static_cast<unsigned>(low_bit % 64);
        words[w] |= chunks[k] << s;
        if (s != 0 && w + 1 < words.size()) words[w + 1] |= chunks[k] >> (64 - s);
    }
}

namespace {

bool is_ascii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The value of characters already split into code points (or bytes of ASCII text).
template <typename Char>
SignalValue pack(std::span<const Char> chars) {
    const auto code = [](Char c) { return static_cast<char32_t>(static_cast<std::make_unsigned_t<Char>>(c)); };
    const bool four = std::any_of(chars.begin(), chars.end(), [&](Char c) { return is_four_state_char(code(c)); });
    const size_t n = chars.size();
    if (four) {
        std::vector<uint8_t> bits(n);
        for (size_t i = 0; i < n; ++i) bits[i] = bit_code(code(chars[i]));
        return SignalValue::four_state(std::move(bits));
    }
    const auto one = [&](size_t i) { return static_cast<uint64_t>(classify_bit_char(code(chars[i])) == BitChar::One); };
    if (n <= 64) {
        uint64_t acc = 0;
        for (size_t i = 0; i < n; ++i) acc = (acc << 1) | one(i);
        return SignalValue::uint(acc);
    }
    // The last character is bit 0.
    std::vector<uint64_t> words(words_for_bits(n), 0);
    for (size_t i = 0; i < n; ++i) {
        const size_t bit = n - 1 - i;
        words[bit / 64] |= one(i) << (bit % 64);
    }
    return SignalValue::wide(std::move(words));
}

}  // namespace

SignalValue parse_binary_str(std::string_view text) {
    if (!text.empty() && (text[0] == 'b' || text[0] == 'B')) text.remove_prefix(1);
    if (text.empty()) return SignalValue::unknown();
    if (is_ascii(text)) return pack(std::span<const char>(text.data(), text.size()));
    std::vector<char32_t> chars;
    for (size_t pos = 0; pos < text.size();) chars.push_back(util::next_code_point(text, pos));
    return pack(std::span<const char32_t>(chars));
}

SignalValue parse_binary_str(std::string_view text, uint32_t declared_width) {
    return extend_to_width(parse_binary_str(text), declared_width);
}

SignalValue extend_to_width(SignalValue value, uint32_t declared_width) {
    if (declared_width > kMaxExtendedWidth) return value;
    switch (value.kind()) {
        case ValueKind::Uint: {
            if (declared_width <= 64) return value;
            std::vector<uint64_t> words(words_for_bits(declared_width), 0);
            words[0] = value.as_uint();
            return SignalValue::wide(std::move(words));
        }
        case ValueKind::Wide: {
            const size_t want = words_for_bits(declared_width);
            if (value.as_wide().words.size() >= want) return value;
            std::vector<uint64_t> words = value.as_wide().words;
            words.resize(want, 0);
            return SignalValue::wide(std::move(words));
        }
        case ValueKind::FourState: {
            const std::vector<uint8_t>& bits = value.as_four_state().bits;
            if (bits.empty() || bits.size() >= declared_width) return value;
            const uint8_t first = bits.front();
            const uint8_t fill = first == kBitX || first == kBitZ ? first : kBit0;
            std::vector<uint8_t> extended(declared_width - bits.size(), fill);
            extended.insert(extended.end(), bits.begin(), bits.end());
            return SignalValue::four_state(std::move(extended));
        }
        default: return value;
    }
}

}  // namespace quor_core::signal
