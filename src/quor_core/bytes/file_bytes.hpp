#pragma once
// Reads a whole file into memory for the loaders that scan their input as bytes.

#include <cstdint>
#include <string>
#include <vector>

#include "util/interrupt.hpp"
#include "util/result.hpp"

namespace quor_core::trace {

// On failure the error is the operating system's text, "<description> (os error N)". A pipe,
// FIFO or device is waited for no longer than the interrupt allows (util::Interrupted).
Result<std::vector<uint8_t>, std::string> read_file_bytes(const std::string& path,
                                                          const util::Interrupt& interrupt = util::Interrupt::never());

// The same, with the message "Failed to read {path}: {os text}".
Result<std::vector<uint8_t>, std::string> read_file_or_message(
    const std::string& path, const util::Interrupt& interrupt = util::Interrupt::never());

}  // namespace quor_core::trace
