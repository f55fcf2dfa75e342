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
    struct Pending {
        std::vector<uint64_t> starts;
        std::vector<uint64_t> uints;        // payload when the run is a Uint
        std::vector<uint8_t> kinds;         // empty while every run is a Uint
        std::vector<SignalValue> others;    // non-Uint values, indexed by uints[i]
        std::vector<std::pair<uint64_t, SignalValue>> late;  // changes that went back in index
    };
    Pending& pending(uint32_t id);
    void apply(Pending& p, uint64_t index, SignalValue&& value);
    void apply_uint(Pending& p, uint64_t index, uint64_t value);
    void push_run(Pending& p, uint64_t index, ValueKind kind, uint64_t payload);
    void pop_run(Pending& p);
    static ValueRef run_value(const Pending& p, size_t run);
    static Column finish(Pending& p, FillRule rule, uint64_t length);

    FillRule rule_;
    std::vector<Pending> columns_;
};

}  // namespace quor_core::signal
