#pragma once
// The open scopes of a hierarchy being read, joined by '.'. Every name after the first follows a
// separator, also after an empty one (["", "x"] is ".x"), and closing a scope cuts its name off
// again, so no path is rebuilt per declaration.

#include <string>
#include <string_view>
#include <vector>

namespace quor_core::trace {

class ScopePath {
public:
    void open(std::string_view name) {
        lengths_.push_back(path_.size());
        if (lengths_.size() > 1) path_ += '.';
        path_ += name;
    }
    // Closing with no scope open does nothing.
    void close() {
        if (lengths_.empty()) return;
        path_.resize(lengths_.back());
        lengths_.pop_back();
    }
    const std::string& path() const { return path_; }
    // The full name of a declaration in the innermost open scope.
    std::string name_of(std::string_view leaf) const {
        std::string full;
        full.reserve(path_.size() + 1 + leaf.size());
        if (!lengths_.empty()) {
            full = path_;
            full += '.';
        }
        full += leaf;
        return full;
    }

private:
    std::string path_;
    std::vector<size_t> lengths_;  // path_'s length before each open scope
};

}  // namespace quor_core::trace
