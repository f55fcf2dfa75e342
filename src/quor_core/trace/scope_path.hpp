#pragma once
// The open scopes of a hierarchy being read, joined by '.'. Every name after the first follows a
// separator, also after an empty one (["", "x"] is ".x"), and closing a scope cuts its name off
// again, so no path is rebuilt per declaration. Each scope is also known by its parent and its
// own name, so a scope opened again (simulators reopen scopes to dump more of them) is
// recognised without hashing its whole path, which can be long in a deep hierarchy.

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "trace/name_positions.hpp"

namespace quor_core::trace {

class ScopePath {
public:
    // Opens a scope inside the innermost open one; true when it was never open before.
    bool open(std::string_view name);
    // Closing with no scope open does nothing.
    void close() {
        if (open_.empty()) return;
        path_.resize(open_.back().length);
        open_.pop_back();
    }
    const std::string& path() const { return path_; }
    // The length of the full name of a declaration in the innermost open scope.
    size_t name_size(std::string_view leaf) const { return open_.empty() ? leaf.size() : path_.size() + 1 + leaf.size(); }
    // Makes full the full name of a declaration in the innermost open scope.
    void name_into(std::string_view leaf, std::string& full) const {
        full.resize(name_size(leaf));
        char* out = full.data();
        if (!open_.empty()) {
            std::memcpy(out, path_.data(), path_.size());
            out += path_.size();
            *out++ = '.';
        }
        if (!leaf.empty()) std::memcpy(out, leaf.data(), leaf.size());
    }

private:
    struct Open {
        size_t length;  // path_'s length before the scope
        uint32_t node;  // the scope
    };
    std::string path_;
    std::vector<Open> open_;
    // Every scope met, by node - 1: its parent's node and where its name lies in names_.
    struct Node {
        uint32_t parent;
        uint32_t length;
        size_t offset;
    };
    std::string_view name_of(const Node& node) const { return std::string_view(names_).substr(node.offset, node.length); }
    std::vector<Node> nodes_;
    std::string names_;
    NamePositions index_;  // the nodes by parent and name
};

}  // namespace quor_core::trace
