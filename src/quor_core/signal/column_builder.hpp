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
// Changes go to one append-only log (sequential writes, whatever the signal), which freezing
// sorts by signal; values may arrive in any index order. Indices at or past the freeze length
// are dropped.

#include <cstdint>
#include <vector>

#include "signal/column_store.hpp"
#include "signal/value.hpp"

namespace quor_core::signal {

enum class FillRule { CarryThenSet, SetThenFill };

class ColumnBuilder {
public:
    explicit ColumnBuilder(FillRule rule) : rule_(rule) {}

    void set(uint32_t id, uint64_t index, SignalValue value);
    void set_uint(uint32_t id, uint64_t index, uint64_t value) { log(id, index, ValueKind::Uint, value); }
    // Freezes every column over [0, num_indices).
    ColumnStore freeze(uint64_t num_indices) &&;

    size_t change_count() const { return log_.size(); }
    void reserve(size_t changes) { log_.reserve(changes); }

private:
    // Index and kind share one word: the kind in the low byte, the index above it.
    struct __attribute__((packed, aligned(4))) Change {
        uint64_t index_kind;
        uint64_t payload;  // Uint value, Real bits, or index into heap_
        uint32_t id;
    };
    struct Slot {
        uint64_t index_kind;
        uint64_t payload;
    };
    static constexpr uint64_t kMaxIndex = (uint64_t{1} << 56) - 1;

    void log(uint32_t id, uint64_t index, ValueKind kind, uint64_t payload) {
        if (index > kMaxIndex) return;  // past any trace that fits in memory
        log_.push_back({(index << 8) | static_cast<uint8_t>(kind), payload, id});
        if (id > max_id_) max_id_ = id;
    }
    Column build_column(Slot* first, Slot* last, uint64_t length);

    FillRule rule_;
    std::vector<Change> log_;
    std::vector<SignalValue> heap_;  // Wide, FourState and Text values of the log
    uint32_t max_id_ = 0;
};

}  // namespace quor_core::signal
