#pragma once
// FastLZ (levels 1 and 2) decompression.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fst_container/io.hpp"
#include "fst_container/result.hpp"

namespace fst_container::fastlz {

// Decodes a stream of compressed_len bytes read from src, instruction by
// instruction. The output may not exceed uncompressed_len bytes.
Result<std::vector<std::uint8_t>> decompress(ByteSource& src, std::uint64_t compressed_len,
                                             std::uint64_t uncompressed_len);

// Appends a literal run of control + 1 bytes (fewer at the end of the input)
// and adds control + 1 to consumed.
Status literal_run(ByteSource& src, std::uint8_t control, std::uint64_t& consumed, std::vector<std::uint8_t>& out);

// Decodes the stream in input into out[0, capacity); gives the bytes
// produced. Hot-path form of decompress for data already in memory.
Result<std::size_t> decompress_into(std::span<const std::uint8_t> input, std::uint8_t* out, std::size_t capacity);

}  // namespace fst_container::fastlz
