#include "signal/values/value.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>

namespace quor_core::signal {

std::optional<uint64_t> four_state_to_u64(const std::vector<uint8_t>& bits) {
    uint64_t acc = 0;
    for (uint8_t b : bits) {
        if (b > kBit1) return std::nullopt;
    }
    const size_t n = bits.size();
    const size_t first = n > 64 ? n - 64 : 0;
    for (size_t i = first; i < n; ++i) acc = (acc << 1) | bits[i];
    return acc;
}

uint64_t real_to_u64(double v) {
    if (std::isnan(v) || v <= 0.0) return 0;
    if (v >= 18446744073709551616.0) return UINT64_MAX;
    return static_cast<uint64_t>(v);
}

std::optional<uint64_t> text_to_u64(const std::string& text) {
    size_t i = 0;
    if (!text.empty() && text[0] == '+') i = 1;
    if (i >= text.size()) return std::nullopt;
    uint64_t acc = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return std::nullopt;
        const uint64_t d = static_cast<uint64_t>(c - '0');
        if (acc > (UINT64_MAX - d) / 10) return std::nullopt;
        acc = acc * 10 + d;
    }
    return acc;
}

std::string describe(const SignalValue& v) {
    switch (v.kind()) {
        case ValueKind::Uint: return "Uint " + std::to_string(v.as_uint());
        case ValueKind::Wide: {
            std::string s = "Wide [";
            for (size_t i = 0; i < v.as_wide().words.size(); ++i) {
                s += (i ? ", " : "") + std::to_string(v.as_wide().words[i]);
            }
            return s + "]";
        }
        case ValueKind::FourState: {
            std::string s = "FourState ";
            for (const uint8_t b : v.as_four_state().bits) s += "01xz?"[std::min<uint8_t>(b, 4)];
            return s;
        }
        case ValueKind::Real: {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%.17g", v.as_real());
            return std::string("Real ") + buf;
        }
        case ValueKind::Text: return "Text \"" + v.as_text() + "\"";
        case ValueKind::Unknown: return "Unknown";
    }
    return "?";
}

void PrintTo(const SignalValue& v, std::ostream* os) { *os << describe(v); }

std::optional<uint64_t> SignalValue::to_u64() const {
    switch (kind()) {
        case ValueKind::Uint: return as_uint();
        case ValueKind::Wide:
            if (as_wide().words.empty()) return std::nullopt;
            return as_wide().words[0];
        case ValueKind::FourState: return four_state_to_u64(as_four_state().bits);
        case ValueKind::Real: return real_to_u64(as_real());
        case ValueKind::Text: return text_to_u64(as_text());
        case ValueKind::Unknown: return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace quor_core::signal
