#include "trace/fst_values.hpp"

#include <array>
#include <vector>

#include "fst_container/utf8.hpp"
#include "signal/bitpack.hpp"

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
    // Bit k (most significant first) is bit 7 - k % 8 of byte k / 8; the last bit is bit 0.
    const uint32_t n = bits.bits;
    words.assign(signal::words_for_bits(n), 0);
    const uint32_t bytes = (n + 7) / 8;
    const unsigned unused = bytes * 8 - n;  // low bits of the last byte that carry nothing
    // Whole bytes from the last, each shifted down by the unused bits.
    for (uint32_t i = 0; i < bytes; ++i) {
        const uint64_t byte = bits.data[bytes - 1 - i];
        const uint64_t at = uint64_t{8} * i;  // where the byte's bit 0 would land, before the shift
        if (at >= unused) {
            const uint64_t bit = at - unused;
            words[bit / 64] |= byte << (bit % 64);
            if (bit % 64 > 56 && bit / 64 + 1 < words.size()) words[bit / 64 + 1] |= byte >> (64 - bit % 64);
        } else {
            words[0] |= byte >> (unused - at);
        }
    }
}

}  // namespace quor_core::trace
