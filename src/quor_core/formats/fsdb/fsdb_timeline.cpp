#include "formats/fsdb/fsdb_timeline.hpp"

#include <algorithm>

#include "signal/column.hpp"
#include "trace/column_budget.hpp"

namespace quor_core::trace::fsdb {

Timeline::Timeline(uint32_t num_names, uint64_t work_limit) : num_(num_names), work_left_(work_limit) {}

bool Timeline::old_value(uint32_t id, uint64_t t, uint64_t& value) const {
    if (id < changes_.size()) {
        const auto& list = changes_[id];
        auto it = std::upper_bound(list.begin(), list.end(), t, [](uint64_t x, const Change& c) { return x < c.time; });
        if (it != list.begin()) {
            value = std::prev(it)->value;
            return true;
        }
    }
    if (has_implicit_zero(id)) {
        value = 0;
        return true;
    }
    return false;
}

// Merges one signal's writes of the current section (sorted by time, one per time) into its
// change points. An earlier time that the axis already had keeps the value it held: when the
// first old time after a write is not itself written, it gets a change point of its old value.
void Timeline::merge_signal(uint32_t id, const ValueEntry* first, const ValueEntry* last) {
    std::vector<Change> writes;
    writes.reserve(static_cast<size_t>(last - first) * 2 + 1);
    const bool had_values = (id < changes_.size() && !changes_[id].empty()) || has_implicit_zero(id);
    if (!had_values && id < num_ && first->time != 0) writes.push_back({0, 0});
    for (const ValueEntry* e = first; e != last; ++e) {
        writes.push_back({e->time, e->value});
        if (!had_values) continue;
        const auto next_old = std::upper_bound(times_.begin(), times_.end(), e->time);
        if (next_old == times_.end()) continue;
        if (e + 1 != last && (e + 1)->time <= *next_old) continue;
        uint64_t old = 0;
        if (old_value(id, *next_old, old)) writes.push_back({*next_old, old});
    }
    if (id >= changes_.size()) changes_.resize(static_cast<size_t>(id) + 1);
    std::vector<Change>& list = changes_[id];
    if (list.empty() && has_implicit_zero(id)) list.push_back({0, 0});
    std::vector<Change> merged;
    merged.reserve(list.size() + writes.size());
    size_t a = 0;
    size_t b = 0;
    while (a < list.size() || b < writes.size()) {
        if (b == writes.size() || (a < list.size() && list[a].time < writes[b].time)) {
            merged.push_back(list[a++]);
        } else {
            if (a < list.size() && list[a].time == writes[b].time) ++a;
            merged.push_back(writes[b++]);
        }
    }
    list = std::move(merged);
}

void Timeline::apply_section(std::vector<ValueEntry> entries) {
    // Estimate the section's work first so that a crafted run of sections cannot grow it without
    // bound: sorting, the merge of every written signal, and the merge of the time axis.
    uint64_t cost = entries.size() * 2 + (entries.empty() ? 0 : times_.size());
    std::stable_sort(entries.begin(), entries.end(), [](const ValueEntry& x, const ValueEntry& y) {
        return x.id != y.id ? x.id < y.id : x.time < y.time;
    });
    for (size_t i = 0; i < entries.size();) {
        size_t j = i;
        while (j < entries.size() && entries[j].id == entries[i].id) ++j;
        if (entries[i].id < changes_.size()) cost += changes_[entries[i].id].size();
        i = j;
    }
    if (cost > work_left_) {
        work_left_ = 0;
        return;
    }
    work_left_ -= cost;

    // A later write of the same signal and time replaces an earlier one (dedup in place).
    size_t kept = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (kept > 0 && entries[kept - 1].id == entries[i].id && entries[kept - 1].time == entries[i].time) {
            entries[kept - 1] = entries[i];
        } else {
            entries[kept++] = entries[i];
        }
    }
    entries.resize(kept);
    const std::vector<ValueEntry>& unique = entries;
    for (size_t i = 0; i < unique.size();) {
        size_t j = i;
        while (j < unique.size() && unique[j].id == unique[i].id) ++j;
        merge_signal(unique[i].id, unique.data() + i, unique.data() + j);
        i = j;
    }
    defaulted_ = true;

    std::vector<uint64_t> new_times;
    new_times.reserve(unique.size());
    for (const ValueEntry& e : unique) new_times.push_back(e.time);
    std::sort(new_times.begin(), new_times.end());
    new_times.erase(std::unique(new_times.begin(), new_times.end()), new_times.end());
    std::vector<uint64_t> merged;
    merged.reserve(times_.size() + new_times.size());
    std::set_union(times_.begin(), times_.end(), new_times.begin(), new_times.end(), std::back_inserter(merged));
    times_ = std::move(merged);
}

signal::ColumnStore Timeline::freeze(std::vector<uint64_t>& times) && {
    uint64_t changing = 0;
    for (const auto& list : changes_) changing += list.size() >= 2 ? 1 : 0;
    times_.resize(kept_timestamps(changing, times_.size()));
    const uint64_t length = times_.size();
    const size_t ids = std::max<size_t>(changes_.size(), defaulted_ ? num_ : 0);
    std::vector<signal::Column> columns(ids);
    for (size_t id = 0; id < ids; ++id) {
        signal::ColumnWriter writer(length);
        const bool has_list = id < changes_.size() && !changes_[id].empty();
        if (!has_list) {
            if (!has_implicit_zero(static_cast<uint32_t>(id))) continue;
            writer.append(0, signal::ValueRef::of_uint(0));
        } else {
            const auto& list = changes_[id];
            if (list.front().time != 0) writer.append(0, signal::ValueRef());
            for (const Change& c : list) {
                const auto idx = static_cast<uint64_t>(std::lower_bound(times_.begin(), times_.end(), c.time) - times_.begin());
                if (idx >= length) break;
                writer.append(idx, signal::ValueRef::of_uint(c.value));
            }
            std::vector<Change>().swap(changes_[id]);
        }
        columns[id] = std::move(writer).finish();
    }
    times = std::move(times_);
    return signal::ColumnStore(std::move(columns));
}

}  // namespace quor_core::trace::fsdb
