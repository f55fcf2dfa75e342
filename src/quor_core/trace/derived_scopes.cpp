#include "trace/derived_scopes.hpp"

#include <algorithm>

#include "trace/hierarchy_names.hpp"
#include "trace/scope_path.hpp"
#include "util/name_path.hpp"

namespace quor_core::trace {

std::vector<std::string> derive_scopes(const std::vector<std::string>& names) {
    uint64_t input = 0;
    for (const std::string& name : names) input += name.size();
    const uint64_t budget = HierarchyNames::kFreeBytes + HierarchyNames::kBytesPerInputByte * input;
    uint64_t spent = 0;
    // Scopes are known by their parent and their own element (ScopePath), so the work per name
    // grows with its length, not with the square of its depth; only new scopes are written out.
    ScopePath path;
    std::vector<std::string> scopes;
    for (const std::string& name : names) {
        // Every scope on the name's path; an escaped identifier is one element, dots and all.
        size_t depth = 0;
        for (size_t pos = 0, end = util::path_element_end(name, 0); end < name.size();
             pos = end + 1, end = util::path_element_end(name, pos)) {
            ++depth;
            if (!path.open(std::string_view(name).substr(pos, end - pos))) continue;
            spent += end;
            if (spent > budget) break;
            scopes.emplace_back(name, 0, end);
        }
        while (depth-- > 0) path.close();
        if (spent > budget) break;  // the deeper scopes of a pathological name are not listed
    }
    std::sort(scopes.begin(), scopes.end());
    return scopes;
}

}  // namespace quor_core::trace
