#pragma once
// SignalValue: the value of one signal at one sample index.

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace quor_core::signal {

// The alternative's position is its tag: Uint 0, Wide 1, FourState 2, Real 3, Text 4, Unknown 5.
enum class ValueKind : uint8_t { Uint = 0, Wide = 1, FourState = 2, Real = 3, Text = 4, Unknown = 5 };

// Bit codes of a FourState value, one byte per bit, most significant bit first.
inline constexpr uint8_t kBit0 = 0;
inline constexpr uint8_t kBit1 = 1;
inline constexpr uint8_t kBitX = 2;
inline constexpr uint8_t kBitZ = 3;

// A two-state value of more than 64 bits: 64-bit words, least significant first.
struct Wide {
    std::vector<uint64_t> words;
    bool operator==(const Wide&) const = default;
};

struct FourState {
    std::vector<uint8_t> bits;
    bool operator==(const FourState&) const = default;
};

struct Unknown {
    bool operator==(const Unknown&) const = default;
};

class SignalValue {
public:
    using Storage = std::variant<uint64_t, Wide, FourState, double, std::string, Unknown>;

    SignalValue() : v_(Unknown{}) {}
    SignalValue(Storage v) : v_(std::move(v)) {}

    static SignalValue uint(uint64_t v) { return SignalValue(Storage(std::in_place_index<0>, v)); }
    static SignalValue wide(std::vector<uint64_t> words) { return SignalValue(Storage(Wide{std::move(words)})); }
    static SignalValue four_state(std::vector<uint8_t> bits) { return SignalValue(Storage(FourState{std::move(bits)})); }
    static SignalValue real(double v) { return SignalValue(Storage(std::in_place_index<3>, v)); }
    static SignalValue text(std::string s) { return SignalValue(Storage(std::in_place_index<4>, std::move(s))); }
    static SignalValue unknown() { return SignalValue(); }

    ValueKind kind() const { return static_cast<ValueKind>(v_.index()); }
    size_t index() const { return v_.index(); }
    bool is_unknown() const { return kind() == ValueKind::Unknown; }

    uint64_t as_uint() const { return std::get<0>(v_); }
    const Wide& as_wide() const { return std::get<1>(v_); }
    const FourState& as_four_state() const { return std::get<2>(v_); }
    double as_real() const { return std::get<3>(v_); }
    const std::string& as_text() const { return std::get<4>(v_); }

    const Storage& storage() const { return v_; }

    // The numeric reading: the value as an unsigned 64-bit integer, or nothing.
    std::optional<uint64_t> to_u64() const;

    // Same alternative and equal payloads; Real compares as floating point (NaN never equal).
    friend bool operator==(const SignalValue& a, const SignalValue& b) { return a.v_ == b.v_; }

private:
    Storage v_;
};

// A readable form of a value for messages: "Uint 5", "Wide [7, 9]" (least significant word
// first), "FourState 1x0z", "Real 1.5", "Text \"go\"", "Unknown".
std::string describe(const SignalValue& v);
// Lets test frameworks print values readably (found by argument-dependent lookup).
void PrintTo(const SignalValue& v, std::ostream* os);

// Numeric readings shared with the column store's views.
std::optional<uint64_t> four_state_to_u64(const std::vector<uint8_t>& bits);
uint64_t real_to_u64(double v);
std::optional<uint64_t> text_to_u64(const std::string& text);

}  // namespace quor_core::signal
