#include "trace/hierarchy_names.hpp"

namespace quor_core::trace {

bool HierarchyNames::spend(uint64_t bytes) {
    if (over_budget_) return false;
    names_ += bytes;
    over_budget_ = names_ > kFreeBytes + kBytesPerInputByte * input_;
    return !over_budget_;
}

void HierarchyNames::open_scope(std::string_view name) {
    // The path is kept up to date even over budget, so later declarations stay in their scopes.
    if (!path_.open(name)) return;
    const std::string& full = path_.path();
    if (!spend(full.size())) return;
    if (!dotted_ && name.find('.') != std::string_view::npos) {
        dotted_ = true;
        for (size_t i = 0; i < scopes_.size(); ++i) {
            scope_index_.insert(NamePositions::hash(scopes_[i]), static_cast<uint32_t>(i));
        }
    }
    if (dotted_) {
        const uint32_t hash = NamePositions::hash(full);
        if (scope_index_.find(full, hash, scopes_)) return;
        scope_index_.insert(hash, static_cast<uint32_t>(scopes_.size()));
    }
    scopes_.push_back(full);
}

bool HierarchyNames::var_name(std::string_view leaf, std::string& full) {
    if (!spend(path_.name_size(leaf))) return false;
    path_.name_into(leaf, full);
    return true;
}

std::string HierarchyNames::budget_message() const {
    return "too deep or its names too long: after " + std::to_string(input_) +
           " bytes of declarations its full scope and signal names would take " + std::to_string(names_) +
           " bytes (at most " + std::to_string(kBytesPerInputByte) + " per byte of declarations, plus " +
           std::to_string(kFreeBytes >> 20) + " MiB)";
}

}  // namespace quor_core::trace
