#pragma once
// Searches over all signal names: anchored glob patterns and case-insensitive substrings.

#include <string>
#include <string_view>
#include <vector>

#include "trace/trace.hpp"

namespace quor_core::eval {

// '*' matches any run of bytes, '?' exactly one byte, every other byte itself. Greedy with
// backtracking to the last '*', so the cost is at most the product of the lengths.
bool glob_match(std::string_view pattern, std::string_view name);

std::vector<std::string> find_signals_glob(const trace::Trace& trace, std::string_view pattern);
// Names whose full Unicode lower case contains the lower case of substring, unchanged.
std::vector<std::string> find_signals_containing(const trace::Trace& trace, std::string_view substring);

}  // namespace quor_core::eval
