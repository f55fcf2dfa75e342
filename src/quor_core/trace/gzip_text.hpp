#pragma once
// Inflates gzip data held in memory (a .vcd.gz read from a pipe), every member of it.

#include <cstdint>
#include <span>
#include <string>

#include "util/result.hpp"

namespace quor_core::trace {

inline bool starts_as_gzip(std::span<const uint8_t> data) {
    return data.size() >= 2 && data[0] == 0x1f && data[1] == 0x8b;
}

// The inflated bytes of every gzip member in data, one after the other, as gzip -d gives them.
// Data that ends inside a member gives what was inflated up to there (a dump cut short, as the
// VCD loader reads a cut text); bytes after the last member that do not start another are
// ignored. Damaged data is an error naming zlib's complaint.
Result<std::string, std::string> gunzip(std::span<const uint8_t> data);

}  // namespace quor_core::trace
