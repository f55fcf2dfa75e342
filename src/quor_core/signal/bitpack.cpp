#include "signal/bitpack.hpp"

#include <vector>

namespace quor_core::signal {

char32_t next_code_point(std::string_view text, size_t& pos) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    size_t len = 0;
    char32_t cp = 0;
    if ((lead & 0xE0) == 0xC0) { len = 2; cp = lead & 0x1F; }
    else if ((lead & 0xF0) == 0xE0) { len = 3; cp = lead & 0x0F; }
    else if ((lead & 0xF8) == 0xF0) { len = 4; cp = lead & 0x07; }
    if (len == 0 || pos + len > text.size()) {
        ++pos;
        return 0xFFFD;
    }
    for (size_t k = 1; k < len; ++k) {
        const unsigned char c = byte(pos + k);
        if ((c & 0xC0) != 0x80) {
            ++pos;
            return 0xFFFD;
        }
        cp = (cp << 6) | (c & 0x3F);
    }
    pos += len;
    return cp;
}

namespace {

bool is_ascii(std::string_view s) {
    for (char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

bool selects_four_state(char c) { return c == 'x' || c == 'X' || c == 'z' || c == 'Z'; }

SignalValue parse_ascii(std::string_view s) {
    uint64_t acc = 0;
    for (char c : s) {
        if (selects_four_state(c)) {
            std::vector<uint8_t> bits(s.size());
            for (size_t i = 0; i < s.size(); ++i) bits[i] = bit_code(static_cast<unsigned char>(s[i]));
            return SignalValue::four_state(std::move(bits));
        }
        acc = (acc << 1) | static_cast<uint64_t>(c == '1');
    }
    return SignalValue::uint(acc);
}

SignalValue parse_unicode(std::string_view s) {
    std::vector<char32_t> chars;
    for (size_t pos = 0; pos < s.size();) chars.push_back(next_code_point(s, pos));
    bool four = false;
    for (char32_t c : chars) four = four || c == U'x' || c == U'X' || c == U'z' || c == U'Z';
    if (four) {
        std::vector<uint8_t> bits;
        bits.reserve(chars.size());
        for (char32_t c : chars) bits.push_back(bit_code(c));
        return SignalValue::four_state(std::move(bits));
    }
    uint64_t acc = 0;
    for (char32_t c : chars) acc = (acc << 1) | static_cast<uint64_t>(c == U'1');
    return SignalValue::uint(acc);
}

}  // namespace

SignalValue parse_binary_str(std::string_view text) {
    if (!text.empty() && (text[0] == 'b' || text[0] == 'B')) text.remove_prefix(1);
    if (text.empty()) return SignalValue::unknown();
    return is_ascii(text) ? parse_ascii(text) : parse_unicode(text);
}

}  // namespace quor_core::signal
