#include "fst_container/compression/fastlz.hpp"

#include <algorithm>
#include <cstring>

#include "fst_container/compression/compression.hpp"

namespace fst_container::fastlz {
namespace {

ReaderError bad_stream(const char* what) { return ReaderError::invalid_data(std::string("the fastlz data is broken: ") + what); }

// Input read instruction by instruction from a byte source.
class SourceInput {
public:
    explicit SourceInput(ByteSource& src) : src_(src) {}
    Result<std::uint8_t> byte() { return src_.read_u8(); }
    Result<std::uint8_t> peek() {
        FST_TRY(const std::uint8_t b, src_.read_u8());
        FST_CHECK(src_.seek_relative(-1));
        return b;
    }
    template <typename Out>
    Status literal(Out& out, std::size_t n) {
        return out.append_from(src_, n);
    }

private:
    ByteSource& src_;
};

// Input from memory; a literal run cut short by the end takes what is left.
class SpanInput {
public:
    explicit SpanInput(std::span<const std::uint8_t> in) : p_(in.data()), end_(in.data() + in.size()) {}
    Result<std::uint8_t> byte() {
        if (p_ == end_) return cut_short();
        return *p_++;
    }
    Result<std::uint8_t> peek() {
        if (p_ == end_) return cut_short();
        return *p_;
    }
    template <typename Out>
    Status literal(Out& out, std::size_t n) {
        const std::size_t take = std::min<std::size_t>(n, static_cast<std::size_t>(end_ - p_));
        FST_CHECK(out.append(p_, take));
        p_ += take;
        return {};
    }

private:
    static ReaderError cut_short() {
        return ReaderError::unexpected_eof().with_detail("the fastlz data ends inside an instruction");
    }

