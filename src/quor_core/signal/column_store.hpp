#pragma once
// ColumnStore: the frozen, immutable values of a trace, one Column per signal id.
// Safe to read from any number of threads.

#include <cstdint>
#include <vector>

#include "signal/column.hpp"
#include "signal/store.hpp"

namespace quor_core::signal {

class ColumnStore {
public:
    ColumnStore() = default;
    // Columns indexed by id; an empty Column stands for an id without values.
    explicit ColumnStore(std::vector<Column> columns) : columns_(std::move(columns)) {}
    // Columns of the given ascending ids.
    ColumnStore(std::vector<uint32_t> ids, std::vector<Column> columns)
        : dense_(false), columns_(std::move(columns)), sparse_ids_(std::move(ids)) {}
    // Freezes a reference store: every (id, index) reads exactly as the store's get().
    static ColumnStore from_dense(const SignalStore& store);

    // nullptr for an id without values.
    const Column* column(uint32_t id) const {
        if (dense_) return id < columns_.size() ? &columns_[id] : nullptr;
        return sparse_column(id);
    }
    ValueRef view(uint32_t id, uint64_t index) const {
        const Column* c = column(id);
        return c ? c->at(index) : ValueRef();
    }
    SignalValue get(uint32_t id, uint64_t index) const { return view(id, index).to_value(); }
    std::vector<SignalValue> get_range(uint32_t id, uint64_t start, uint64_t end) const;

private:
    const Column* sparse_column(uint32_t id) const;
    bool dense_ = true;
    std::vector<Column> columns_;
    std::vector<uint32_t> sparse_ids_;  // ascending ids of columns_ when not dense
};

}  // namespace quor_core::signal
