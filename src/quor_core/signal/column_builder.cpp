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
        case ValueKind::Uint: return record(id, index, ValueKind::Uint, value.as_uint());
        case ValueKind::Real: return record(id, index, ValueKind::Real, ValueRef::of_real(value.as_real()).as_uint());
        case ValueKind::Unknown: return record(id, index, ValueKind::Unknown, 0);
        default:
            if (index > kMaxIndex) return;
            record(id, index, value.kind(), heap_.size());
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

void ColumnBuilder::grow_chains(uint32_t id) {
    // Doubling keeps growth amortised; ids are dense in practice, and a sparse id only costs
    // an empty chain per smaller id.
    const size_t wanted = static_cast<size_t>(id) + 1;
    chains_.reserve(std::max(wanted, chains_.size() * 2));
    chains_.resize(wanted);
}

void ColumnBuilder::new_chunk(Chain& c) {
    // Chunks double per signal up to a limit, so a signal with few changes wastes little.
    const uint32_t cap = c.cap == 0 ? kFirstChunk : std::min(c.cap * 2, kMaxChunk);
    if (blocks_.empty() || block_used_ + cap > blocks_.back()->size()) {
        blocks_.push_back(std::make_unique<util::HugeBuffer<Slot>>(next_block_slots_));
        next_block_slots_ = std::min(next_block_slots_ * 2, kMaxBlockSlots);
        block_used_ = 0;
    }
    Slot* data = blocks_.back()->data() + block_used_;
    block_used_ += cap;
    const auto chunk = static_cast<uint32_t>(chunks_.size());
    chunks_.push_back({data, 0, kNone});
    if (c.last != kNone) {
        chunks_[c.last].size = c.fill;
        chunks_[c.last].next = chunk;
    } else {
        c.first = chunk;
    }
    c.last = chunk;
    c.tail = data;
    c.fill = 0;
    c.cap = cap;
}

ColumnBuilder::Chain& ColumnBuilder::far_chain(uint32_t id) {
    const auto [it, inserted] = far_slots_.try_emplace(id, far_chains_.size());
    if (inserted) far_chains_.emplace_back(id, Chain{});
    return far_chains_[it->second].second;
}

ColumnStore ColumnBuilder::freeze(uint64_t num_indices) && {
    std::vector<Slot> changes;  // one signal's changes, reused from signal to signal
    const auto column_of = [&](const Chain& c) {
        changes.clear();
        for (uint32_t k = c.first; k != kNone; k = chunks_[k].next) {
            const uint32_t size = k == c.last ? c.fill : chunks_[k].size;
            changes.insert(changes.end(), chunks_[k].data, chunks_[k].data + size);
        }
        return build_column(changes.data(), changes.data() + changes.size(), num_indices);
    };
    std::vector<Column> columns(chains_.size());
    for (size_t id = 0; id < chains_.size(); ++id) {
        if (chains_[id].first != kNone) columns[id] = column_of(chains_[id]);
    }
    std::vector<std::pair<uint32_t, Column>> far;
    for (const auto& [id, chain] : far_chains_) far.emplace_back(id, column_of(chain));
    chains_.clear();
    far_chains_.clear();
    chunks_.clear();
    blocks_.clear();
    heap_.clear();
    if (far.empty() && columns.size() <= 4 * changes_ + 65536) return ColumnStore(std::move(columns));
    // Ids far apart: keep only the columns that exist, by ascending id.
    for (size_t id = 0; id < columns.size(); ++id) {
        if (columns[id].length() != 0) far.emplace_back(static_cast<uint32_t>(id), std::move(columns[id]));
    }
    std::sort(far.begin(), far.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<uint32_t> ids;
    std::vector<Column> present;
    for (auto& [id, column] : far) {
        ids.push_back(id);
        present.push_back(std::move(column));
    }
    return ColumnStore(std::move(ids), std::move(present));
}

}  // namespace quor_core::signal
