#include "trace/common_trace.hpp"

namespace quor_core::trace {

SignalValue CommonTrace::signal_value(std::string_view name, uint64_t index) const {
    const auto id = signal_id(name);
    return id ? r_.store.get(*id, index) : SignalValue::unknown();
}

uint32_t CommonTrace::signal_width(std::string_view name) const {
    const auto it = r_.widths.find(name);
    return it == r_.widths.end() ? 1 : it->second;
}

std::optional<uint32_t> CommonTrace::signal_id(std::string_view name) const {
    const auto it = r_.name_to_id.find(name);
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
