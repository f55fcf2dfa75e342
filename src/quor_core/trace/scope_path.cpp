#include "trace/scope_path.hpp"

#include <cstring>

#include "util/name_path.hpp"

namespace quor_core::trace {

bool ScopePath::open(std::string_view name) {
    const uint32_t parent = open_.empty() ? 0 : open_.back().node;  // node 0 is the top level
    key_.assign(sizeof parent, '\0');
    std::memcpy(key_.data(), &parent, sizeof parent);
    key_ += name;
    const auto [it, added] = nodes_.try_emplace(key_, static_cast<uint32_t>(nodes_.size() + 1));
    open_.push_back({path_.size(), it->second});
    if (open_.size() > 1) path_ += '.';
    util::append_path_element(path_, name);
    return added;
}

}  // namespace quor_core::trace
