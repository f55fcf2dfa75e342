#include "names/lowercase.hpp"

#include <algorithm>

#include "util/text.hpp"

namespace quor_core::eval {

namespace {

// Decodes one UTF-8 sequence at s[i]; returns its length, or 0 when it is not valid UTF-8.
size_t decode(std::string_view s, size_t i, char32_t& cp) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    size_t len = 0;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    if ((b0 & 0xE0) == 0xC0) len = 2, cp = b0 & 0x1F;
    else if ((b0 & 0xF0) == 0xE0) len = 3, cp = b0 & 0x0F;
    else if ((b0 & 0xF8) == 0xF0) len = 4, cp = b0 & 0x07;
    else return 0;
    if (i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

enum class CaseClass { kCased, kIgnorable, kOther };

bool in_ranges(const CodeRange* ranges, size_t count, char32_t cp) {
    const CodeRange* end = ranges + count;
    const CodeRange* r = std::upper_bound(ranges, end, cp, [](char32_t c, const CodeRange& e) { return c < e.first; });
    return r != ranges && cp <= (r - 1)->last;
}

CaseClass case_class(char32_t cp) {
    if (in_ranges(kCaseIgnorableRanges, kCaseIgnorableRangesCount, cp)) return CaseClass::kIgnorable;
    if (in_ranges(kCasedRanges, kCasedRangesCount, cp)) return CaseClass::kCased;
    return CaseClass::kOther;
}

// The code point that ends just before s[end]: its start, or npos when none (or not valid UTF-8).
size_t previous_start(std::string_view s, size_t end, char32_t& cp) {
    for (size_t back = 1; back <= 4 && back <= end; ++back) {
        const size_t start = end - back;
        if ((static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) continue;
        return decode(s, start, cp) == back ? start : std::string_view::npos;
    }
    return std::string_view::npos;
}

// A capital sigma at s[at, after) is final when a cased letter comes before it and none after
// it, case-ignorable code points (marks, apostrophes, full stops ...) skipped on both sides.
bool sigma_is_final(std::string_view s, size_t at, size_t after) {
    char32_t cp = 0;
    bool cased_before = false;
    for (size_t i = at; i > 0;) {
        i = previous_start(s, i, cp);
        if (i == std::string_view::npos) break;
        const CaseClass c = case_class(cp);
        if (c == CaseClass::kIgnorable) continue;
        cased_before = c == CaseClass::kCased;
        break;
    }
    if (!cased_before) return false;
    for (size_t i = after; i < s.size();) {
        const size_t len = decode(s, i, cp);
        if (len == 0) return true;
        const CaseClass c = case_class(cp);
        if (c != CaseClass::kIgnorable) return c != CaseClass::kCased;
        i += len;
    }
    return true;
}

}  // namespace

std::string to_lower_full(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const LowerPair* begin = kLowerPairs;
    const LowerPair* end = kLowerPairs + kLowerPairCount;
    for (size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        const size_t len = decode(text, i, cp);
        if (len == 0) {
            out.push_back(text[i++]);
            continue;
        }
        const size_t at = i;
        i += len;
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp >= 'A' && cp <= 'Z' ? cp + 32 : cp));
            continue;
        }
        if (cp == 0x130) {  // the one code point whose lower case is two
            out += "i\xCC\x87";
            continue;
        }
        if (cp == 0x3A3) {
            util::append_utf8(out, sigma_is_final(text, at, i) ? 0x3C2 : 0x3C3);
            continue;
        }
        const LowerPair* p = std::lower_bound(begin, end, cp, [](const LowerPair& e, char32_t c) { return e.from < c; });
        util::append_utf8(out, p != end && p->from == cp ? p->to : cp);
    }
    return out;
}

}  // namespace quor_core::eval
