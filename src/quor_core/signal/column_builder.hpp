#pragma once
// ColumnBuilder: collects value changes while a loader runs and freezes them into a ColumnStore.
// It records changes only (no work or memory per signal and index) and yields exactly the values
// the reference SignalStore holds after the loader's fill discipline:
//  - CarryThenSet: forward_fill(i) runs when index i opens, before that index's own values are
//    set (the VCD reader). A later value at the same index replaces an earlier one, Unknown
//    included, and an Unknown is held until the next value.
//  - SetThenFill: all values are set first, then forward_fill(1..n-1) runs once (FST and the
//    block formats). An Unknown set at an index is filled over by the value before it, so it
//    only shows where no known value precedes it.
// Each signal's changes go to a chain of chunks carved in sequence from large blocks, so
// recording a change is one store into a chunk whose tail is likely in cache, and no change is
// copied or sorted while loading. Values may arrive in any index order; indices at or past the
// freeze length are dropped.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

#include "signal/column_store.hpp"
#include "signal/value.hpp"
#include "util/arena.hpp"
#include "util/huge_pages.hpp"

namespace quor_core::signal {

enum class FillRule { CarryThenSet, SetThenFill };

// Runs body(0) .. body(pieces - 1), possibly several at once on other threads, and returns when
// all have finished.
using ParallelFor = std::function<void(size_t pieces, const std::function<void(size_t)>& body)>;

class ColumnBuilder {
    struct Slot;

public:
    // Memory for the change logs of several builders filled at the same time on different
    // threads (the stretches of one text). Sharing it keeps the partly used huge pages down to
    // a few in all instead of a few per builder.
    class SharedBlocks {
    public:
        Slot* take(size_t slots);

    private:
        static constexpr size_t kBlockSlots = size_t{1} << 21;  // 32 MiB
        std::mutex m_;
        std::vector<std::unique_ptr<util::HugeBuffer<Slot>>> blocks_;
        size_t used_ = 0;
    };

    explicit ColumnBuilder(FillRule rule, std::shared_ptr<SharedBlocks> shared = nullptr)
        : rule_(rule), shared_(std::move(shared)) {}

    void set(uint32_t id, uint64_t index, SignalValue value);
    void set_uint(uint32_t id, uint64_t index, uint64_t value) { record(id, index, ValueKind::Uint, value); }
    // Freezes every column over [0, num_indices), through parallel when one is given.
    ColumnStore freeze(uint64_t num_indices, const ParallelFor& parallel = {}) &&;
    // Freezes the changes of several builders as if one builder had received them all, part
    // after part: part k's indices are moved by shifts[k] (added modulo 2^64, so a part whose
    // recorded indices are all at least 1 may be moved down by one). Every part must use the
    // same fill rule. Columns are built through parallel; the parts are emptied.
    // The columns' arrays come from arena when one is given (it may hold adopted memory).
    static ColumnStore freeze_parts(std::span<ColumnBuilder> parts, std::span<const uint64_t> shifts,
                                    uint64_t num_indices, const ParallelFor& parallel,
                                    std::shared_ptr<util::Arena> arena = nullptr);

    // Room for about this many changes in the first block.
    void reserve(size_t changes) { next_block_slots_ = std::max<size_t>(kMinBlockSlots, std::min(changes, kMaxBlockSlots)); }

private:
    // Index and kind share one word: the kind in the low byte, the index above it.
    struct Slot {
        uint64_t index_kind;
        uint64_t payload;  // Uint value, Real bits, or index into heap_
    };
    struct Chunk {
        Slot* data;
        uint32_t size;  // filled slots (the chain's last chunk: see Chain::fill)
        uint32_t next;  // next chunk of the same signal, or kNone
    };
    struct Chain {
        Slot* tail = nullptr;  // the last chunk's slots
        uint32_t fill = 0;     // filled slots of the last chunk
        uint32_t cap = 0;      // capacity of the last chunk
        uint32_t first = kNone;
        uint32_t last = kNone;
    };
    static constexpr uint32_t kNone = UINT32_MAX;
    static constexpr uint64_t kMaxIndex = (uint64_t{1} << 56) - 1;
    static constexpr uint32_t kFirstChunk = 4;
    static constexpr uint32_t kMaxChunk = 512;
    static constexpr uint32_t kMaxSharedChunk = 64;
    static constexpr size_t kMinBlockSlots = size_t{1} << 12;
    static constexpr size_t kMaxBlockSlots = size_t{1} << 22;
    // Ids below this index a vector; larger ones (rare, from formats with sparse ids) a map.
    static constexpr uint32_t kDirectIds = uint32_t{1} << 22;

    void record(uint32_t id, uint64_t index, ValueKind kind, uint64_t payload) {
        if (index > kMaxIndex) return;  // past any trace that fits in memory
        Chain& c = chain_for(id);
        if (c.fill == c.cap) new_chunk(c);
        c.tail[c.fill++] = {(index << 8) | static_cast<uint8_t>(kind), payload};
        ++changes_;
    }
    Chain& chain_for(uint32_t id) {
        if (id < kDirectIds) {
            if (id >= chains_.size()) grow_chains(id);
            return chains_[id];
        }
        return far_chain(id);
    }
    void grow_chains(uint32_t id);
    Chain& far_chain(uint32_t id);
    void new_chunk(Chain& c);
    const Chain* chain_if(uint32_t id) const;
    // A run of one signal's recorded changes in one part, with that part's moves.
    struct Segment {
        const Slot* data;
        uint32_t size;
        uint64_t moved;      // added to index_kind: the part's shift, above the kind byte
        uint64_t heap_base;  // added to heap references
    };
    void append_segments(const Chain& c, uint64_t shift, uint64_t heap_base, std::vector<Segment>& out) const;
    static bool in_index_order(std::span<const Segment> segments);
    static Column build_in_order(std::span<const Segment> segments, size_t changes, uint64_t length, FillRule rule,
                                 std::vector<SignalValue>& heap, const std::shared_ptr<util::Arena>& arena);
    static void gather(std::span<const Segment> segments, std::vector<Slot>& out);
    static Column build_sorted(std::vector<Slot>& slots, uint64_t length, FillRule rule,
                               std::vector<SignalValue>& heap, const std::shared_ptr<util::Arena>& arena);

    FillRule rule_;
    std::vector<Chain> chains_;
    std::vector<std::pair<uint32_t, Chain>> far_chains_;
    std::unordered_map<uint32_t, size_t> far_slots_;
    std::vector<Chunk> chunks_;
    std::shared_ptr<SharedBlocks> shared_;  // where blocks come from, when shared
    static constexpr size_t kSharedTake = size_t{1} << 14;  // slots taken from shared blocks at once
    std::vector<std::unique_ptr<util::HugeBuffer<Slot>>> blocks_;
    Slot* block_ = nullptr;  // the block chunks are carved from
    size_t block_size_ = 0;
    size_t block_used_ = 0;
    size_t next_block_slots_ = kMinBlockSlots;
    size_t changes_ = 0;
    std::vector<SignalValue> heap_;  // Wide, FourState and Text values
};

}  // namespace quor_core::signal
