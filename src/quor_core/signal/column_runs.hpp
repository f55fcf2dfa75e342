#pragma once
// Bulk reading of a column's runs over a range of indices, for results handed out whole (the
// runs of a signal, tables of values).

#include <cstdint>

#include "signal/column.hpp"
#include "util/pod_buffer.hpp"

namespace quor_core::signal {

// The runs first .. first + count - 1 of a column.
struct RunRange {
    size_t first = 0;
    size_t count = 0;
};

// The runs holding some index of [begin, end); end is clipped to the column's length.
RunRange runs_overlapping(const Column& column, uint64_t begin, uint64_t end);

// Appends the first index of each of those runs, the first one clipped to begin.
void append_run_starts(const Column& column, uint64_t begin, uint64_t end, util::PodBuffer<uint64_t>& out);

}  // namespace quor_core::signal
