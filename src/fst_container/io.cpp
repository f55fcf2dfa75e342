#include "io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "compression/compression.hpp"
#include "utf8.hpp"

namespace fst_container {
namespace {

ReaderError os_error(int code) { return ReaderError::io(IoKind::Os, std::strerror(code), code); }

ReaderError bad_seek() {
    return ReaderError::io(IoKind::InvalidInput, "invalid seek to a negative or overflowing position");
}

Result<std::string> bytes_to_string(std::string bytes) {
    if (!is_valid_utf8(bytes)) {
        return ReaderError::utf8_string(std::move(bytes)).with_detail("a text holds bytes that are not UTF-8");
    }
    return bytes;
}

}  // namespace

// --- ByteSource -------------------------------------------------------------

Status ByteSource::read_exact(std::uint8_t* dst, std::size_t n) {
    while (n > 0) {
        FST_TRY(const std::size_t got, read_some(dst, n));
        if (got == 0) return end_of_input();
        dst += got;
        n -= got;
    }
    return {};
}

Result<std::uint8_t> ByteSource::read_u8() {
    std::uint8_t b = 0;
    FST_CHECK(read_exact(&b, 1));
    return b;
}

Status ByteSource::seek_relative(std::int64_t delta) {
    const std::uint64_t pos = position();
    if (delta < 0) {
        const std::uint64_t back = static_cast<std::uint64_t>(-(delta + 1)) + 1;
        if (back > pos) return bad_seek();
        return seek(pos - back);
    }
    const auto fwd = static_cast<std::uint64_t>(delta);
    if (fwd > UINT64_MAX - pos || pos + fwd > static_cast<std::uint64_t>(INT64_MAX)) return bad_seek();
    return seek(pos + fwd);
}

// --- FileSource -------------------------------------------------------------

FileSource::FileSource(int fd, std::uint64_t size, std::size_t buffer_size)
    : fd_(fd), size_(size), buffer_(std::max<std::size_t>(buffer_size, 1)) {}

FileSource::FileSource(FileSource&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      size_(other.size_),
      position_(other.position_),
      buffer_(std::move(other.buffer_)),
      buffer_start_(other.buffer_start_),
      buffer_len_(std::exchange(other.buffer_len_, 0)) {}

FileSource& FileSource::operator=(FileSource&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        size_ = other.size_;
        position_ = other.position_;
        buffer_ = std::move(other.buffer_);
        buffer_start_ = other.buffer_start_;
        buffer_len_ = std::exchange(other.buffer_len_, 0);
    }
    return *this;
}

FileSource::~FileSource() {
    if (fd_ >= 0) ::close(fd_);
}

Result<FileSource> FileSource::open(const std::string& path, std::size_t buffer_size) {
    // A FIFO is opened without waiting for its writer (it then fails on its first read, since
    // FST is read at offsets); reads block as usual afterwards.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return os_error(errno);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int code = errno;
        ::close(fd);
        return os_error(code);
    }
    const std::uint64_t size = S_ISREG(st.st_mode) ? static_cast<std::uint64_t>(st.st_size) : 0;
    return FileSource(fd, size, buffer_size);
}

Result<std::size_t> FileSource::read_some(std::uint8_t* dst, std::size_t n) {
    if (n == 0) return std::size_t{0};
    // Serve from the buffer when the position lies inside it.
    if (position_ >= buffer_start_ && position_ < buffer_start_ + buffer_len_) {
        const auto offset = static_cast<std::size_t>(position_ - buffer_start_);
        const std::size_t take = std::min(n, buffer_len_ - offset);
        std::memcpy(dst, buffer_.data() + offset, take);
        position_ += take;
        return take;
    }
    if (position_ > static_cast<std::uint64_t>(INT64_MAX)) return std::size_t{0};
    const bool direct = n >= buffer_.size();
    std::uint8_t* target = direct ? dst : buffer_.data();
    const std::size_t want = direct ? n : buffer_.size();
    ssize_t got = 0;
    do {
        got = ::pread(fd_, target, want, static_cast<off_t>(position_));
    } while (got < 0 && errno == EINTR);
    if (got < 0) return os_error(errno);
    const auto count = static_cast<std::size_t>(got);
    if (direct) {
        position_ += count;
        return count;
    }
    buffer_start_ = position_;
    buffer_len_ = count;
    const std::size_t take = std::min(n, count);
    std::memcpy(dst, buffer_.data(), take);
    position_ += take;
    return take;
}

