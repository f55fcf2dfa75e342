#include "signal/column_builder.hpp"

#include <algorithm>
#include <cstring>

namespace quor_core::signal {

namespace {

ValueKind kind_of(uint64_t index_kind) { return static_cast<ValueKind>(index_kind & 0xFF); }
uint64_t index_of(uint64_t index_kind) { return index_kind >> 8; }
bool on_heap(ValueKind k) { return k != ValueKind::Uint && k != ValueKind::Real && k != ValueKind::Unknown; }

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

// Changes out of index order: the gathered copy is sorted (stably, so a later change at an
// index still replaces an earlier one) and then read as in-order changes.
Column ColumnBuilder::build_sorted(std::vector<Slot>& slots, uint64_t length, FillRule rule,
                                   std::vector<SignalValue>& heap, const std::shared_ptr<util::Arena>& arena) {
    const auto by_index = [](const Slot& a, const Slot& b) { return index_of(a.index_kind) < index_of(b.index_kind); };
    std::stable_sort(slots.begin(), slots.end(), by_index);
    std::vector<Segment> segments;
    constexpr size_t kMaxSegment = UINT32_MAX;
    for (size_t at = 0; at < slots.size(); at += kMaxSegment) {
        segments.push_back({slots.data() + at, static_cast<uint32_t>(std::min(kMaxSegment, slots.size() - at)), 0, 0});
    }
    return build_in_order(segments, slots.size(), length, rule, heap, arena);
}

ColumnBuilder::Slot* ColumnBuilder::SharedBlocks::take(size_t slots) {
    std::lock_guard lock(m_);
    if (blocks_.empty() || used_ + slots > blocks_.back()->size()) {
        blocks_.push_back(std::make_unique<util::HugeBuffer<Slot>>(std::max(slots, kBlockSlots)));
        used_ = 0;
    }
    Slot* data = blocks_.back()->data() + used_;
    used_ += slots;
    return data;
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
    // A builder of one stretch among many holds only a part of each signal's changes: shorter
    // chunks keep the unfilled tails of all its last chunks small.
    const uint32_t max_chunk = shared_ ? kMaxSharedChunk : kMaxChunk;
    const uint32_t cap = c.cap == 0 ? kFirstChunk : std::min(c.cap * 2, max_chunk);
    if (block_ == nullptr || block_used_ + cap > block_size_) {
        if (shared_) {
            block_size_ = kSharedTake;
            block_ = shared_->take(block_size_);
        } else {
            blocks_.push_back(std::make_unique<util::HugeBuffer<Slot>>(next_block_slots_));
            block_ = blocks_.back()->data();
            block_size_ = next_block_slots_;
            next_block_slots_ = std::min(next_block_slots_ * 2, kMaxBlockSlots);
        }
        block_used_ = 0;
    }
    Slot* data = block_ + block_used_;
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

const ColumnBuilder::Chain* ColumnBuilder::chain_if(uint32_t id) const {
    if (id < kDirectIds) return id < chains_.size() && chains_[id].first != kNone ? &chains_[id] : nullptr;
    const auto it = far_slots_.find(id);
    return it == far_slots_.end() ? nullptr : &far_chains_[it->second].second;
}

void ColumnBuilder::append_segments(const Chain& c, uint64_t shift, uint64_t heap_base,
                                    std::vector<Segment>& out) const {
    for (uint32_t k = c.first; k != kNone; k = chunks_[k].next) {
        const uint32_t size = k == c.last ? c.fill : chunks_[k].size;
        if (size > 0) out.push_back({chunks_[k].data, size, shift << 8, heap_base});
    }
}

bool ColumnBuilder::in_index_order(std::span<const Segment> segments) {
    uint64_t last = 0;
    for (const Segment& seg : segments) {
        for (uint32_t i = 0; i < seg.size; ++i) {
            const uint64_t index_kind = seg.data[i].index_kind + seg.moved;
            if (index_kind < last) return false;
            last = index_kind & ~uint64_t{0xFF};  // equal indices with any kinds may follow
        }
    }
    return true;
}

// The changes of segments in ascending index order become the column with no copy: the same
// result as build_sorted, which sorts a gathered copy first.
Column ColumnBuilder::build_in_order(std::span<const Segment> segments, size_t changes, uint64_t length,
                                    FillRule rule, std::vector<SignalValue>& heap,
                                    const std::shared_ptr<util::Arena>& arena) {
    ColumnWriter writer(length, arena);
    writer.reserve(changes + 1);  // a leading Unknown run, then at most one run per change
    bool started = false;
    bool pending = false;  // a change waits in case a later one at its index replaces it
    uint64_t index = 0;
    ValueKind kind = ValueKind::Unknown;
    uint64_t payload = 0;
    const auto write = [&] {
        if (kind == ValueKind::Unknown && rule == FillRule::SetThenFill) return;
        if (!started && index > 0) writer.append(0, ValueRef());
        started = true;
        if (on_heap(kind)) {
            writer.append(index, std::move(heap[payload]));
        } else {
            writer.append_inline(index, kind, payload);
        }
    };
    for (const Segment& seg : segments) {
        for (uint32_t i = 0; i < seg.size; ++i) {
            const uint64_t index_kind = seg.data[i].index_kind + seg.moved;
            const uint64_t next = index_of(index_kind);
            if (next >= length) {
                if (pending) write();
                return std::move(writer).finish();
            }
            if (pending && next != index) write();
            pending = true;
            index = next;
            kind = kind_of(index_kind);
            payload = on_heap(kind) ? seg.data[i].payload + seg.heap_base : seg.data[i].payload;
        }
    }
    if (pending) write();
    return std::move(writer).finish();
}

// Copies the changes of segments to out, with their moves applied.
void ColumnBuilder::gather(std::span<const Segment> segments, std::vector<Slot>& out) {
    for (const Segment& seg : segments) {
        for (uint32_t i = 0; i < seg.size; ++i) {
            const uint64_t index_kind = seg.data[i].index_kind + seg.moved;
            const uint64_t payload = seg.data[i].payload;
            out.push_back({index_kind, on_heap(kind_of(index_kind)) ? payload + seg.heap_base : payload});
        }
    }
}

ColumnStore ColumnBuilder::freeze(uint64_t num_indices, const ParallelFor& parallel) && {
    const uint64_t no_shift = 0;
    const ParallelFor in_turn = [](size_t pieces, const std::function<void(size_t)>& body) {
        for (size_t p = 0; p < pieces; ++p) body(p);
    };
    return freeze_parts(std::span<ColumnBuilder>(this, 1), std::span<const uint64_t>(&no_shift, 1), num_indices,
                        parallel ? parallel : in_turn);
}

ColumnStore ColumnBuilder::freeze_parts(std::span<ColumnBuilder> parts, std::span<const uint64_t> shifts,
                                        uint64_t num_indices, const ParallelFor& parallel,
                                        std::shared_ptr<util::Arena> arena) {
    if (parts.empty()) return ColumnStore();
    const FillRule rule = parts.front().rule_;
    // One heap for all parts; each part's heap references move by the size of the heaps before it.
    std::vector<SignalValue> heap;
    std::vector<uint64_t> heap_base(parts.size());
    size_t direct_ids = 0;
    size_t changes = 0;
    std::vector<uint32_t> far_ids;
    for (size_t k = 0; k < parts.size(); ++k) {
        ColumnBuilder& part = parts[k];
        heap_base[k] = heap.size();
        if (heap.empty()) {
            heap = std::move(part.heap_);
        } else {
            heap.insert(heap.end(), std::make_move_iterator(part.heap_.begin()), std::make_move_iterator(part.heap_.end()));
        }
        part.heap_.clear();
        direct_ids = std::max(direct_ids, part.chains_.size());
        changes += part.changes_;
        for (const auto& far : part.far_chains_) far_ids.push_back(far.first);
    }
    std::sort(far_ids.begin(), far_ids.end());
    far_ids.erase(std::unique(far_ids.begin(), far_ids.end()), far_ids.end());

    std::vector<Column> columns(direct_ids);
    std::vector<Column> far_columns(far_ids.size());
    const size_t total = direct_ids + far_ids.size();
    // Many more pieces than threads, so columns of very different sizes still spread evenly.
    const size_t pieces = std::min<size_t>(total, 256);
    if (!arena) arena = std::make_shared<util::Arena>();  // the arrays of all columns
    parallel(pieces, [&](size_t piece) {
        std::vector<Segment> segments;  // one signal's changes, reused from signal to signal
        std::vector<Slot> scratch;      // a copy to sort, for changes out of index order
        for (size_t i = piece * total / pieces; i < (piece + 1) * total / pieces; ++i) {
            const auto id = static_cast<uint32_t>(i < direct_ids ? i : far_ids[i - direct_ids]);
            segments.clear();
            bool present = false;
            for (size_t k = 0; k < parts.size(); ++k) {
                if (const Chain* c = parts[k].chain_if(id)) {
                    present = true;
                    parts[k].append_segments(*c, shifts[k], heap_base[k], segments);
                }
            }
            if (!present) continue;
            size_t changes = 0;
            for (const Segment& seg : segments) changes += seg.size;
            Column column;
            if (in_index_order(segments)) {
                column = build_in_order(segments, changes, num_indices, rule, heap, arena);
            } else {
                scratch.clear();
                scratch.reserve(changes);
                gather(segments, scratch);
                column = build_sorted(scratch, num_indices, rule, heap, arena);
            }
            (i < direct_ids ? columns[i] : far_columns[i - direct_ids]) = std::move(column);
        }
    });
    for (ColumnBuilder& part : parts) part = ColumnBuilder(rule);
    heap.clear();
    arena->release_unused();

    std::vector<std::pair<uint32_t, Column>> far;
    for (size_t i = 0; i < far_ids.size(); ++i) far.emplace_back(far_ids[i], std::move(far_columns[i]));
    if (far.empty() && columns.size() <= 4 * changes + 65536) return ColumnStore(std::move(columns));
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
