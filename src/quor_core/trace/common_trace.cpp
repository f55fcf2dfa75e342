#include "trace/common_trace.hpp"

#include "util/name_path.hpp"

namespace quor_core::trace {

namespace {

constexpr uint32_t kAmbiguous = UINT32_MAX;

}  // namespace

void CommonTrace::index_names_without_ranges() {
    for (size_t i = 0; i < r_.signal_names.size(); ++i) {
        const std::string_view name = r_.signal_names[i];
        const std::string_view bare = util::without_bit_range(name);
        if (bare.size() == name.size()) continue;
        const auto [it, inserted] = without_range_.try_emplace(std::string(bare), static_cast<uint32_t>(i));
        if (!inserted) it->second = kAmbiguous;
    }
}

const std::string* CommonTrace::full_name(std::string_view name) const {
    const auto it = without_range_.find(name);
    if (it == without_range_.end() || it->second == kAmbiguous) return nullptr;
    return &r_.signal_names[it->second];
}

SignalValue CommonTrace::signal_value(std::string_view name, uint64_t index) const {
    const auto id = signal_id(name);
    return id ? r_.store.get(*id, index) : SignalValue::unknown();
}

uint32_t CommonTrace::signal_width(std::string_view name) const {
    auto it = r_.widths.find(name);
    if (it == r_.widths.end()) {
        const std::string* full = full_name(name);
        if (!full) return 1;
        it = r_.widths.find(*full);
    }
    return it == r_.widths.end() ? 1 : it->second;
}

std::optional<uint32_t> CommonTrace::signal_id(std::string_view name) const {
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