    const std::uint8_t* p_;
    const std::uint8_t* end_;
};

// Output into a growing vector with an upper bound.
class VectorOutput {
public:
    VectorOutput(std::vector<std::uint8_t>& out, std::size_t limit) : out_(out), limit_(limit) {}
    std::size_t size() const { return out_.size(); }
    Status append(const std::uint8_t* p, std::size_t n) {
        if (n > limit_ - out_.size()) return bad_stream("output exceeds the stated length");
        out_.insert(out_.end(), p, p + n);
        return {};
    }
    Status append_from(ByteSource& src, std::size_t n) {
        FST_TRY(const std::vector<std::uint8_t> run, read_bytes(src, n));
        return append(run.data(), run.size());
    }
    Status copy(std::size_t start, std::size_t len) {
        if (len > limit_ - out_.size()) return bad_stream("output exceeds the stated length");
        for (std::size_t i = 0; i < len; ++i) out_.push_back(out_[start + i]);
        return {};
    }

private:
    std::vector<std::uint8_t>& out_;
    std::size_t limit_;
};

// Output into a fixed buffer.
class BufferOutput {
public:
    BufferOutput(std::uint8_t* out, std::size_t capacity) : out_(out), capacity_(capacity) {}
    std::size_t size() const { return len_; }
    Status append(const std::uint8_t* p, std::size_t n) {
        if (n > capacity_ - len_) return bad_stream("output exceeds the stated length");
        if (n > 0) std::memcpy(out_ + len_, p, n);
        len_ += n;
        return {};
    }
    Status copy(std::size_t start, std::size_t len) {
        if (len > capacity_ - len_) return bad_stream("output exceeds the stated length");
        std::uint8_t* dst = out_ + len_;
        const std::uint8_t* src = out_ + start;
        // Overlapping copies repeat the bytes being produced, so copy forwards.
        if (start + len <= len_) {
            std::memcpy(dst, src, len);
        } else {
            for (std::size_t i = 0; i < len; ++i) dst[i] = src[i];
        }
        len_ += len;
        return {};
    }

private:
    std::uint8_t* out_;
    std::size_t capacity_;
    std::size_t len_ = 0;
};

template <typename In, typename Out>
Status back_reference(Out& out, std::uint64_t distance, std::size_t len) {
    if (distance > out.size()) return bad_stream("back-reference before the start of the output");
    return out.copy(out.size() - static_cast<std::size_t>(distance), len);
}

template <typename In, typename Out>
Status decode(In& in, Out& out, std::uint64_t compressed_len) {
    FST_TRY(const std::uint8_t first, in.peek());
    const unsigned level = first >> 5;
    std::uint64_t consumed = 0;
    if (level == 0) {
        while (consumed < compressed_len) {
            FST_TRY(const std::uint8_t ctrl, in.byte());
            consumed += 1;
            if (ctrl < 32) {
                FST_CHECK(in.literal(out, std::size_t{ctrl} + 1));
                consumed += std::uint64_t{ctrl} + 1;
                continue;
            }
            std::size_t len = (ctrl >> 5) + 2;
            if (ctrl >= 224) {
                FST_TRY(const std::uint8_t extra, in.byte());
                consumed += 1;
                len = std::size_t{extra} + 9;
            }
            FST_TRY(const std::uint8_t d, in.byte());
            consumed += 1;
            const std::uint64_t distance = std::uint64_t{ctrl & 31u} * 256 + d + 1;
            FST_CHECK((back_reference<In, Out>(out, distance, len)));
        }
        return {};
    }
    if (level != 1) return bad_stream("unsupported compression level");
    FST_TRY(const std::uint8_t lead, in.byte());
    consumed += 1;
    const std::uint8_t first_ctrl = lead & 31;
    FST_CHECK(in.literal(out, std::size_t{first_ctrl} + 1));
    consumed += std::uint64_t{first_ctrl} + 1;
    while (consumed < compressed_len) {
        FST_TRY(const std::uint8_t ctrl, in.byte());
        consumed += 1;
        if (ctrl < 32) {
            FST_CHECK(in.literal(out, std::size_t{ctrl} + 1));
            consumed += std::uint64_t{ctrl} + 1;
            continue;
        }
        std::size_t len = (ctrl >> 5) + 2;
        if (ctrl >= 224) {
            len = 9;
            for (;;) {
                FST_TRY(const std::uint8_t extra, in.byte());
                consumed += 1;
                len += extra;
                if (extra != 255) break;
            }
        }
        FST_TRY(const std::uint8_t d, in.byte());
        consumed += 1;
        std::uint64_t distance = 0;
        if ((ctrl & 31) == 31 && d == 255) {
            FST_TRY(const std::uint8_t hi, in.byte());
            FST_TRY(const std::uint8_t lo, in.byte());
            consumed += 2;
            distance = std::uint64_t{hi} * 256 + lo + 8192;
        } else {
            distance = std::uint64_t{ctrl & 31u} * 256 + d + 1;
        }
        FST_CHECK((back_reference<In, Out>(out, distance, len)));
    }
    return {};
}

}  // namespace

Result<std::vector<std::uint8_t>> decompress(ByteSource& src, std::uint64_t compressed_len,
                                             std::uint64_t uncompressed_len) {
    if (!expansion_plausible(std::min(compressed_len, src.remaining()), uncompressed_len, max_fastlz_ratio)) {
        return bad_stream("stated length exceeds what the input can hold");
    }
    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(uncompressed_len));
    SourceInput in(src);
    VectorOutput sink(out, static_cast<std::size_t>(uncompressed_len));
    FST_CHECK((decode(in, sink, compressed_len)));
    return out;
}

Status literal_run(ByteSource& src, std::uint8_t control, std::uint64_t& consumed, std::vector<std::uint8_t>& out) {
    FST_TRY(const std::vector<std::uint8_t> run, read_bytes(src, std::size_t{control} + 1));
    out.insert(out.end(), run.begin(), run.end());
    consumed += std::uint64_t{control} + 1;
    return {};
}

Result<std::size_t> decompress_into(std::span<const std::uint8_t> input, std::uint8_t* out, std::size_t capacity) {
    SpanInput in(input);
    BufferOutput sink(out, capacity);
    FST_CHECK((decode(in, sink, input.size())));
    return sink.size();
}

}  // namespace fst_container::fastlz
