#pragma once
// A frozen column with more than one run keeps one bit per timestamp to mark run starts, so a
// trace costs about (changing signals x timestamps) bits. The block formats can ask for many
// changing signals and many timestamps from a small file; their loaders keep at most as many
// leading timestamps as fit kMaxRunStartBits over the changing signals (at least one), and drop
// the later times with their values.

#include <cstdint>

namespace quor_core::trace {

inline constexpr uint64_t kMaxRunStartBits = uint64_t{1} << 30;  // 128 MiB of bit vectors

inline uint64_t kept_timestamps(uint64_t changing_signals, uint64_t timestamps) {
    if (changing_signals == 0) return timestamps;
    const uint64_t fit = kMaxRunStartBits / changing_signals;
    return timestamps < fit ? timestamps : (fit == 0 ? 1 : fit);
}

}  // namespace quor_core::trace
