#include "trace/gzip_text.hpp"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <memory>

namespace quor_core::trace {

namespace {

struct InflateEnd {
    void operator()(z_stream* zs) const {
        inflateEnd(zs);
        delete zs;
    }
};

}  // namespace

Result<std::string, std::string> gunzip(std::span<const uint8_t> data) {
    std::unique_ptr<z_stream, InflateEnd> zs;
    {
        auto fresh = std::make_unique<z_stream>();
        if (inflateInit2(fresh.get(), 16 + MAX_WBITS) != Z_OK) return make_err(std::string("zlib cannot start"));
        zs.reset(fresh.release());
    }
    constexpr size_t kMaxFeed = std::numeric_limits<uInt>::max();
    std::string out;
    out.reserve(std::min<size_t>(data.size() * 4, size_t{1} << 30));
    size_t pos = 0;
    for (;;) {
        const size_t feed = std::min(data.size() - pos, kMaxFeed);
        zs->next_in = const_cast<Bytef*>(data.data() + pos);  // zlib's interface is not const
        zs->avail_in = static_cast<uInt>(feed);
        const size_t old = out.size();
        const size_t room = std::max<size_t>(size_t{1} << 16, std::min<size_t>(old, size_t{1} << 26));
        out.resize(old + room);
        zs->next_out = reinterpret_cast<Bytef*>(out.data() + old);
        zs->avail_out = static_cast<uInt>(room);
        const int ret = inflate(zs.get(), Z_NO_FLUSH);
        out.resize(old + (room - zs->avail_out));
        pos += feed - zs->avail_in;
        if (ret == Z_STREAM_END) {
            // Another member may follow, as gzip writes for appended files.
            if (!starts_as_gzip(data.subspan(pos))) return out;
            inflateReset(zs.get());
            continue;
        }
        if (ret == Z_BUF_ERROR && pos == data.size()) return out;  // the data ends inside a member
        const bool progressed = feed != zs->avail_in || out.size() != old;
        if ((ret != Z_OK && ret != Z_BUF_ERROR) || !progressed) {
            return make_err(std::string("gzip data is damaged: ") + (zs->msg ? zs->msg : "zlib error"));
        }
    }
}

}  // namespace quor_core::trace
