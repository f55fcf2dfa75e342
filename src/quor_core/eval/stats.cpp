#include "eval/stats.hpp"

#include <algorithm>
#include <limits>

#include "eval/runs.hpp"

namespace quor_core::eval {

using signal::ValueKind;

SignalStats compute_stats(const trace::Trace& trace, std::string_view name) {
    const auto id = trace.signal_id(name);
    if (!id) return {};
    SignalStats s;
    s.min = std::numeric_limits<uint64_t>::max();
    RunWalker runs(trace.store().column(*id), trace.max_index());
    uint64_t begin = 0, end = 0;
    signal::ValueRef v, prev;
    while (runs.next(begin, end, v)) {
        const uint64_t n = end - begin;
        switch (v.kind()) {
            case ValueKind::Uint:
                s.sum += v.as_uint() * n;  // n additions of v, modulo 2^64
                s.max = std::max(s.max, v.as_uint());
                s.min = std::min(s.min, v.as_uint());
                s.count += n;
                break;
            case ValueKind::FourState: {
                const auto& bits = v.heap().as_four_state().bits;
                s.num_x += n * static_cast<uint64_t>(std::count(bits.begin(), bits.end(), signal::kBitX));
                s.num_z += n * static_cast<uint64_t>(std::count(bits.begin(), bits.end(), signal::kBitZ));
                break;
            }
            case ValueKind::Unknown: s.num_x += n; break;
            default: break;
        }
        if (begin > 0 && !identical(prev, v)) ++s.transitions;
        if (is_nan_real(v)) s.transitions += n - 1;  // NaN is never identical to itself
        prev = v;
    }
    if (s.count == 0) s.min = 0;
    return s;
}

}  // namespace quor_core::eval
