#pragma once
// Bounded zlib inflation for the formats that hide compressed sections inside their files.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include <zlib.h>

#include "bytes/byte_order.hpp"

namespace quor_core::trace {

struct Inflated {
    std::vector<uint8_t> bytes;
    size_t consumed = 0;  // input bytes the decompressor used
};

// Inflates zlib streams into at most 1 MiB, or 4 MiB when the stream does not finish in the
// first MiB. Output beyond the bound is cut. A budget caps the total output produced over
// all calls (successful or not), so a crafted file cannot make a load inflate without end;
// once it is spent every call gives nothing.
class BoundedInflater {
public:
    static constexpr size_t kFirstBound = size_t{1} << 20;
    static constexpr size_t kSecondBound = size_t{4} << 20;

    explicit BoundedInflater(uint64_t output_budget) : budget_(output_budget) {}

    std::optional<Inflated> try_decompress(Bytes input);
    bool exhausted() const { return budget_ == 0; }

private:
    std::vector<uint8_t> scratch_;  // reused output buffer of kSecondBound bytes
    uint64_t budget_;
};

// One-off inflation with an unlimited budget.
std::optional<Inflated> try_zlib_decompress(Bytes input);

// Incremental inflation of one zlib stream, producing output on demand up to a cap.
class StreamInflater {
public:
    StreamInflater(Bytes input, size_t cap);
    ~StreamInflater();
    StreamInflater(const StreamInflater&) = delete;
    StreamInflater& operator=(const StreamInflater&) = delete;

    // Inflates until more than pos bytes exist; false when the stream ended, failed or hit the
    // cap first.
    bool available(size_t pos);
    uint8_t operator[](size_t pos) const { return out_[pos]; }
    bool failed() const { return failed_; }

private:
    std::unique_ptr<z_stream> zs_;
    std::vector<uint8_t> out_;
    size_t cap_;
    bool done_ = false;
    bool failed_ = false;
};

}  // namespace quor_core::trace
