#include "signal/column_store.hpp"

#include <algorithm>

namespace quor_core::signal {

namespace {

Column freeze_array(const std::vector<SignalValue>& array) {
    ColumnWriter writer(array.size());
    for (size_t i = 0; i < array.size(); ++i) writer.append(i, ValueRef::of(array[i]));
    return std::move(writer).finish();
}

}  // namespace

ColumnStore ColumnStore::from_dense(const SignalStore& store) {
    std::vector<uint32_t> ids;
    ids.reserve(store.arrays().size());
    for (const auto& entry : store.arrays()) ids.push_back(entry.first);
    std::sort(ids.begin(), ids.end());
    ColumnStore out;
    const uint64_t max_id = ids.empty() ? 0 : ids.back();
    out.dense_ = max_id < 4 * ids.size() + 1024;
    if (out.dense_) {
        out.columns_.resize(ids.empty() ? 0 : max_id + 1);
        for (uint32_t id : ids) out.columns_[id] = freeze_array(store.arrays().at(id));
    } else {
        out.sparse_ids_ = ids;
        for (uint32_t id : ids) out.columns_.push_back(freeze_array(store.arrays().at(id)));
    }
    return out;
}

const Column* ColumnStore::sparse_column(uint32_t id) const {
    const auto it = std::lower_bound(sparse_ids_.begin(), sparse_ids_.end(), id);
    if (it == sparse_ids_.end() || *it != id) return nullptr;
    return &columns_[static_cast<size_t>(it - sparse_ids_.begin())];
}

std::vector<SignalValue> ColumnStore::get_range(uint32_t id, uint64_t start, uint64_t end) const {
    std::vector<SignalValue> out;
    if (end <= start) return out;
    out.reserve(end - start);
    for (uint64_t i = start; i < end; ++i) out.push_back(get(id, i));
    return out;
}

}  // namespace quor_core::signal
