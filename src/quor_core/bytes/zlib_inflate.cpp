#include "bytes/zlib_inflate.hpp"

#include <algorithm>
#include <climits>

namespace quor_core::trace {

namespace {

// Ends the stream whatever way the inflation leaves.
struct InflateGuard {
    z_stream* zs;
    ~InflateGuard() { inflateEnd(zs); }
};

uInt clamp_uint(size_t n) { return static_cast<uInt>(std::min<size_t>(n, UINT_MAX)); }

}  // namespace

std::optional<Inflated> BoundedInflater::try_decompress(Bytes input) {
    if (input.size() < 2 || budget_ == 0) return std::nullopt;
    if (scratch_.size() < kSecondBound) scratch_.resize(kSecondBound);
    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) return std::nullopt;
    const InflateGuard guard{&zs};
    zs.next_in = const_cast<Bytef*>(input.data());
    zs.avail_in = clamp_uint(input.size());
    zs.next_out = scratch_.data();
    zs.avail_out = static_cast<uInt>(kFirstBound);
    int ret = inflate(&zs, Z_FINISH);
    // A stream that did not finish in the first MiB continues into the larger bound. Inflation is
    // deterministic, so this gives the bytes and consumed count that inflating again from the
    // start into 4 MiB would.
    if (ret == Z_BUF_ERROR) {
        zs.avail_out += static_cast<uInt>(kSecondBound - kFirstBound);
        ret = inflate(&zs, Z_FINISH);
    }
    const uint64_t produced = zs.total_out;
    budget_ -= std::min(budget_, std::max<uint64_t>(produced, 1));
    if (ret != Z_STREAM_END && ret != Z_BUF_ERROR) return std::nullopt;
    if (produced == 0) return std::nullopt;
    Inflated out;
    out.bytes.assign(scratch_.begin(), scratch_.begin() + static_cast<ptrdiff_t>(produced));
    out.consumed = zs.total_in;
    return out;
}

std::optional<Inflated> try_zlib_decompress(Bytes input) {
    BoundedInflater inflater(UINT64_MAX);
    return inflater.try_decompress(input);
}

StreamInflater::StreamInflater(Bytes input, size_t cap) : zs_(std::make_unique<z_stream>()), cap_(cap) {
    *zs_ = z_stream{};
    if (inflateInit(zs_.get()) != Z_OK) {
        zs_.reset();
        failed_ = done_ = true;
        return;
    }
    zs_->next_in = const_cast<Bytef*>(input.data());
    zs_->avail_in = clamp_uint(input.size());
}

StreamInflater::~StreamInflater() {
    if (zs_) inflateEnd(zs_.get());
}

bool StreamInflater::available(size_t pos) {
    constexpr size_t kStep = size_t{64} << 10;
    while (pos >= out_.size() && !done_) {
        const size_t old = out_.size();
        const size_t grow = std::min(kStep, cap_ - old);
        if (grow == 0) {
            done_ = true;
            break;
        }
        out_.resize(old + grow);
        zs_->next_out = out_.data() + old;
        zs_->avail_out = static_cast<uInt>(grow);
        const int ret = inflate(zs_.get(), Z_NO_FLUSH);
        out_.resize(old + (grow - zs_->avail_out));
        if (ret == Z_STREAM_END) {
            done_ = true;
        } else if (ret != Z_OK) {
            // Z_BUF_ERROR here means the input ran out before the stream's end.
            failed_ = done_ = true;
        }
    }
    return pos < out_.size();
}

}  // namespace quor_core::trace
