#include "trace/fst_values.hpp"

#include <array>
#include <vector>

#include "fst_container/utf8.hpp"
#include "signal/bitpack.hpp"

namespace quor_core::trace {
namespace {

// What a character makes of a bit string: a 0 or 1 bit, a four-state bit, or text.
enum CharClass : uint8_t { kZero, kOne, kFourState, kOther };

constexpr std::array<uint8_t, 256> char_classes = [] {
    std::array<uint8_t, 256> classes{};
    classes.fill(kOther);
    classes['0'] = kZero;
    classes['1'] = kOne;
    for (const char c : std::string_view("-XZhluwxz")) classes[static_cast<unsigned char>(c)] = kFourState;
    return classes;
}();

}  // namespace

signal::SignalValue convert_fst_bits(std::string_view bytes) {
    if (bytes.empty()) return signal::SignalValue::unknown();
    unsigned seen = 0;  // one bit per CharClass met
    uint64_t value = 0;
    for (const char c : bytes) {
        const uint8_t cls = char_classes[static_cast<unsigned char>(c)];
        seen |= 1u << cls;
        value = (value << 1) | static_cast<uint64_t>(cls == kOne);
    }
    if (seen & (1u << kFourState)) {
        std::vector<uint8_t> bits(bytes.size());
        for (size_t i = 0; i < bytes.size(); ++i) bits[i] = signal::bit_code(static_cast<unsigned char>(bytes[i]));
        return signal::SignalValue::four_state(std::move(bits));
    }
    if (seen & (1u << kOther)) return signal::SignalValue::text(fst_container::utf8_lossy(bytes));
    return signal::SignalValue::uint(value);
}

signal::SignalValue convert_fst_text(std::string_view bytes) {
    if (bytes.empty()) return signal::SignalValue::unknown();
    return signal::SignalValue::text(fst_container::utf8_lossy(bytes));
}

}  // namespace quor_core::trace
