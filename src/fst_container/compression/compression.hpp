#pragma once
// Bounded decompression of in-memory blocks (zlib, raw DEFLATE, LZ4) and
// sanity limits for lengths claimed by a file.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "fst_container/io.hpp"
#include "fst_container/result.hpp"

namespace fst_container {

// Largest expansion each method can achieve, plus slack for tiny inputs.
// A claimed uncompressed length above these limits cannot be honest and is
// rejected before anything is allocated.
inline constexpr std::uint64_t max_deflate_ratio = 1040;
inline constexpr std::uint64_t max_lz4_ratio = 256;
inline constexpr std::uint64_t max_fastlz_ratio = 256;
inline constexpr std::uint64_t ratio_slack = 64;

inline bool expansion_plausible(std::uint64_t compressed, std::uint64_t uncompressed, std::uint64_t ratio) {
    if (compressed > (UINT64_MAX - ratio_slack) / ratio) return true;
    return uncompressed <= compressed * ratio + ratio_slack;
}

// The error for a block whose input cannot expand to the output it claims (an LZ4 error, as
// the decompressor would give, without the allocation).
inline ReaderError lz4_implausible(std::uint64_t compressed, std::uint64_t uncompressed) {
    return ReaderError::lz4(-1).with_detail(std::to_string(compressed) + " bytes cannot expand to the stated " +
                                            std::to_string(uncompressed) + " bytes");
}

enum class DeflateFormat { Zlib, Raw };

// An inflate stream kept from one inflate_into to the next: setting a stream up allocates its
// state and window (some 40 KB), which costs more than inflating the few hundred bytes of one
// signal's changes. One thread at a time.
class InflateState {
public:
    InflateState();
    ~InflateState();
    InflateState(const InflateState&) = delete;
    InflateState& operator=(const InflateState&) = delete;
    InflateState(InflateState&&) noexcept;
    InflateState& operator=(InflateState&&) noexcept;

    struct Stream;
    // The stream, set up afresh for format; null when zlib cannot start one (status says why).
    Stream* ready(DeflateFormat format, int& status);

private:
    std::unique_ptr<Stream> stream_;
};

// Inflates input into out[0, capacity). Output beyond capacity, a truncated
// stream, a preset dictionary or corrupt data are ZLibDecompress errors.
// Bytes after the end of the stream are ignored. Gives the bytes produced.
Result<std::size_t> inflate_into(std::span<const std::uint8_t> input, std::uint8_t* out, std::size_t capacity,
                                 DeflateFormat format);
// The same with a stream kept in state.
Result<std::size_t> inflate_into(std::span<const std::uint8_t> input, std::uint8_t* out, std::size_t capacity,
                                 DeflateFormat format, InflateState& state);

// Decompresses one LZ4 block into out[0, capacity); gives the bytes produced.
Result<std::size_t> lz4_decompress_into(std::span<const std::uint8_t> input, std::uint8_t* out,
                                        std::size_t capacity);

// Removes the gzip wrapper of a whole FST file: the member header, then raw
// DEFLATE data inflated until uncompressed_len bytes have been produced or
// the stream ends.
Result<std::vector<std::uint8_t>> inflate_gzip_wrapper(ByteSource& src, std::uint64_t uncompressed_len);

}  // namespace fst_container