Status FileSource::seek(std::uint64_t pos) {
    if (pos > static_cast<std::uint64_t>(INT64_MAX)) return bad_seek();
    position_ = pos;
    return {};
}

Status FileSource::read_at(std::uint64_t pos, std::uint8_t* dst, std::size_t n) const {
    while (n > 0) {
        if (pos > static_cast<std::uint64_t>(INT64_MAX)) return end_of_input();
        ssize_t got = 0;
        do {
            got = ::pread(fd_, dst, n, static_cast<off_t>(pos));
        } while (got < 0 && errno == EINTR);
        if (got < 0) return os_error(errno);
        if (got == 0) return end_of_input();
        const auto count = static_cast<std::size_t>(got);
        dst += count;
        n -= count;
        pos += count;
    }
    return {};
}

// --- SliceSource ------------------------------------------------------------

Status SliceSource::read_at(std::uint64_t pos, std::uint8_t* dst, std::size_t n) const {
    if (pos > bytes_.size() || n > bytes_.size() - pos) return end_of_input();
    if (n > 0) std::memcpy(dst, bytes_.data() + pos, n);
    return {};
}

Result<std::size_t> SliceSource::read_some(std::uint8_t* dst, std::size_t n) {
    if (cursor_ >= bytes_.size()) return std::size_t{0};
    const auto at = static_cast<std::size_t>(cursor_);
    const std::size_t take = std::min(n, bytes_.size() - at);
    if (take > 0) std::memcpy(dst, bytes_.data() + at, take);
    cursor_ += take;
    return take;
}

// --- SectionSource ----------------------------------------------------------

Result<std::size_t> SectionSource::read_some(std::uint8_t* dst, std::size_t n) {
    if (cursor_ >= length_) return std::size_t{0};
    const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(n, length_ - cursor_));
    FST_CHECK(inner_.seek(start_ + cursor_));
    FST_TRY(const std::size_t got, inner_.read_some(dst, take));
    cursor_ += got;
    return got;
}

Status SectionSource::read_at(std::uint64_t pos, std::uint8_t* dst, std::size_t n) const {
    if (pos > length_ || n > length_ - pos) return end_of_input();
    return inner_.read_at(start_ + pos, dst, n);
}

// --- varints ----------------------------------------------------------------

ReaderError number_cut_short() {
    return ReaderError::unexpected_eof().with_detail("a number runs past the end of its data");
}

Result<std::uint32_t> decode_varint_u32(const std::uint8_t*& p, const std::uint8_t* end) {
    std::uint32_t value = 0;
    for (unsigned i = 0; i < 5; ++i) {
        if (p == end) return number_cut_short();
        const std::uint8_t b = *p++;
        value |= static_cast<std::uint32_t>(b & 0x7F) << (7 * i);  // bits beyond 32 drop out
        if ((b & 0x80) == 0) return value;
    }
    return ReaderError::leb128(32);
}

Result<std::uint64_t> decode_varint_u64(const std::uint8_t*& p, const std::uint8_t* end) {
    std::uint64_t value = 0;
    for (unsigned i = 0; i < 10; ++i) {
        if (p == end) return number_cut_short();
        const std::uint8_t b = *p++;
        value |= static_cast<std::uint64_t>(b & 0x7F) << (7 * i);
        if ((b & 0x80) == 0) return value;
    }
    return ReaderError::leb128(64);
}

template <typename T, unsigned MaxBytes, unsigned Bits>
static Result<Varint<T>> read_varint(ByteSource& src) {
    T value = 0;
    for (unsigned i = 0; i < MaxBytes; ++i) {
        FST_TRY(const std::uint8_t b, src.read_u8());
        value |= static_cast<T>(static_cast<T>(b & 0x7F) << (7 * i));
        if ((b & 0x80) == 0) return Varint<T>{value, static_cast<std::uint8_t>(i + 1)};
    }
    return ReaderError::leb128(Bits);
}

Result<Varint<std::uint32_t>> read_variant_u32(ByteSource& src) { return read_varint<std::uint32_t, 5, 32>(src); }

Result<Varint<std::uint64_t>> read_variant_u64(ByteSource& src) { return read_varint<std::uint64_t, 10, 64>(src); }

