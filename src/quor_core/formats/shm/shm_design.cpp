// The record walk over an SHM design file: scope strings and signal names.

#include <cstdio>
#include <optional>
#include <string_view>

#include "formats/shm/shm.hpp"
#include "util/text.hpp"

namespace quor_core::trace::shm {

namespace {

enum class Kind { Other, Scope, Signal };

std::optional<Kind> record_kind(uint32_t sig) {
    switch (sig) {
        case 0x070501:
        case 0x070601:
        case 0x270501: return Kind::Scope;
        case 0x090700:
        case 0x290700: return Kind::Signal;
        case 0x010102:
        case 0x031102:
        case 0x0F0400:
        case 0x020C07:
        case 0x100B02:
        case 0x100B04:
        case 0x100B05:
        case 0x120C0B:
        case 0x140B07: return Kind::Other;
        default: return std::nullopt;
    }
}

bool looks_like_record(uint32_t word) {
    if (record_kind(word)) return true;
    switch (word >> 16) {
        case 0x0002:
        case 0x0007:
        case 0x0009:
        case 0x000F:
        case 0x0010:
        case 0x0014:
        case 0x0027:
        case 0x0029: return true;
        default: return false;
    }
}

// Characters of valid UTF-8 text: every byte that does not continue a sequence.
size_t char_count(std::string_view s) {
    size_t n = 0;
    for (const char c : s) n += (static_cast<uint8_t>(c) & 0xC0) != 0x80 ? 1 : 0;
    return n;
}

}  // namespace

std::vector<std::string> extract_strings(Bytes file, uint64_t start, uint64_t end) {
    std::vector<std::string> out;
    const uint64_t len = file.size();
    const uint64_t limit = std::min(end, len);
    uint64_t i = start;
    while (i < end) {
        if (i >= len || file[i] < 0x20 || file[i] > 0x7E) {
            // Nothing lies past the limit, so the rest of the range can be passed over at once.
            if (i >= limit) break;
            ++i;
            continue;
        }
        uint64_t k = i;
        while (k < limit && file[k] != 0) ++k;
        const std::string_view s(reinterpret_cast<const char*>(file.data() + i), k - i);
        if (!s.empty() && util::is_valid_utf8(s)) out.emplace_back(s);
        i = k + 1;
    }
    return out;
}

bool is_ident(std::string_view s) {
    const auto alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (s.empty() || !(alpha(s[0]) || s[0] == '_')) return false;
    for (const char c : s) {
        const bool ok = alpha(c) || (c >= '0' && c <= '9') || c == '$' || c == '(' || c == ')' || c == '.' ||
                        c == '[' || c == ']' || c == '_';
        if (!ok) return false;
    }
    return true;
}

Result<bool, std::string> read_design(Bytes d, NameTable& names) {
    const uint64_t len = d.size();
    if (len < 128) return false;
    const uint32_t magic = be32(d, 0);
    if (magic != kMagic) {
        char msg[48];
        std::snprintf(msg, sizeof msg, "Bad DSN magic: 0x%08X", magic);
        return make_err(std::string(msg));
    }
    if (len < 140) return true;
    std::vector<std::string>& scopes = names.record().scopes;
    uint64_t p = 128;
    while (p + 4 <= len) {
        const uint32_t sig = be32(d, p);
        if (sig == 0) {
            p += 4;
            if (p + 12 > len) break;
            continue;
        }
        const uint64_t next = be32(d, p + 4);
        const uint64_t strs = be32(d, p + 8);
        const uint64_t start = (p + 12 <= strs && strs <= len) ? strs : p + 12;
        const uint64_t end = (p < next && next <= len) ? next : std::min(p + 256, len);
        const std::optional<Kind> kind = record_kind(sig);
        if (kind == Kind::Scope) {
            for (std::string& s : extract_strings(d, start, end)) {
                if (char_count(s) >= 2) scopes.push_back(std::move(s));
            }
        } else if (kind == Kind::Signal) {
            if (strs != 0 && strs < p && strs < len) {
                // The name lies before the record: take the first new identifier there.
                for (const std::string& s : extract_strings(d, strs, std::min(strs + 64, len))) {
                    if (is_ident(s) && names.add(s)) break;
                }
            } else {
                for (const std::string& s : extract_strings(d, start, end)) {
                    if (is_ident(s)) names.add(s);
                }
            }
        }
        if (p < next && next <= len) {
            p = next;
        } else {
            const uint64_t bound = std::min(p + 1036, len - 12);
            bool found = false;
            for (uint64_t r = p + 12; r < bound; r += 4) {
                if (!fits(d, r, 4)) continue;
                if (looks_like_record(be32(d, r))) {
                    p = r;
                    found = true;
                    break;
                }
            }
            if (!found) break;
        }
        if (p + 12 > len) break;
    }
    return true;
}

}  // namespace quor_core::trace::shm
