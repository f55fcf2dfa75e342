#include "trace/trace.hpp"

#include <algorithm>

namespace quor_core::trace {

uint32_t Trace::signal_width_by_id(uint32_t id) const {
    WidthsById& table = *widths_by_id_;
    std::call_once(table.built, [&] {
        std::vector<std::pair<uint32_t, uint32_t>> widths;  // (id, width), ids may be sparse
        const auto names = signal_names();
        widths.reserve(names.size());
        for (const std::string& name : names) {
            if (const auto sid = signal_id(name)) widths.emplace_back(*sid, signal_width(name));
        }
        // Stable: of the names sharing an id (aliases), the first one's width holds.
        std::stable_sort(widths.begin(), widths.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        widths.erase(std::unique(widths.begin(), widths.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
                     widths.end());
        table.widths = std::move(widths);
    });
    const auto it = std::lower_bound(table.widths.begin(), table.widths.end(), id,
                                     [](const auto& entry, uint32_t key) { return entry.first < key; });
    return it != table.widths.end() && it->first == id ? it->second : 0;
}

}  // namespace quor_core::trace
