#include "names/names.hpp"

#include "names/lowercase.hpp"

namespace quor_core::eval {

bool glob_match(std::string_view pattern, std::string_view name) {
    size_t p = 0, n = 0;
    size_t star = std::string_view::npos;  // pattern position after the last '*'
    size_t star_n = 0;                     // name position that '*' was last restarted from
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = ++p;
            star_n = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (star != std::string_view::npos) {
            p = star;
            n = ++star_n;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::vector<std::string> find_signals_glob(const trace::Trace& trace, std::string_view pattern) {
    std::vector<std::string> out;
    for (const std::string& n : trace.signal_names()) {
        if (glob_match(pattern, n)) out.push_back(n);
    }
    return out;
}

std::vector<std::string> find_signals_containing(const trace::Trace& trace, std::string_view substring) {
    const std::string needle = to_lower_full(substring);
    std::vector<std::string> out;
    for (const std::string& n : trace.signal_names()) {
        if (to_lower_full(n).find(needle) != std::string::npos) out.push_back(n);
    }
    return out;
}

}  // namespace quor_core::eval
