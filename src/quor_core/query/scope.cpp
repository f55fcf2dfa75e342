#include "query/scope.hpp"

#include <algorithm>

#include "util/name_path.hpp"

namespace quor_core::eval {

namespace {

// Whether the name ends with the short name as whole elements (or is it).
bool ends_with_elements(std::string_view name, std::string_view short_name) {
    if (!name.ends_with(short_name)) return false;
    if (name.size() == short_name.size()) return true;
    const size_t dot = name.size() - short_name.size() - 1;
    return name[dot] == '.' && util::inside_scope(name, name.substr(0, dot));
}

}  // namespace

std::optional<std::string> resolve(const trace::Trace& trace, std::string_view scope, std::string_view short_name) {
    std::string candidate;
    if (!scope.empty()) {
        candidate.append(scope);
        candidate.push_back('.');
    }
    candidate.append(short_name);
    if (trace.signal_id(candidate)) return candidate;
    for (const std::string& n : trace.signal_names()) {
        const std::string_view name(n);
        if (!name.starts_with(scope)) continue;
        // A name that keeps its bit range ("cnt [7:0]") is also found by the name without it.
        if (ends_with_elements(name, short_name) || ends_with_elements(util::without_bit_range(name), short_name)) {
            return n;
        }
    }
    return std::nullopt;
}

std::vector<std::string> local_scopes(const trace::Trace& trace, std::string_view scope) {
    std::vector<std::string> out;
    auto add = [&out](std::string_view child) {
        if (std::find(out.begin(), out.end(), child) == out.end()) out.emplace_back(child);
    };
    for (const std::string& s : trace.scopes()) {
        if (scope.empty() ? util::directly_in_scope(s, scope) : util::inside_scope(s, scope)) {
            add(util::child_scope_of(s, scope));
        }
    }
    return out;
}

std::vector<std::string> local_signals(const trace::Trace& trace, std::string_view scope) {
    std::vector<std::string> out;
    for (const std::string& n : trace.signal_names()) {
        if (util::directly_in_scope(n, scope)) out.push_back(n);
    }
    return out;
}

}  // namespace quor_core::eval
