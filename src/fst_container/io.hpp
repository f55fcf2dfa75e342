#pragma once
// Byte sources and the primitive readers of the FST format.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "result.hpp"

namespace fst_container {

// A readable, seekable run of bytes: a buffered file or memory.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    ByteSource() = default;
    ByteSource(const ByteSource&) = delete;
    ByteSource& operator=(const ByteSource&) = delete;

    // Reads up to n bytes; 0 means the end of the input.
    virtual Result<std::size_t> read_some(std::uint8_t* dst, std::size_t n) = 0;
    virtual std::uint64_t position() const = 0;
    // Seeks to an absolute position; positions past the end are allowed and
    // simply read nothing.
    virtual Status seek(std::uint64_t pos) = 0;
    // Total length of the input.
    virtual std::uint64_t size() const = 0;
    // The bytes from the current position on when they are in memory;
    // an empty span for file-backed sources.
    virtual std::span<const std::uint8_t> contiguous() const { return {}; }
    // All bytes of a source that holds them in memory; empty for a file.
    virtual std::span<const std::uint8_t> held() const { return {}; }
    // Reads exactly n bytes at pos. It moves no position and fills no buffer, so any number of
    // threads may call it at once.
    virtual Status read_at(std::uint64_t pos, std::uint8_t* dst, std::size_t n) const = 0;
    // Where the input ends, for the user: "the file ends at byte 120".
    virtual std::string end_description() const { return "the data ends at byte " + std::to_string(size()); }
    // The error of a read that met the end of the input.
    ReaderError end_of_input() const { return ReaderError::unexpected_eof().with_detail(end_description()); }

    std::uint64_t remaining() const {
        const std::uint64_t pos = position();
        const std::uint64_t total = size();
        return pos < total ? total - pos : 0;
    }
    Status read_exact(std::uint8_t* dst, std::size_t n);
    Result<std::uint8_t> read_u8();
    Status seek_relative(std::int64_t delta);
};

// A file read through a buffer of its own (positional reads, no shared offset).
class FileSource final : public ByteSource {
public:
    static constexpr std::size_t default_buffer_size = 8192;
    // Fails with an Io error of kind Os carrying the platform's message; a
    // directory is rejected here rather than on the first read.
    static Result<FileSource> open(const std::string& path, std::size_t buffer_size = default_buffer_size);

    FileSource(FileSource&& other) noexcept;
    FileSource& operator=(FileSource&& other) noexcept;
    ~FileSource() override;

    Result<std::size_t> read_some(std::uint8_t* dst, std::size_t n) override;
    std::uint64_t position() const override { return position_; }
    Status seek(std::uint64_t pos) override;
    std::uint64_t size() const override { return size_; }
    Status read_at(std::uint64_t pos, std::uint8_t* dst, std::size_t n) const override;
    // A device states no size: where reading stopped is where it ended.
    std::string end_description() const override {
        return "the file ends at byte " + std::to_string(size_ > 0 ? size_ : position_);
    }

private:
    FileSource(int fd, std::uint64_t size, std::size_t buffer_size);

    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t buffer_start_ = 0;  // file position of buffer_[0]
    std::size_t buffer_len_ = 0;      // valid bytes in buffer_
};

// Bytes in memory, not owned, read through a 64-bit cursor.
class SliceSource final : public ByteSource {
public:
    // what names the bytes for the user ("the decompressed hierarchy").
    explicit SliceSource(std::span<const std::uint8_t> bytes, std::string what = "the data")
        : bytes_(bytes), what_(std::move(what)) {}

    Result<std::size_t> read_some(std::uint8_t* dst, std::size_t n) override;
    std::uint64_t position() const override { return cursor_; }
    Status seek(std::uint64_t pos) override {
        cursor_ = pos;
        return {};
    }
    std::uint64_t size() const override { return bytes_.size(); }
    std::span<const std::uint8_t> contiguous() const override {
        return cursor_ < bytes_.size() ? bytes_.subspan(static_cast<std::size_t>(cursor_))
                                       : std::span<const std::uint8_t>{};
    }
    std::span<const std::uint8_t> held() const override { return bytes_; }
    Status read_at(std::uint64_t pos, std::uint8_t* dst, std::size_t n) const override;
    std::string end_description() const override { return what_ + " ends at byte " + std::to_string(bytes_.size()); }

private:
    std::span<const std::uint8_t> bytes_;
    std::string what_;
    std::uint64_t cursor_ = 0;
};

// Bytes in memory, owned (an FST file whose gzip wrapper has been removed).
class VectorSource final : public ByteSource {
public:
    explicit VectorSource(std::vector<std::uint8_t> bytes, std::string what = "the file")
        : bytes_(std::move(bytes)), slice_(bytes_, std::move(what)) {}

