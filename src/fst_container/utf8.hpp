#pragma once
// UTF-8 validation and lossy conversion of byte runs read from files.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fst_container {

// Length of the longest valid UTF-8 prefix of bytes.
std::size_t utf8_valid_prefix(std::string_view bytes);

inline bool is_valid_utf8(std::string_view bytes) { return utf8_valid_prefix(bytes) == bytes.size(); }

// bytes with each maximal invalid sequence replaced by U+FFFD.
std::string utf8_lossy(std::string_view bytes);

}  // namespace fst_container
