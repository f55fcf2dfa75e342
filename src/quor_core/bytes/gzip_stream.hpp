#pragma once
// Reading gzip-compressed input from a file descriptor as the bytes it holds, piece by piece as
// it streams in: only an input buffer and zlib's window are held, never the whole file.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "util/interrupt.hpp"
#include "util/result.hpp"

struct z_stream_s;

namespace quor_core::trace {

// Whether bytes begin as gzip data does (1f 8b).
inline bool starts_as_gzip(std::string_view head) {
    return head.size() >= 2 && static_cast<unsigned char>(head[0]) == 0x1F &&
           static_cast<unsigned char>(head[1]) == 0x8B;
}

// Inflates the gzip data of a file: one member, or several one after another (as `cat a.gz b.gz`
// or a parallel compressor makes them); zero bytes after the last member are padding. The
// members' checksums and lengths are checked.
class GzipStream {
public:
    // Reads fd sequentially from its current offset; prefix holds bytes already read from it. A
    // pipe is waited for no longer than the interrupt allows (util::Interrupted), which must
    // outlive the stream.
    explicit GzipStream(int fd, std::string_view prefix = {},
                        const util::Interrupt& interrupt = util::Interrupt::never());
    ~GzipStream();
    GzipStream(const GzipStream&) = delete;
    GzipStream& operator=(const GzipStream&) = delete;

    // Fills out[0, n), or less where the data ends; gives the bytes produced, or what is wrong
    // with the data ("the gzip data ends early, at byte 1234 of the file").
    Result<size_t, std::string> read(char* out, size_t n);

private:
    // Reads more of the file into the input buffer; false at its end.
    Result<bool, std::string> refill();
    // Position in the file of the next input byte.
    uint64_t file_position() const;

    int fd_;
    const util::Interrupt* interrupt_;
    std::unique_ptr<z_stream_s> zs_;
    std::vector<unsigned char> in_;
    uint64_t before_buffer_ = 0;  // file bytes read before in_[0]
    bool input_ended_ = false;
    bool between_members_ = false;
    bool finished_ = false;
};

}  // namespace quor_core::trace