Result<std::int64_t> read_variant_i64(ByteSource& src) {
    std::uint64_t value = 0;
    unsigned shift = 0;
    for (unsigned i = 0; i < 10; ++i) {
        FST_TRY(const std::uint8_t b, src.read_u8());
        value |= static_cast<std::uint64_t>(b & 0x7F) << shift;
        shift += 7;
        if ((b & 0x80) == 0) {
            if (shift < 64 && (b & 0x40) != 0) value |= ~std::uint64_t{0} << shift;
            return static_cast<std::int64_t>(value);
        }
    }
    return ReaderError::leb128(64);
}

// --- fixed-width values -----------------------------------------------------

Result<std::uint64_t> read_u64(ByteSource& src) {
    std::uint8_t b[8];
    FST_CHECK(src.read_exact(b, 8));
    std::uint64_t v = 0;
    for (const std::uint8_t byte : b) v = (v << 8) | byte;
    return v;
}

Result<std::int8_t> read_i8(ByteSource& src) {
    FST_TRY(const std::uint8_t b, src.read_u8());
    return static_cast<std::int8_t>(b);
}

Result<std::vector<std::uint8_t>> read_bytes(ByteSource& src, std::size_t len) {
    // Never allocate more than the input can still deliver.
    const std::size_t cap = static_cast<std::size_t>(std::min<std::uint64_t>(len, src.remaining()));
    std::vector<std::uint8_t> out(cap);
    std::size_t filled = 0;
    while (filled < cap) {
        FST_TRY(const std::size_t got, src.read_some(out.data() + filled, cap - filled));
        if (got == 0) break;
        filled += got;
    }
    out.resize(filled);
    return out;
}

// --- text -------------------------------------------------------------------

Result<std::string> read_c_str(ByteSource& src, std::size_t max_size) {
    const std::span<const std::uint8_t> mem = src.contiguous();
    if (!mem.empty()) {
        const std::size_t scan = std::min(mem.size(), max_size);
        const void* zero = std::memchr(mem.data(), 0, scan);
        if (zero != nullptr) {
            const auto len = static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - mem.data());
            std::string bytes(reinterpret_cast<const char*>(mem.data()), len);
            FST_CHECK(src.seek(src.position() + len + 1));
            return bytes_to_string(std::move(bytes));
        }
    }
    std::string bytes;
    bytes.reserve(32);
    for (;;) {
        FST_TRY(const std::uint8_t b, src.read_u8());
        if (b == 0) return bytes_to_string(std::move(bytes));
        bytes.push_back(static_cast<char>(b));
        if (bytes.size() >= max_size) return ReaderError::c_string_too_long(max_size, utf8_lossy(bytes));
    }
}

Result<std::string> read_c_str_fixed_length(ByteSource& src, std::size_t len) {
    FST_TRY(const std::vector<std::uint8_t> field, read_bytes(src, len));
    std::size_t end = 0;
    while (end < field.size() && field[end] != 0) ++end;
    if (end == field.size() && end > 0) --end;  // no terminator: the last byte is dropped
    return bytes_to_string(std::string(reinterpret_cast<const char*>(field.data()), end));
}

// --- gzip member header -----------------------------------------------------

namespace {

// Flag bits of a member header (bit 0 only marks text and needs nothing).
enum GzipFlag : std::uint8_t { HeaderCrc = 2, Extra = 4, Name = 8, Comment = 16, Reserved = 0xE0 };

// Skips a zero-terminated field of the header; what names it for an error.
Status skip_gzip_text(ByteSource& src, const char* what) {
    for (;;) {
        std::uint8_t b = 0;
        FST_TRY(const std::size_t got, src.read_some(&b, 1));
        if (got == 0) return ReaderError::gzip_header(std::string("the header ends inside its ") + what);
        if (b == 0) return {};
    }
}

Status skip_gzip_bytes(ByteSource& src, std::size_t n, const char* what) {
    FST_TRY(const std::vector<std::uint8_t> skipped, read_bytes(src, n));
    if (skipped.size() != n) return ReaderError::gzip_header(std::string("the header ends inside its ") + what);
    return {};
}

}  // namespace

