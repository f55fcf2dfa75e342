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
// Values may arrive in any index order; indices at or past the freeze length are dropped.

#include <cstdint>
#include <utility>
#include <vector>

#include "signal/column_store.hpp"
#include "signal/value.hpp"

namespace quor_core::signal {

enum class FillRule { CarryThenSet, SetThenFill };

class ColumnBuilder {
public:
    explicit ColumnBuilder(FillRule rule) : rule_(rule) {}

    void set(uint32_t id, uint64_t index, SignalValue value);
    void set_uint(uint32_t id, uint64_t index, uint64_t value);
    // Freezes every column over [0, num_indices).
    ColumnStore freeze(uint64_t num_indices) &&;

private:
    // The effective writes of one signal, one per index in ascending order (a later write at the
    // same index replaces the earlier one). Equal neighbours are merged only when freezing, so
    // that writes arriving out of order can be replayed exactly.
    struct Run {
        uint64_t start;
        uint64_t payload;  // Uint value, Real bits, or index into `others`
    };
    struct Pending {
        std::vector<Run> runs;
        std::vector<uint8_t> kinds;         // per run ValueKind; empty while every run is a Uint
        std::vector<SignalValue> others;    // Wide, FourState and Text values
        std::vector<std::pair<uint64_t, SignalValue>> late;  // changes that went back in index
    };
    // What every change consults, kept apart from the runs so the checks stay in cache.
    struct Hot {
        uint64_t last_start = 0;
        bool has_runs = false;
        bool has_late = false;
    };
    void ensure(uint32_t id);
    // True when the change must wait in the late list (it goes back in index).
    bool goes_late(uint32_t id, uint64_t index) const {
        const Hot& h = hot_[id];
        return h.has_late || (h.has_runs && index < h.last_start);
    }
    void apply(uint32_t id, uint64_t index, SignalValue&& value);
    void apply_uint(uint32_t id, uint64_t index, uint64_t value);
    void begin_run(uint32_t id, uint64_t index);
    void push_run(uint32_t id, uint64_t index, ValueKind kind, uint64_t payload);
    void pop_run(uint32_t id);
    static ValueRef run_value(const Pending& p, size_t run);
    static Column finish(Pending& p, FillRule rule, uint64_t length);

    FillRule rule_;
    std::vector<Pending> columns_;
    std::vector<Hot> hot_;
};

}  // namespace quor_core::signal
