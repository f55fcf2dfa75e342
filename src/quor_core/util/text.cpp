#include "util/text.hpp"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace quor_core::util {

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

bool is_unicode_space(char32_t c) {
    if (c < 0x80) return c == ' ' || (c >= 0x09 && c <= 0x0D);
    return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
           c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

namespace {

bool ascii_space(unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }

// Length of the white-space code point starting at pos, or 0.
size_t space_at(std::string_view s, size_t pos) {
    const auto c = static_cast<unsigned char>(s[pos]);
    if (c < 0x80) return ascii_space(c) ? 1 : 0;
    size_t p = pos;
    const char32_t cp = next_code_point(s, p);
    return cp != 0xFFFD && is_unicode_space(cp) ? p - pos : 0;
}

// Length of the white-space code point ending just before end, or 0.
size_t space_before(std::string_view s, size_t end) {
    const auto c = static_cast<unsigned char>(s[end - 1]);
    if (c < 0x80) return ascii_space(c) ? 1 : 0;
    size_t start = end - 1;
    while (start > 0 && end - start < 4 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) --start;
    size_t p = start;
    const char32_t cp = next_code_point(s, p);
    return p == end && cp != 0xFFFD && is_unicode_space(cp) ? end - start : 0;
}

}  // namespace

std::string_view trim(std::string_view s) {
    size_t b = 0;
    while (b < s.size()) {
        const size_t n = space_at(s, b);
        if (n == 0) break;
        b += n;
    }
    size_t e = s.size();
    while (e > b) {
        const size_t n = space_before(s, e);
        if (n == 0) break;
        e -= n;
    }
    return s.substr(b, e - b);
}

namespace {

// Calls word(token) for each run of non-space characters, in order, until it returns false.
template <typename Word>
void for_each_word(std::string_view s, Word&& word) {
    size_t pos = 0;
    size_t token_start = std::string_view::npos;
    while (pos < s.size()) {
        const size_t n = space_at(s, pos);
        if (n > 0) {
            if (token_start != std::string_view::npos && !word(s.substr(token_start, pos - token_start))) return;
            token_start = std::string_view::npos;
            pos += n;
        } else {
            if (token_start == std::string_view::npos) token_start = pos;
            ++pos;
        }
    }
    if (token_start != std::string_view::npos) word(s.substr(token_start));
}

}  // namespace

std::vector<std::string_view> split_whitespace(std::string_view s) {
    std::vector<std::string_view> out;
    for_each_word(s, [&](std::string_view w) {
        out.push_back(w);
        return true;
    });
    return out;
}

size_t leading_words(std::string_view s, std::span<std::string_view> out) {
    size_t count = 0;
    if (out.empty()) return 0;
    for_each_word(s, [&](std::string_view w) {
        out[count++] = w;
        return count < out.size();
    });
    return count;
}

std::optional<uint64_t> parse_u64(std::string_view s) {
    if (!s.empty() && s[0] == '+') s.remove_prefix(1);
    if (s.empty()) return std::nullopt;
    uint64_t acc = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        const uint64_t d = static_cast<uint64_t>(c - '0');
        if (acc > (UINT64_MAX - d) / 10) return std::nullopt;
        acc = acc * 10 + d;
    }
    return acc;
}

std::optional<uint32_t> parse_u32(std::string_view s) {
    const auto v = parse_u64(s);
    if (!v || *v > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(*v);
}

namespace {

bool iequals(std::string_view a, std::string_view lower) {
    if (a.size() != lower.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != lower[i]) return false;
    }
    return true;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_decimal_number(std::string_view s) {
    size_t i = 0;
    size_t int_digits = 0;
    size_t frac_digits = 0;
    while (i < s.size() && is_digit(s[i])) { ++i; ++int_digits; }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && is_digit(s[i])) { ++i; ++frac_digits; }
    }
    if (int_digits + frac_digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        size_t exp_digits = 0;
        while (i < s.size() && is_digit(s[i])) { ++i; ++exp_digits; }
        if (exp_digits == 0) return false;
    }
    return i == s.size();
}

}  // namespace

std::optional<double> parse_f64(std::string_view s) {
    bool negative = false;
    std::string_view body = s;
    if (!body.empty() && (body[0] == '+' || body[0] == '-')) {
        negative = body[0] == '-';
        body.remove_prefix(1);
    }
    if (iequals(body, "inf") || iequals(body, "infinity")) {
        return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    }
    if (iequals(body, "nan")) {
        return negative ? -std::numeric_limits<double>::quiet_NaN() : std::numeric_limits<double>::quiet_NaN();
    }
    if (!is_decimal_number(body)) return std::nullopt;
    const std::string text(s);
    return std::strtod(text.c_str(), nullptr);
}

bool is_valid_utf8(std::string_view s) {
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        // Skip ASCII eight bytes at a time.
        while (i + 8 <= n) {
            uint64_t w = 0;
            std::memcpy(&w, s.data() + i, 8);
            if (w & 0x8080808080808080ULL) break;
            i += 8;
        }
        if (i >= n) break;
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) { ++i; continue; }
        size_t len = 0;
        char32_t cp = 0;
        if (c >= 0xC2 && c <= 0xDF) { len = 2; cp = c & 0x1F; }
        else if ((c & 0xF0) == 0xE0) { len = 3; cp = c & 0x0F; }
        else if (c >= 0xF0 && c <= 0xF4) { len = 4; cp = c & 0x07; }
        else return false;
        if (i + len > n) return false;
        for (size_t k = 1; k < len; ++k) {
            const auto d = static_cast<unsigned char>(s[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (d & 0x3F);
        }
        if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) {
            return false;
        }
        i += len;
    }
    return true;
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

}  // namespace quor_core::util