Status read_gzip_header(ByteSource& src) {
    FST_TRY(const std::vector<std::uint8_t> header, read_bytes(src, 10));
    const auto byte = [&](std::size_t i) { return i < header.size() ? header[i] : -1; };
    if (byte(0) != 0x1F || byte(1) != 0x8B) {
        std::string list = "[";
        for (std::size_t i = 0; i < header.size(); ++i) {
            if (i) list += ", ";
            list += std::to_string(header[i]);
        }
        return ReaderError::gzip_header("expected magic bytes (0x1f, 0x8b) got " + list + "]");
    }
    if (byte(2) != 8) {
        return ReaderError::gzip_header("expected deflate compression (8) got " +
                                        (header.size() > 2 ? std::to_string(header[2]) : std::string("nothing")));
    }
    const int flags = byte(3);
    // Without optional fields, the rest (time, extra flags, system) is not needed; a body cut
    // short fails to inflate.
    if (flags <= 0) return {};
    if (flags & Reserved) {
        return ReaderError::gzip_header("the header sets reserved flag bits (flags " + std::to_string(flags) + ")");
    }
    if (header.size() < 10) return ReaderError::gzip_header("the header ends after " + std::to_string(header.size()) +
                                                            " of its 10 fixed bytes");
    if (flags & Extra) {
        FST_TRY(const std::vector<std::uint8_t> length, read_bytes(src, 2));  // little-endian
        if (length.size() != 2) return ReaderError::gzip_header("the header ends inside its extra field");
        FST_CHECK(skip_gzip_bytes(src, std::size_t{length[0]} | std::size_t{length[1]} << 8, "extra field"));
    }
    if (flags & Name) FST_CHECK(skip_gzip_text(src, "file name"));
    if (flags & Comment) FST_CHECK(skip_gzip_text(src, "comment"));
    if (flags & HeaderCrc) FST_CHECK(skip_gzip_bytes(src, 2, "header checksum"));
    return {};
}

// --- compressed blocks ------------------------------------------------------

Result<std::vector<std::uint8_t>> read_zlib_compressed_bytes(ByteSource& src, std::uint64_t uncompressed_len,
                                                             std::uint64_t compressed_len, bool allow_stored) {
    const auto past_end = [&] {
        return ReaderError::unexpected_eof().with_detail("a block of " + std::to_string(compressed_len) +
                                                         " bytes runs past the end: " + src.end_description());
    };
    if (uncompressed_len == compressed_len && allow_stored) {
        if (compressed_len > src.remaining()) return past_end();
        FST_TRY(std::vector<std::uint8_t> bytes, read_bytes(src, static_cast<std::size_t>(compressed_len)));
        if (bytes.size() != uncompressed_len) return past_end();
        return bytes;
    }
    const std::uint64_t start = src.position();
    FST_CHECK(src.read_u8());
    FST_CHECK(src.seek(start));
    if (compressed_len > src.remaining()) return past_end();
    if (!expansion_plausible(compressed_len, uncompressed_len, max_deflate_ratio)) {
        return ReaderError::invalid_data("a zlib block claims more bytes than its compressed form can hold");
    }
    FST_TRY(const std::vector<std::uint8_t> input, read_bytes(src, static_cast<std::size_t>(compressed_len)));
    std::vector<std::uint8_t> out(static_cast<std::size_t>(uncompressed_len));
    FST_TRY(const std::size_t produced, inflate_into(input, out.data(), out.size(), DeflateFormat::Zlib));
    if (produced != uncompressed_len) {
        return ReaderError::invalid_data("a zlib block is shorter than its stated length");
    }
    return out;
}

Result<std::vector<std::uint8_t>> read_lz4_compressed_bytes(ByteSource& src, std::size_t uncompressed_len,
                                                            std::size_t compressed_len) {
    // A block cut short by the end of the input is read as far as it goes and fails to
    // decompress; so does one that cannot hold the stated output (without the allocation).
    FST_TRY(const std::vector<std::uint8_t> input, read_bytes(src, compressed_len));
    if (!expansion_plausible(input.size(), uncompressed_len, max_lz4_ratio)) {
        return lz4_implausible(input.size(), uncompressed_len);
    }
    std::vector<std::uint8_t> out(uncompressed_len);
    FST_TRY(const std::size_t produced, lz4_decompress_into(input, out.data(), out.size()));
    out.resize(produced);
    return out;
}

}  // namespace fst_container
