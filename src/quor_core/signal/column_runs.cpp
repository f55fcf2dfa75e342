#include "signal/column_runs.hpp"

#include <algorithm>
#include <bit>

namespace quor_core::signal {

RunRange runs_overlapping(const Column& column, uint64_t begin, uint64_t end) {
    end = std::min(end, column.length());
    if (begin >= end) return {};
    const size_t first = column.run_of(begin);
    return {first, column.run_of(end - 1) - first + 1};
}

void append_run_starts(const Column& column, uint64_t begin, uint64_t end, util::PodBuffer<uint64_t>& out) {
    end = std::min(end, column.length());
    if (begin >= end) return;
    const RunRange runs = runs_overlapping(column, begin, end);
    const size_t base = out.size();
    out.resize(base + runs.count);
    uint64_t* dst = out.data() + base;
    *dst++ = begin;
    if (runs.count == 1) return;
    const RunStarts& starts = column.run_starts();
    if (starts.is_sorted()) {
        // The starts of the runs after the first, as they are stored.
        const uint32_t* sorted = starts.sorted_array();
        std::copy(sorted + runs.first + 1, sorted + runs.first + runs.count, dst);
        return;
    }
    // The set bits of (begin, end): each marks a run's first index.
    const uint64_t* words = starts.bits().words();
    const uint64_t from = begin + 1;
    for (uint64_t w = from >> 6; w <= (end - 1) >> 6; ++w) {
        uint64_t bits = words[w];
        if (w == from >> 6) bits &= ~uint64_t{0} << (from & 63);
        if (w == (end - 1) >> 6 && ((end - 1) & 63) != 63) bits &= (uint64_t{1} << (((end - 1) & 63) + 1)) - 1;
        for (; bits != 0; bits &= bits - 1) *dst++ = (w << 6) + static_cast<uint64_t>(std::countr_zero(bits));
    }
}

}  // namespace quor_core::signal
