#pragma once
// SignalStore: the reference value store, one dense array of values per signal id.
// Simple and exact; used directly by the small formats and as the oracle in tests.

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "signal/values/value.hpp"

namespace quor_core::signal {

class SignalStore {
public:
    SignalStore() = default;

    void set(uint32_t id, uint64_t index, SignalValue value);
    SignalValue get(uint32_t id, uint64_t index) const;
    std::vector<SignalValue> get_range(uint32_t id, uint64_t start, uint64_t end) const;
    // Carries each signal's value at index - 1 to index where index holds no value yet.
    void forward_fill(uint64_t index);

    const std::unordered_map<uint32_t, std::vector<SignalValue>>& arrays() const { return arrays_; }

private:
    std::unordered_map<uint32_t, std::vector<SignalValue>> arrays_;
};

}  // namespace quor_core::signal
