#pragma once
// The bits of a value as text, most significant first: '0', '1', 'x' and 'z'.

#include <cstdint>
#include <optional>
#include <string>

#include "signal/column.hpp"

namespace quor_core::signal {

// The bits of a Uint, Wide or FourState value, at least width of them: a two-state value is
// extended with zeros, a four-state one as a VCD value is (with its leading x or z, else with
// zeros). Nothing for a Real, Text or Unknown value.
std::optional<std::string> bit_text(const ValueRef& value, uint32_t width);

}  // namespace quor_core::signal
