#include "eval/scope.hpp"

#include <algorithm>

namespace quor_core::eval {

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
        if (!name.ends_with(short_name)) continue;
        if (name.size() != short_name.size() && name[name.size() - short_name.size() - 1] != '.') continue;
        if (!name.starts_with(scope)) continue;
        return n;
    }
    return std::nullopt;
}

std::vector<std::string> local_scopes(const trace::Trace& trace, std::string_view scope) {
    std::vector<std::string> out;
    auto add = [&out](std::string child) {
        if (std::find(out.begin(), out.end(), child) == out.end()) out.push_back(std::move(child));
    };
    if (scope.empty()) {
        for (const std::string& s : trace.scopes()) {
            if (s.find('.') == std::string::npos) add(s);
        }
        return out;
    }
    for (const std::string& s : trace.scopes()) {
        const std::string_view path(s);
        if (path.size() <= scope.size() || !path.starts_with(scope) || path[scope.size()] != '.') continue;
        const std::string_view rest = path.substr(scope.size() + 1);
        std::string child(scope);
        child.push_back('.');
        child.append(rest.substr(0, rest.find('.')));
        add(std::move(child));
    }
    return out;
}

std::vector<std::string> local_signals(const trace::Trace& trace, std::string_view scope) {
    std::vector<std::string> out;
    for (const std::string& n : trace.signal_names()) {
        const std::string_view name(n);
        if (scope.empty()) {
            if (name.find('.') == std::string_view::npos) out.push_back(n);
            continue;
        }
        if (name.size() <= scope.size() || !name.starts_with(scope) || name[scope.size()] != '.') continue;
        if (name.substr(scope.size() + 1).find('.') == std::string_view::npos) out.push_back(n);
    }
    return out;
}

}  // namespace quor_core::eval
