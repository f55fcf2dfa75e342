#pragma once
// Statistics of one signal over the whole trace, in one pass.

#include <cstdint>
#include <string_view>
#include <vector>

#include "trace/trace.hpp"

namespace quor_core::eval {

// min, max and sum are whole numbers of the two-state samples (Uint and Wide), least significant
// word first, without zero words above the highest set bit: 0 has no words. The sum is exact.
struct SignalStats {
    std::vector<uint64_t> min;
    std::vector<uint64_t> max;
    std::vector<uint64_t> sum;
    uint64_t count = 0;  // samples holding a Uint or a Wide
    uint64_t transitions = 0;
    uint64_t num_x = 0;
    uint64_t num_z = 0;
    bool operator==(const SignalStats&) const = default;
};

SignalStats compute_stats(const trace::Trace& trace, std::string_view name);

}  // namespace quor_core::eval
