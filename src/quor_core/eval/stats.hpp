#pragma once
// Statistics of one signal over the whole trace, in one pass.

#include <cstdint>
#include <string_view>

#include "trace/trace.hpp"

namespace quor_core::eval {

struct SignalStats {
    uint64_t min = 0;
    uint64_t max = 0;
    uint64_t sum = 0;  // modulo 2^64
    uint64_t count = 0;
    uint64_t transitions = 0;
    uint64_t num_x = 0;
    uint64_t num_z = 0;
    bool operator==(const SignalStats&) const = default;
};

SignalStats compute_stats(const trace::Trace& trace, std::string_view name);

}  // namespace quor_core::eval
