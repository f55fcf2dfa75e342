#pragma once
// Maps a time to a sample index: the last timestamp equal to it, else the last one below it,
// else 0. Loaders that deliver changes signal by signal ask for times that are usually near
// the previous answer, so the search gallops outwards from it before bisecting.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quor_core::trace {

class TimeIndexFinder {
public:
    // timestamps must be ascending and outlive the finder.
    explicit TimeIndexFinder(const std::vector<uint64_t>& timestamps) : timestamps_(timestamps) {}

    uint64_t index_of(uint64_t time) {
        const uint64_t* ts = timestamps_.data();
        const size_t n = timestamps_.size();
        size_t p = hint_;  // first position whose time is above the previous call's time
        if (p < n && ts[p] <= time) {
            size_t lo = p + 1;  // ts[lo - 1] <= time
            size_t step = 1;
            while (lo + step - 1 < n && ts[lo + step - 1] <= time) {
                lo += step;
                step *= 2;
            }
            const size_t hi = std::min(lo + step - 1, n);
            p = static_cast<size_t>(std::upper_bound(ts + lo, ts + hi, time) - ts);
        } else if (p > 0 && ts[p - 1] > time) {
            size_t hi = p - 1;  // ts[hi] > time
            size_t step = 1;
            while (hi >= step && ts[hi - step] > time) {
                hi -= step;
                step *= 2;
            }
            const size_t lo = hi >= step ? hi - step + 1 : 0;
            p = static_cast<size_t>(std::upper_bound(ts + lo, ts + hi, time) - ts);
        }
        hint_ = p;
        return p == 0 ? 0 : p - 1;
    }

private:
    const std::vector<uint64_t>& timestamps_;
    size_t hint_ = 0;
};

}  // namespace quor_core::trace
