#pragma once
// Loads VCD text that can be read only once: a pipe or a device (/dev/stdin).

#include <cstdint>
#include <span>
#include <string>

#include "formats/vcd/vcd.hpp"
#include "util/result.hpp"

namespace quor_core::trace {

// Whether data starts as VCD text does: a $ keyword or a # timestamp after blank space (and a
// UTF-8 byte order mark).
bool starts_as_vcd_text(std::span<const uint8_t> data);

// Reads the stream at path whole (as VcdTrace::from_file does: inflated when it is
// gzip-compressed) and loads it as VCD.
// A stream has no name to tell its format by, so its own first bytes must be VCD text: an
// empty stream, binary bytes or an FST are refused with a message saying so.
Result<VcdTrace, std::string> load_vcd_stream(const std::string& path, VcdPieces pieces = {},
                                              const util::Interrupt& interrupt = util::Interrupt::never());

}  // namespace quor_core::trace
