#include "trace/common_trace.hpp"

#include <utility>

#include "util/name_path.hpp"

namespace quor_core::trace {

const std::vector<uint32_t>& CommonTrace::names_without_ranges() const {
    static const std::vector<uint32_t> none;
    if (!without_range_) return none;  // moved from
    RangeIndex& index = *without_range_;
    std::call_once(index.made, [&] {
        std::vector<std::pair<uint32_t, size_t>> ranged;  // position, hash of the name without its range
        for (size_t i = 0; i < r_.signal_names.size(); ++i) {
            const std::string_view name = r_.signal_names[i];
            if (name.empty() || name.back() != ']') continue;
            const std::string_view bare = util::without_bit_range(name);
            if (bare.size() != name.size()) ranged.emplace_back(static_cast<uint32_t>(i), StringHash{}(bare));
        }
        if (ranged.empty()) return;
        size_t slots = 2;
        while (slots < 2 * ranged.size()) slots *= 2;
        index.slots.assign(slots, 0);
        for (const auto& [position, hash] : ranged) {
            size_t slot = hash & (slots - 1);
            while (index.slots[slot] != 0) slot = (slot + 1) & (slots - 1);
            index.slots[slot] = position + 1;
        }
    });
    return index.slots;
}

const std::string* CommonTrace::full_name(std::string_view name) const {
    const std::vector<uint32_t>& without_range = names_without_ranges();
    if (without_range.empty()) return nullptr;
    const size_t mask = without_range.size() - 1;
    const std::string* found = nullptr;
    for (size_t slot = StringHash{}(name) & mask; without_range[slot] != 0; slot = (slot + 1) & mask) {
        const std::string& full = r_.signal_names[without_range[slot] - 1];
        if (util::without_bit_range(full) != name) continue;
        if (found) return nullptr;  // more than one name gives it
        found = &full;
    }
    return found;
}

std::optional<uint32_t> CommonTrace::position_of(std::string_view name) const {
    if (const auto position = r_.name_positions.find(name, r_.signal_names)) return position;
    if (const std::string* full = full_name(name)) return static_cast<uint32_t>(full - r_.signal_names.data());
    return std::nullopt;
}

SignalValue CommonTrace::signal_value(std::string_view name, uint64_t index) const {
    const auto id = signal_id(name);
    return id ? r_.store.get(*id, index) : SignalValue::unknown();
}

uint32_t CommonTrace::signal_width(std::string_view name) const {
    if (!r_.widths_by_position.empty()) {
        const auto position = position_of(name);
        return position ? r_.widths_by_position[*position] : 1;
    }
    auto it = r_.widths.find(name);
    if (it == r_.widths.end()) {
        const std::string* full = full_name(name);
        if (!full) return 1;
        it = r_.widths.find(*full);
    }
    return it == r_.widths.end() ? 1 : it->second;
}

std::optional<uint32_t> CommonTrace::signal_id(std::string_view name) const {
    if (!r_.ids_by_position.empty()) {
        const auto position = position_of(name);
        if (!position) return std::nullopt;
        return r_.ids_by_position[*position];
    }
    auto it = r_.name_to_id.find(name);
    if (it == r_.name_to_id.end()) {
        const std::string* full = full_name(name);
        if (!full) return std::nullopt;
        it = r_.name_to_id.find(*full);
    }
    if (it == r_.name_to_id.end()) return std::nullopt;
    return it->second;
}

std::vector<SignalValue> CommonTrace::signal_values_range(std::string_view name, uint64_t start,
                                                          uint64_t end) const {
    const auto id = signal_id(name);
    if (id) return r_.store.get_range(*id, start, end);
    return std::vector<SignalValue>(end > start ? end - start : 0);
}

}  // namespace quor_core::trace
