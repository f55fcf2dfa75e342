#include "signal/store.hpp"

#include <utility>

namespace quor_core::signal {

void SignalStore::set(uint32_t id, uint64_t index, SignalValue value) {
    auto& array = arrays_[id];
    if (index >= array.size()) array.resize(index + 1);
    array[index] = std::move(value);
}

SignalValue SignalStore::get(uint32_t id, uint64_t index) const {
    const auto it = arrays_.find(id);
    if (it == arrays_.end() || index >= it->second.size()) return SignalValue::unknown();
    return it->second[index];
}

std::vector<SignalValue> SignalStore::get_range(uint32_t id, uint64_t start, uint64_t end) const {
    std::vector<SignalValue> out;
    if (end <= start) return out;
    out.reserve(end - start);
    for (uint64_t i = start; i < end; ++i) out.push_back(get(id, i));
    return out;
}

void SignalStore::forward_fill(uint64_t index) {
    if (index == 0) return;
    std::vector<std::pair<uint32_t, SignalValue>> carried;
    for (const auto& [id, array] : arrays_) {
        if (array.size() < index) continue;  // no value at index - 1
        const SignalValue& previous = array[index - 1];
        if (previous.is_unknown()) continue;
        if (array.size() > index && !array[index].is_unknown()) continue;
        carried.emplace_back(id, previous);
    }
    for (auto& [id, value] : carried) set(id, index, std::move(value));
}

}  // namespace quor_core::signal
