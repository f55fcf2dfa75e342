#include "formats/fst/fst_samples.hpp"

#include <algorithm>

namespace quor_core::trace {

FstSamples::FstSamples(std::vector<uint64_t> time_table, std::span<const fst_container::DataSectionInfo> sections) {
    for (const fst_container::DataSectionInfo& section : sections) {
        const uint64_t first = section.time_table_offset;
        if (first == fst_container::kNoTimeIndex || first == 0 || first >= time_table.size()) continue;
        if (time_table[first] != time_table[first - 1]) continue;
        // Blocks without times share their position with the next block: count it once.
        if (merged_.empty() || merged_.back() != first) merged_.push_back(first);
    }
    // Sections come in file order, so their positions ascend; keep the list sorted regardless.
    std::sort(merged_.begin(), merged_.end());
    if (merged_.empty()) {
        times_ = std::move(time_table);
    } else {
        times_.reserve(time_table.size() - merged_.size());
        auto next_merged = merged_.begin();
        for (uint64_t p = 0; p < time_table.size(); ++p) {
            if (next_merged != merged_.end() && *next_merged == p) {
                ++next_merged;
                continue;
            }
            times_.push_back(time_table[p]);
        }
    }
    ascending_ = std::is_sorted(times_.begin(), times_.end());
}

uint64_t FstSamples::index_of_position(uint64_t position) const {
    const auto merged_up_to = std::upper_bound(merged_.begin(), merged_.end(), position) - merged_.begin();
    return position - static_cast<uint64_t>(merged_up_to);
}

uint64_t FstSamples::index_of_time(uint64_t time) const {
    if (ascending_) {
        // The first sample of the time, else the last one before it.
        const auto at = std::lower_bound(times_.begin(), times_.end(), time);
        if (at != times_.end() && *at == time) return static_cast<uint64_t>(at - times_.begin());
        return at == times_.begin() ? 0 : static_cast<uint64_t>(at - times_.begin()) - 1;
    }
    // Times that go back: the first sample of the time, else the latest sample of the largest
    // time below it.
    uint64_t best = 0;
    bool below = false;
    for (uint64_t i = 0; i < times_.size(); ++i) {
        if (times_[i] == time) return i;
        if (times_[i] < time && (!below || times_[i] >= times_[best])) {
            best = i;
            below = true;
        }
    }
    return best;
}

}  // namespace quor_core::trace
