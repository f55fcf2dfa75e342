#pragma once
// Relative indices: index + offset computed exactly, with no wrap-around in either direction.

#include <cstdint>
#include <optional>

namespace quor_core::eval {

// The target index when index + offset lies in 0..max_index, else nothing.
inline std::optional<uint64_t> shifted_index(uint64_t index, int64_t offset, uint64_t max_index) {
    if (offset >= 0) {
        const auto step = static_cast<uint64_t>(offset);
        if (index > max_index || step > max_index - index) return std::nullopt;
        return index + step;
    }
    const uint64_t back = static_cast<uint64_t>(-(offset + 1)) + 1;  // |offset|, also for INT64_MIN
    if (back > index || index - back > max_index) return std::nullopt;
    return index - back;
}

}  // namespace quor_core::eval
