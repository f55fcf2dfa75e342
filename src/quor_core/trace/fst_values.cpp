#include "trace/fst_values.hpp"

#include <vector>

#include "fst_container/utf8.hpp"
#include "signal/bitpack.hpp"

namespace quor_core::trace {
namespace {

bool is_four_state_char(char c) {
    switch (c) {
        case '-':
        case 'X':
        case 'Z':
        case 'h':
        case 'l':
        case 'u':
        case 'w':
        case 'x':
        case 'z': return true;
        default: return false;
    }
}

}  // namespace

signal::SignalValue convert_fst_bits(std::string_view bytes) {
    if (bytes.empty()) return signal::SignalValue::unknown();
    bool binary = true;
    for (const char c : bytes) {
        if (is_four_state_char(c)) {
            std::vector<uint8_t> bits;
            bits.reserve(bytes.size());
            for (const char d : bytes) bits.push_back(signal::bit_code(static_cast<unsigned char>(d)));
            return signal::SignalValue::four_state(std::move(bits));
        }
        binary = binary && (c == '0' || c == '1');
    }
    if (!binary) return signal::SignalValue::text(fst_container::utf8_lossy(bytes));
    uint64_t value = 0;
    for (const char c : bytes) value = (value << 1) | static_cast<uint64_t>(c == '1');
    return signal::SignalValue::uint(value);
}

signal::SignalValue convert_fst_text(std::string_view bytes) {
    if (bytes.empty()) return signal::SignalValue::unknown();
    return signal::SignalValue::text(fst_container::utf8_lossy(bytes));
}

}  // namespace quor_core::trace
