#include "bytes/gzip_stream.hpp"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>

#include "util/os_error.hpp"
#include "util/polled_read.hpp"

namespace quor_core::trace {

namespace {

constexpr size_t kInputBytes = size_t{256} << 10;
constexpr int kGzipOnly = 16 + MAX_WBITS;

}  // namespace

GzipStream::GzipStream(int fd, std::string_view prefix, const util::Interrupt& interrupt)
    : fd_(fd), interrupt_(&interrupt), zs_(std::make_unique<z_stream_s>()), in_(std::max(kInputBytes, prefix.size())) {
    if (!prefix.empty()) std::memcpy(in_.data(), prefix.data(), prefix.size());
    zs_->next_in = in_.data();
    zs_->avail_in = static_cast<uInt>(prefix.size());
    if (inflateInit2(zs_.get(), kGzipOnly) != Z_OK) throw std::bad_alloc();
}

GzipStream::~GzipStream() { inflateEnd(zs_.get()); }

uint64_t GzipStream::file_position() const {
    return before_buffer_ + static_cast<uint64_t>(zs_->next_in - in_.data());
}

Result<bool, std::string> GzipStream::refill() {
    if (input_ended_) return false;
    before_buffer_ = file_position();
    const ssize_t got = util::read_when_ready(fd_, in_.data(), in_.size(), *interrupt_);
    if (got < 0) return make_err(util::os_error_text(errno));
    zs_->next_in = in_.data();
    zs_->avail_in = static_cast<uInt>(got);
    input_ended_ = got == 0;
    return got > 0;
}

Result<size_t, std::string> GzipStream::read(char* out, size_t n) {
    size_t produced = 0;
    while (produced < n && !finished_) {
        if (zs_->avail_in == 0 && !input_ended_) {
            auto more = refill();
            if (!more.ok()) return make_err(std::move(more).error());
        }
        if (between_members_) {
            // Zero bytes pad the end; anything else must start another member.
            while (zs_->avail_in > 0 && *zs_->next_in == 0) {
                ++zs_->next_in;
                --zs_->avail_in;
            }
            if (zs_->avail_in == 0) {
                finished_ = input_ended_;
                continue;
            }
            if (*zs_->next_in != 0x1F) {
                return make_err("the gzip data is followed by bytes that are not gzip data, at byte " +
                                std::to_string(file_position()) + " of the file");
            }
            inflateReset(zs_.get());
            between_members_ = false;
        }
        zs_->next_out = reinterpret_cast<unsigned char*>(out + produced);
        const auto room = static_cast<uInt>(std::min<size_t>(n - produced, UINT_MAX));
        zs_->avail_out = room;
        const int status = inflate(zs_.get(), Z_NO_FLUSH);
        produced += room - zs_->avail_out;
        switch (status) {
            case Z_STREAM_END: between_members_ = true; break;
            case Z_OK: break;
            case Z_BUF_ERROR:  // no progress: more input is needed
                if (input_ended_ && zs_->avail_in == 0) {
                    return make_err("the gzip data ends early, at byte " + std::to_string(file_position()) +
                                    " of the file");
                }
                break;
            case Z_MEM_ERROR: throw std::bad_alloc();
            default: {
                const std::string why = zs_->msg != nullptr ? zs_->msg : "not gzip data";
                return make_err("the gzip data is corrupt at byte " + std::to_string(file_position()) +
                                " of the file (" + why + ")");
            }
        }
    }
    return produced;
}

}  // namespace quor_core::trace
