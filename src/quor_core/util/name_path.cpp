#include "util/name_path.hpp"

namespace quor_core::util {

namespace {

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Whether an element of the name ends just before at, walking the elements from the start.
bool element_ends_at(std::string_view name, size_t at) {
    for (size_t pos = 0;;) {
        const size_t end = path_element_end(name, pos);
        if (end >= at) return end == at;
        pos = end + 1;
    }
}

}  // namespace

size_t path_element_end(std::string_view name, size_t pos) {
    if (pos >= name.size()) return name.size();
    if (name[pos] != '\\') {
        const size_t dot = name.find('.', pos);
        return dot == std::string_view::npos ? name.size() : dot;
    }
    for (size_t i = pos + 2; i < name.size(); ++i) {
        if (name[i] == '.' && (is_space(name[i - 1]) || name[i - 1] == '\\')) return i;
    }
    return name.size();
}

bool inside_scope(std::string_view name, std::string_view scope) {
    return name.size() > scope.size() && name[scope.size()] == '.' && name.starts_with(scope) &&
           element_ends_at(name, scope.size());
}

bool directly_in_scope(std::string_view name, std::string_view scope) {
    if (scope.empty()) return path_element_end(name, 0) == name.size();
    return inside_scope(name, scope) && path_element_end(name, scope.size() + 1) == name.size();
}

std::string_view child_scope_of(std::string_view name, std::string_view scope) {
    if (scope.empty()) return name.substr(0, path_element_end(name, 0));
    return name.substr(0, path_element_end(name, scope.size() + 1));
}

void append_path_element(std::string& path, std::string_view element) {
    const bool escaped = !element.empty() && element[0] == '\\';
    // An escaped identifier ends at a '.' after white space or a closing backslash.
    const bool whole = escaped ? element.size() >= 2 && (is_space(element.back()) || element.back() == '\\') &&
                                     path_element_end(element, 0) == element.size()
                               : element.find('.') == std::string_view::npos;
    if (whole) {
        path += element;
        return;
    }
    if (!escaped) path += '\\';
    path += element;
    path += ' ';
}

std::string_view without_bit_range(std::string_view name) {
    if (name.empty() || name.back() != ']') return name;
    const size_t open = name.rfind('[');
    if (open == std::string_view::npos || name.substr(open).find(':') == std::string_view::npos) return name;
    size_t end = open;
    while (end > 0 && is_space(name[end - 1])) --end;
    if (end == 0 || name[end - 1] == '.') return name;  // nothing would be left of the last element
    return name.substr(0, end);
}

}  // namespace quor_core::util
