#include "bytes/byte_scan.hpp"

#include <algorithm>


namespace quor_core::trace {

size_t find_bytes(Bytes hay, Bytes needle, size_t from) {
    if (needle.empty() || from > hay.size() || needle.size() > hay.size() - from) return kNotFound;
    const auto it = std::search(hay.begin() + static_cast<ptrdiff_t>(from), hay.end(), needle.begin(), needle.end());
    return it == hay.end() ? kNotFound : static_cast<size_t>(it - hay.begin());
}

namespace {

bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool starts_ident(char c) { return is_alpha(c) || c == '_'; }

bool contains_any(std::string_view s, std::string_view chars) {
    return s.find_first_of(chars) != std::string_view::npos;
}

}  // namespace

bool dotted_pieces_ok(std::string_view s) {
    size_t start = 0;
    for (;;) {
        const size_t dot = s.find('.', start);
        const std::string_view piece = s.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        if (piece.empty() || !starts_ident(piece.front())) return false;
        if (dot == std::string_view::npos) return true;
        start = dot + 1;
    }
}

bool fsdb_accepts(std::string_view s) {
    if (s.empty() || !(starts_ident(s.front()) || s.front() == '\\')) return false;
    if (contains_any(s, "/{(") || contains_any(s, "@=+-\\ ")) return false;
    for (const std::string_view bad : {".log", ".tcl", ".fsdb", "simv", "csrc", "daidir"}) {
        if (s.find(bad) != std::string_view::npos) return false;
    }
    for (const char c : s) {
        if (!(is_alpha(c) || is_digit(c) || c == '$' || c == '.' || c == ':' || c == '[' || c == ']' || c == '_')) {
            return false;
        }
    }
    return dotted_pieces_ok(s);
}

bool wlf_accepts(std::string_view s) {
    if (s.size() < 2 || !starts_ident(s.front())) return false;
    if (contains_any(s, "/{(@")) return false;
    return dotted_pieces_ok(s);
}

namespace {

template <typename Accept>
std::vector<std::string> extract(Bytes bytes, Accept accept) {
    std::vector<std::string> out;
    scan_printable_runs(bytes, false, [&](std::string_view run) {
        if (accept(run)) out.emplace_back(run);
    });
    return out;
}

}  // namespace

std::vector<std::string> extract_identifiers_fsdb(Bytes bytes) { return extract(bytes, fsdb_accepts); }
std::vector<std::string> extract_identifiers_wlf(Bytes bytes) { return extract(bytes, wlf_accepts); }


}  // namespace quor_core::trace
