#include "parallel/stretch_schedule.hpp"

#include <algorithm>
#include <cstring>

namespace quor_core::trace {

StretchSchedule::StretchSchedule(std::string_view lines, const std::vector<std::string_view>& stretches, size_t step,
                                 size_t min_steal, size_t max_stolen)
    : lines_(lines),
      step_(std::max<size_t>(step, 1)),
      min_steal_(std::max<size_t>(min_steal, 2)),
      max_stretches_(stretches.size() + max_stolen) {
    stretches_.reserve(max_stretches_);
    for (const std::string_view s : stretches) {
        const auto begin = static_cast<size_t>(s.data() - lines.data());
        stretches_.push_back({begin, begin, begin + s.size()});
    }
}

size_t StretchSchedule::line_start_at_or_after(size_t at, size_t limit) const {
    if (at >= limit) return limit;
    if (at == 0 || lines_[at - 1] == '\n') return at;
    const void* nl = std::memchr(lines_.data() + at, '\n', limit - at);
    return nl ? static_cast<size_t>(static_cast<const char*>(nl) - lines_.data()) + 1 : limit;
}

std::optional<StretchSchedule::Stolen> StretchSchedule::steal() {
    std::lock_guard lock(m_);
    if (stretches_.size() >= max_stretches_) return std::nullopt;
    size_t victim = stretches_.size();
    size_t most = 0;
    for (size_t k = 0; k < stretches_.size(); ++k) {
        const size_t left = stretches_[k].end - stretches_[k].claimed;
        if (left > most) {
            most = left;
            victim = k;
        }
    }
    if (most < min_steal_) return std::nullopt;
    const Stretch v = stretches_[victim];
    const size_t cut = line_start_at_or_after(v.claimed + most / 2, v.end);
    if (cut >= v.end) return std::nullopt;  // the tail is one line
    stretches_.push_back({cut, cut, v.end});
    stretches_[victim].end = cut;
    return Stolen{stretches_.size() - 1, v.end - cut};
}

size_t StretchSchedule::count() const {
    std::lock_guard lock(m_);
    return stretches_.size();
}

std::vector<size_t> StretchSchedule::in_text_order() const {
    std::lock_guard lock(m_);
    std::vector<size_t> order(stretches_.size());
    for (size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return stretches_[a].begin < stretches_[b].begin; });
    return order;
}

}  // namespace quor_core::trace
