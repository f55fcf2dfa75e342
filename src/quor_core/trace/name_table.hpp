#pragma once
// The names of a trace under construction: ids in order of first acceptance, width 1 each.

#include <string>
#include <string_view>

#include "trace/common_trace.hpp"

namespace quor_core::trace {

class NameTable {
public:
    // Adds the name with the next id unless it is known; true when it was added.
    bool add(std::string_view name) {
        if (record_.name_to_id.find(name) != record_.name_to_id.end()) return false;
        const auto id = static_cast<uint32_t>(record_.signal_names.size());
        record_.name_to_id.emplace(std::string(name), id);
        record_.widths.emplace(std::string(name), 1);
        record_.signal_names.emplace_back(name);
        return true;
    }
    bool contains(std::string_view name) const { return record_.name_to_id.find(name) != record_.name_to_id.end(); }
    uint32_t size() const { return static_cast<uint32_t>(record_.signal_names.size()); }
    TraceRecord& record() { return record_; }

private:
    TraceRecord record_;
};

}  // namespace quor_core::trace
