#include "signal/column_builder.hpp"

#include <algorithm>
#include <cstring>

namespace quor_core::signal {

namespace {

ValueKind kind_of(uint64_t index_kind) { return static_cast<ValueKind>(index_kind & 0xFF); }
uint64_t index_of(uint64_t index_kind) { return index_kind >> 8; }

}  // namespace

void ColumnBuilder::set(uint32_t id, uint64_t index, SignalValue value) {
    switch (value.kind()) {
        case ValueKind::Uint: return log(id, index, ValueKind::Uint, value.as_uint());
        case ValueKind::Real: return log(id, index, ValueKind::Real, ValueRef::of_real(value.as_real()).as_uint());
        case ValueKind::Unknown: return log(id, index, ValueKind::Unknown, 0);
        default:
            if (index > kMaxIndex) return;
            log(id, index, value.kind(), heap_.size());
            heap_.push_back(std::move(value));
            return;
    }
}

// One signal's changes, in arrival order, become its column.
Column ColumnBuilder::build_column(Slot* first, Slot* last, uint64_t length) {
    const auto by_index = [](const Slot& a, const Slot& b) { return index_of(a.index_kind) < index_of(b.index_kind); };
    if (!std::is_sorted(first, last, by_index)) std::stable_sort(first, last, by_index);
    ColumnWriter writer(length);
    bool started = false;
    for (Slot* s = first; s != last; ++s) {
        const uint64_t index = index_of(s->index_kind);
        if (index >= length) break;
        // A later change at the same index replaces the earlier ones.
        if (s + 1 != last && index_of(s[1].index_kind) == index) continue;
        const ValueKind kind = kind_of(s->index_kind);
        if (kind == ValueKind::Unknown && rule_ == FillRule::SetThenFill) continue;
        if (!started && index > 0) writer.append(0, ValueRef());
        started = true;
        switch (kind) {
            case ValueKind::Uint: writer.append(index, ValueRef::of_uint(s->payload)); break;
            case ValueKind::Real: {
                double d = 0;
                std::memcpy(&d, &s->payload, sizeof d);
                writer.append(index, ValueRef::of_real(d));
                break;
            }
            case ValueKind::Unknown: writer.append(index, ValueRef()); break;
            default: writer.append(index, std::move(heap_[s->payload])); break;
        }
    }
    return std::move(writer).finish();
}

ColumnStore ColumnBuilder::freeze(uint64_t num_indices) && {
    if (log_.empty()) return ColumnStore();
    // Ids can be sparse (any 32-bit number); give the columns dense slots.
    std::vector<uint32_t> ids;
    const bool dense = max_id_ < 2 * log_.size() + 65536;
    if (!dense) {
        ids.reserve(log_.size());
        for (const Change& c : log_) ids.push_back(c.id);
        std::sort(ids.begin(), ids.end());
        ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    }
    const auto slot_of = [&](uint32_t id) -> size_t {
        if (dense) return id;
        return static_cast<size_t>(std::lower_bound(ids.begin(), ids.end(), id) - ids.begin());
    };
    const size_t slots = dense ? static_cast<size_t>(max_id_) + 1 : ids.size();

    // Counting sort by signal, keeping arrival order within each signal.
    std::vector<uint64_t> offsets(slots + 1, 0);
    for (const Change& c : log_) ++offsets[slot_of(c.id) + 1];
    for (size_t i = 0; i < slots; ++i) offsets[i + 1] += offsets[i];
    std::vector<Slot> sorted(log_.size());
    {
        std::vector<uint64_t> next(offsets.begin(), offsets.end() - 1);
        for (const Change& c : log_) sorted[next[slot_of(c.id)]++] = {c.index_kind, c.payload};
    }
    log_.clear();
    log_.shrink_to_fit();

    std::vector<Column> columns(slots);
    for (size_t s = 0; s < slots; ++s) {
        columns[s] = build_column(sorted.data() + offsets[s], sorted.data() + offsets[s + 1], num_indices);
    }
    heap_.clear();
    if (dense) return ColumnStore(std::move(columns));
    return ColumnStore(std::move(ids), std::move(columns));
}

}  // namespace quor_core::signal
