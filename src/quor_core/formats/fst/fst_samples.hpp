#pragma once
// The samples of an FST file: one per entry of its time table, except that a block whose first
// time repeats the time just before it (the last time of the block before) continues that
// sample. Writers close a block in the middle of a time step when they flush, and the next block
// names the same time again for the changes that follow; each boundary would otherwise add a
// sample holding the values from before that time step.

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "fst_container/types.hpp"

namespace quor_core::trace {

class FstSamples {
public:
    FstSamples() = default;
    // time_table: the time tables of all blocks, in file order; sections: the blocks, with the
    // position of each one's first time in time_table.
    FstSamples(std::vector<uint64_t> time_table, std::span<const fst_container::DataSectionInfo> sections);

    // The time of each sample.
    const std::vector<uint64_t>& times() const { return times_; }
    std::vector<uint64_t> take_times() && { return std::move(times_); }
    // The sample of a position of the time table.
    uint64_t index_of_position(uint64_t position) const;
    // The sample of a time, for a value not tied to a time-table position: the first sample of
    // that time, else the last one before it, else 0.
    uint64_t index_of_time(uint64_t time) const;

private:
    std::vector<uint64_t> times_;
    std::vector<uint64_t> merged_;  // ascending time-table positions that continue the sample before
    bool ascending_ = true;
};

}  // namespace quor_core::trace
