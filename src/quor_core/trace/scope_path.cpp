#include "trace/scope_path.hpp"

#include "util/name_path.hpp"

namespace quor_core::trace {

bool ScopePath::open(std::string_view name) {
    const uint32_t parent = open_.empty() ? 0 : open_.back().node;  // node 0 is the top level
    const uint32_t hash = NamePositions::hash(name) ^ (parent * 0x9E3779B9u);
    const auto found = index_.find_if(hash, [&](uint32_t position) {
        return nodes_[position].parent == parent && name_of(nodes_[position]) == name;
    });
    uint32_t node = 0;
    if (found) {
        node = *found + 1;
    } else {
        const auto position = static_cast<uint32_t>(nodes_.size());
        nodes_.push_back({parent, static_cast<uint32_t>(name.size()), names_.size()});
        names_ += name;
        index_.insert(hash, position);
        node = position + 1;
    }
    open_.push_back({path_.size(), node});
    if (open_.size() > 1) path_ += '.';
    util::append_path_element(path_, name);
    return !found;
}

}  // namespace quor_core::trace
