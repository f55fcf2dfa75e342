#pragma once
// Timescale: the time unit a trace's timestamps count in, as a magnitude (1, 10, 100, ...) of
// a decimal unit of seconds ("s", "ms", "us", "ns", "ps", "fs", "as").

#include <cstdint>
#include <optional>
#include <string_view>

namespace quor_core::trace {

struct Timescale {
    uint64_t magnitude = 1;
    int unit_exponent = 0;  // the unit is 10 to this power seconds: 0, -3, -6, ..., -18

    std::string_view unit_name() const;
    friend bool operator==(const Timescale&, const Timescale&) = default;
};

// The timescale of 10 to the power exponent seconds (as FST headers state it); nothing when it
// is finer than attoseconds or coarser than 10**18 seconds.
std::optional<Timescale> timescale_from_exponent(int exponent);

// The timescale stated by the first "$timescale ... $end" of VCD text ("1ns", "10 ps", over one
// or several lines); nothing when the text has none, or a malformed one.
std::optional<Timescale> find_vcd_timescale(std::string_view text);

}  // namespace quor_core::trace
