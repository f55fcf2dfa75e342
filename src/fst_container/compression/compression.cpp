#include "fst_container/compression/compression.hpp"

#include <lz4.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <string>

namespace fst_container {
namespace {

const char* zlib_status_name(int status) {
    switch (status) {
        case Z_NEED_DICT: return "NeedDict";
        case Z_STREAM_ERROR: return "StreamError";
        case Z_DATA_ERROR: return "DataError";
        case Z_MEM_ERROR: return "MemError";
        case Z_BUF_ERROR: return "BufError";
        case Z_VERSION_ERROR: return "VersionError";
        default: return "Unknown";
    }
}

// RAII holder of an inflate stream.
class Inflater {
public:
    explicit Inflater(int window_bits) { status_ = inflateInit2(&stream_, window_bits); }
    ~Inflater() {
        if (status_ == Z_OK) inflateEnd(&stream_);
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    bool ready() const { return status_ == Z_OK; }
    int init_status() const { return status_; }
    z_stream& stream() { return stream_; }

private:
    z_stream stream_{};
    int status_ = Z_STREAM_ERROR;
};

// What went wrong, from an inflate status and the stream's own message.
std::string inflate_fault(int status, const z_stream& zs) {
    switch (status) {
        case Z_NEED_DICT: return "the stream asks for a preset dictionary";
        case Z_MEM_ERROR: return "out of memory";
        case Z_BUF_ERROR: return "the compressed data ends early";
        default: break;
    }
    if (zs.msg != nullptr) return std::string("corrupt data (") + zs.msg + ")";
    return "corrupt data";
}

// zlib counts in uInt; feed at most this much at once.
constexpr std::size_t max_chunk = static_cast<std::size_t>(UINT_MAX);

// Inflates into out[0, capacity) with a stream set up for a new stream.
Result<std::size_t> inflate_with(z_stream& zs, std::span<const std::uint8_t> input, std::uint8_t* out,
                                 std::size_t capacity) {
    std::size_t in_pos = 0;
    std::size_t out_pos = 0;
    for (;;) {
        const std::size_t in_chunk = std::min(input.size() - in_pos, max_chunk);
        const std::size_t out_chunk = std::min(capacity - out_pos, max_chunk);
        zs.next_in = const_cast<Bytef*>(input.data() + in_pos);
        zs.avail_in = static_cast<uInt>(in_chunk);
        std::uint8_t spare = 0;
        // With the output full, offer one spare byte: if the stream still
        // produces output, it is longer than the stated size.
        const bool probing = out_chunk == 0;
        zs.next_out = probing ? &spare : out + out_pos;
        zs.avail_out = probing ? 1u : static_cast<uInt>(out_chunk);
        const int status = inflate(&zs, Z_NO_FLUSH);
        const std::size_t consumed = in_chunk - zs.avail_in;
        const std::size_t produced = (probing ? 1u : out_chunk) - zs.avail_out;
        in_pos += consumed;
        if (probing && produced > 0) {
            return ReaderError::zlib(Z_BUF_ERROR, out_pos)
                .with_detail("the data expands past its stated length of " + std::to_string(capacity) + " bytes");
        }
        out_pos += probing ? 0 : produced;
        if (status == Z_STREAM_END) return out_pos;
        if (status != Z_OK && status != Z_BUF_ERROR) {
            return ReaderError::zlib(status, out_pos).with_detail(inflate_fault(status, zs));
        }
        if (consumed == 0 && produced == 0) {
            // No progress: the input is exhausted before the stream ended.
            return ReaderError::zlib(Z_BUF_ERROR, out_pos).with_detail(inflate_fault(Z_BUF_ERROR, zs));
        }
    }
}

int window_bits(DeflateFormat format) { return format == DeflateFormat::Zlib ? MAX_WBITS : -MAX_WBITS; }

}  // namespace

struct InflateState::Stream {
    explicit Stream(DeflateFormat f) : inflater(window_bits(f)), format(f) {}
    Inflater inflater;
    DeflateFormat format;
};

InflateState::InflateState() = default;
InflateState::~InflateState() = default;
InflateState::InflateState(InflateState&&) noexcept = default;
InflateState& InflateState::operator=(InflateState&&) noexcept = default;

InflateState::Stream* InflateState::ready(DeflateFormat format, int& status) {
    if (stream_ && stream_->format == format && inflateReset(&stream_->inflater.stream()) == Z_OK) {
        status = Z_OK;
        return stream_.get();
    }
    stream_ = std::make_unique<Stream>(format);
    status = stream_->inflater.init_status();
    if (!stream_->inflater.ready()) {
        stream_.reset();
        return nullptr;
    }
    return stream_.get();
}

Result<std::size_t> inflate_into(std::span<const std::uint8_t> input, std::uint8_t* out, std::size_t capacity,
                                 DeflateFormat format) {
    Inflater inflater(window_bits(format));
    if (!inflater.ready()) {
        return ReaderError::zlib(inflater.init_status(), 0).with_detail("the inflater could not start");
    }
    return inflate_with(inflater.stream(), input, out, capacity);
}

Result<std::size_t> inflate_into(std::span<const std::uint8_t> input, std::uint8_t* out, std::size_t capacity,
                                 DeflateFormat format, InflateState& state) {
    int status = Z_OK;
    InflateState::Stream* stream = state.ready(format, status);
    if (stream == nullptr) return ReaderError::zlib(status, 0).with_detail("the inflater could not start");
    return inflate_with(stream->inflater.stream(), input, out, capacity);
}

Result<std::size_t> lz4_decompress_into(std::span<const std::uint8_t> input, std::uint8_t* out,
                                        std::size_t capacity) {
    if (input.size() > static_cast<std::size_t>(INT_MAX) || capacity > static_cast<std::size_t>(INT_MAX)) {
        return ReaderError::lz4(-1).with_detail("the block is too large");
    }
    const int produced = LZ4_decompress_safe(reinterpret_cast<const char*>(input.data()),
                                             reinterpret_cast<char*>(out), static_cast<int>(input.size()),
                                             static_cast<int>(capacity));
    if (produced < 0) {
        return ReaderError::lz4(produced).with_detail("the data is corrupt, cut short, or longer than its stated " +
                                                      std::to_string(capacity) + " bytes");
    }
    return static_cast<std::size_t>(produced);
}

Result<std::vector<std::uint8_t>> inflate_gzip_wrapper(ByteSource& src, std::uint64_t uncompressed_len) {
    FST_CHECK(read_gzip_header(src));
    Inflater inflater(-MAX_WBITS);
    if (!inflater.ready()) {
        return ReaderError::gzip_body(zlib_status_name(inflater.init_status()))
            .with_detail("the inflater could not start");
    }
    z_stream& zs = inflater.stream();

    constexpr std::size_t in_piece = 16384;
    constexpr std::size_t out_piece = 65536;
    std::vector<std::uint8_t> in_buf(in_piece);
    std::size_t in_len = 0;
    std::size_t in_pos = 0;
    std::vector<std::uint8_t> out;
    // The claimed length is only a hint for the first allocation.
    out.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(
        uncompressed_len, std::min<std::uint64_t>(src.remaining(), UINT64_MAX / 8) * 8)));
    bool input_done = false;
    while (out.size() < uncompressed_len) {
        if (in_pos == in_len && !input_done) {
            FST_TRY(const std::size_t got, src.read_some(in_buf.data(), in_piece));
            in_len = got;
            in_pos = 0;
            input_done = got == 0;
        }
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(out_piece, uncompressed_len - out.size()));
        const std::size_t old_size = out.size();
        out.resize(old_size + want);
        zs.next_in = in_buf.data() + in_pos;
        zs.avail_in = static_cast<uInt>(in_len - in_pos);
        zs.next_out = out.data() + old_size;
        zs.avail_out = static_cast<uInt>(want);
        const int status = inflate(&zs, Z_NO_FLUSH);
        const std::size_t consumed = (in_len - in_pos) - zs.avail_in;
        const std::size_t produced = want - zs.avail_out;
        in_pos += consumed;
        out.resize(old_size + produced);
        if (status == Z_STREAM_END) break;
        if (status == Z_NEED_DICT || (status != Z_OK && status != Z_BUF_ERROR)) {
            return ReaderError::gzip_body(zlib_status_name(status)).with_detail(inflate_fault(status, zs));
        }
        if (consumed == 0 && produced == 0 && input_done) {
            return ReaderError::gzip_body(zlib_status_name(Z_BUF_ERROR))
                .with_detail("the compressed data ends early: " + src.end_description());
        }
    }
    return out;
}

}  // namespace fst_container
