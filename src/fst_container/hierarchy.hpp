#pragma once
// Decoding of the hierarchy block.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "io.hpp"
#include "result.hpp"
#include "types.hpp"

namespace fst_container {

inline constexpr std::size_t hierarchy_name_max = 65536;
inline constexpr std::size_t attribute_name_max = 69632;

// Decompresses the hierarchy block whose section length is at the current
// position of src.
Result<std::vector<std::uint8_t>> read_hierarchy_bytes(ByteSource& src, HierarchyCompression compression);

// Decodes the next entry into entry; false at the end of the bytes.
// handle_counter is the last handle given to a signal of its own (0 before
// the first).
Result<bool> read_hierarchy_entry(ByteSource& bytes, std::uint32_t& handle_counter, FstHierarchyEntry& entry);

// Turns a decoded miscellaneous attribute into an entry.
Result<FstHierarchyEntry> parse_misc_attribute(std::string name, std::uint8_t subtype, std::uint64_t argument,
                                               std::optional<std::uint64_t> path_id);

}  // namespace fst_container