    Result<std::size_t> read_some(std::uint8_t* dst, std::size_t n) override { return slice_.read_some(dst, n); }
    std::uint64_t position() const override { return slice_.position(); }
    Status seek(std::uint64_t pos) override { return slice_.seek(pos); }
    std::uint64_t size() const override { return slice_.size(); }
    std::span<const std::uint8_t> contiguous() const override { return slice_.contiguous(); }
    std::span<const std::uint8_t> held() const override { return slice_.held(); }
    Status read_at(std::uint64_t pos, std::uint8_t* dst, std::size_t n) const override {
        return slice_.read_at(pos, dst, n);
    }
    std::string end_description() const override { return slice_.end_description(); }

private:
    std::vector<std::uint8_t> bytes_;
    SliceSource slice_;
};

// A stretch of another source read as a source of its own: positions count from the
// stretch's start and reads end at its end. The other source must outlive it.
class SectionSource final : public ByteSource {
public:
    // start + length must lie within inner.
    SectionSource(ByteSource& inner, std::uint64_t start, std::uint64_t length)
        : inner_(inner), start_(start), length_(length) {}

    Result<std::size_t> read_some(std::uint8_t* dst, std::size_t n) override;
    std::uint64_t position() const override { return cursor_; }
    Status seek(std::uint64_t pos) override {
        cursor_ = pos;
        return {};
    }
    std::uint64_t size() const override { return length_; }
    std::span<const std::uint8_t> contiguous() const override {
        const std::span<const std::uint8_t> all = held();
        return cursor_ < all.size() ? all.subspan(static_cast<std::size_t>(cursor_)) : std::span<const std::uint8_t>{};
    }
    std::span<const std::uint8_t> held() const override {
        const std::span<const std::uint8_t> all = inner_.held();
        if (all.empty()) return {};
        return all.subspan(static_cast<std::size_t>(start_), static_cast<std::size_t>(length_));
    }
    Status read_at(std::uint64_t pos, std::uint8_t* dst, std::size_t n) const override;
    // In the positions of the source it is part of.
    std::string end_description() const override {
        return "the block ends at byte " + std::to_string(start_ + length_);
    }

private:
    ByteSource& inner_;
    std::uint64_t start_;
    std::uint64_t length_;
    std::uint64_t cursor_ = 0;
};

// --- primitives -----------------------------------------------------------

// Value and number of bytes consumed.
template <typename T>
struct Varint {
    T value;
    std::uint8_t length;
};

Result<Varint<std::uint32_t>> read_variant_u32(ByteSource& src);
Result<Varint<std::uint64_t>> read_variant_u64(ByteSource& src);
// Signed little-endian base-128, sign taken from bit 6 of the last byte.
Result<std::int64_t> read_variant_i64(ByteSource& src);
Result<std::uint64_t> read_u64(ByteSource& src);
Result<std::int8_t> read_i8(ByteSource& src);
// Up to len bytes; shorter at the end of the input, without error.
Result<std::vector<std::uint8_t>> read_bytes(ByteSource& src, std::size_t len);
// Zero-terminated text; the zero must come within the first max_size bytes.
Result<std::string> read_c_str(ByteSource& src, std::size_t max_size);
// Fixed-width text field, consumed whole.
Result<std::string> read_c_str_fixed_length(ByteSource& src, std::size_t len);
Status read_gzip_header(ByteSource& src);
// A zlib block of exactly uncompressed_len bytes; stored uncompressed when
// the two lengths are equal and allow_stored is set.
Result<std::vector<std::uint8_t>> read_zlib_compressed_bytes(ByteSource& src, std::uint64_t uncompressed_len,
                                                             std::uint64_t compressed_len, bool allow_stored);
Result<std::vector<std::uint8_t>> read_lz4_compressed_bytes(ByteSource& src, std::size_t uncompressed_len,
                                                            std::size_t compressed_len);

// --- varints over memory (hot paths) --------------------------------------

// Decoders over [p, end); on success advance p. They fail on truncation or
// overlong encodings like their ByteSource counterparts.
Result<std::uint32_t> decode_varint_u32(const std::uint8_t*& p, const std::uint8_t* end);

// Hot-path form: false on truncation or an overlong encoding (p is then
// unspecified; decode_varint_u32 from the same start gives the error).
inline bool try_varint_u32(const std::uint8_t*& p, const std::uint8_t* end, std::uint32_t& out) {
    // One and two bytes, the usual lengths in value changes (which of the two varies from change
    // to change), without a branch on the length.
    if (end - p >= 2) {
        const std::uint32_t first = p[0];
        const std::uint32_t second = p[1];
        const std::uint32_t two = first >> 7;
        if ((second >> 7 & two) == 0) {
            out = (first & 0x7F) | ((second << 7) & (0u - two));
            p += 1 + two;
            return true;
        }
    } else if (p != end && *p < 0x80) {
        out = *p++;
        return true;
    }
    std::uint32_t value = 0;
    for (unsigned i = 0; i < 5; ++i) {
        if (p == end) return false;
        const std::uint8_t b = *p++;
        value |= static_cast<std::uint32_t>(b & 0x7F) << (7 * i);
        if ((b & 0x80) == 0) {
            out = value;
            return true;
        }
    }
    return false;
}
Result<std::uint64_t> decode_varint_u64(const std::uint8_t*& p, const std::uint8_t* end);

}  // namespace fst_container
