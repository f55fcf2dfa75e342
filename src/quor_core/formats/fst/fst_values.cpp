#include "formats/fst/fst_values.hpp"

#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "fst_container/utf8.hpp"
#include "signal/values/bitpack.hpp"

namespace quor_core::trace {
namespace {

constexpr std::array<signal::BitChar, 256> char_classes = [] {
    std::array<signal::BitChar, 256> classes{};
    for (size_t c = 0; c < 256; ++c) classes[c] = signal::classify_bit_char(static_cast<char32_t>(c));
    return classes;
}();

}  // namespace

signal::SignalValue convert_fst_bits(std::string_view bytes) {
    if (bytes.empty()) return signal::SignalValue::unknown();
    unsigned seen = 0;  // one bit per BitChar met
    uint64_t value = 0;
    for (const char c : bytes) {
        const signal::BitChar cls = char_classes[static_cast<unsigned char>(c)];
        seen |= 1u << static_cast<unsigned>(cls);
        value = (value << 1) | static_cast<uint64_t>(cls == signal::BitChar::One);
    }
    constexpr unsigned kFourState = 1u << static_cast<unsigned>(signal::BitChar::X) | 1u << static_cast<unsigned>(signal::BitChar::Z);
    if (seen & kFourState) {
        std::vector<uint8_t> bits(bytes.size());
        for (size_t i = 0; i < bytes.size(); ++i) bits[i] = signal::bit_code(static_cast<unsigned char>(bytes[i]));
        return signal::SignalValue::four_state(std::move(bits));
    }
    if (seen & (1u << static_cast<unsigned>(signal::BitChar::Other))) {
        return signal::SignalValue::text(fst_container::utf8_lossy(bytes));
    }
    if (bytes.size() <= 64) return signal::SignalValue::uint(value);
    return signal::parse_binary_str(bytes);
}

signal::SignalValue convert_fst_text(std::string_view bytes) {
    if (bytes.empty()) return signal::SignalValue::unknown();
    return signal::SignalValue::text(fst_container::utf8_lossy(bytes));
}

void words_of_packed(const fst_container::PackedBits& bits, std::vector<uint64_t>& words) {
    // The bytes, most significant first, read as one number eight bytes at a time from the end,
    // then shifted down past the low bits of the last byte that carry nothing.
    const uint32_t n = bits.bits;
    const uint32_t bytes = (n + 7) / 8;
    const unsigned unused = bytes * 8 - n;
    const size_t full = bytes / 8;
    const size_t rest = bytes % 8;
    words.resize(full + (rest ? 1 : 0));
    for (size_t j = 0; j < full; ++j) {
        uint64_t w = 0;
        std::memcpy(&w, bits.data + bytes - 8 * (j + 1), 8);
        if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
        words[j] = w;
    }
    if (rest) {
        uint64_t top = 0;
        for (size_t i = 0; i < rest; ++i) top = (top << 8) | bits.data[i];
        words[full] = top;
    }
    if (unused) {
        for (size_t j = 0; j < words.size(); ++j) {
            const uint64_t above = j + 1 < words.size() ? words[j + 1] << (64 - unused) : 0;
            words[j] = (words[j] >> unused) | above;
        }
    }
}

}  // namespace quor_core::trace
