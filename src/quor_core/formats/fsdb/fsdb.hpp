#pragma once
// FsdbTrace: names, and for the second layout widths, times and values, recovered from an FSDB
// file by scanning its bytes and its zlib sections.

#include <algorithm>
#include <cstdint>
#include <string>

#include "bytes/byte_order.hpp"
#include "trace/common_trace.hpp"
#include "util/interrupt.hpp"
#include "util/result.hpp"

namespace quor_core::trace {

namespace fsdb {

// Bounds of one load, so that a crafted file costs work and memory in proportion to its size.
// All inflated output of the zlib scan and of the block sections together.
inline constexpr uint64_t kInflateBudget = uint64_t{256} << 20;
// Decoded value entries over all value sections: 65,536 plus 64 per byte of the file, and never
// more than kMaxValueEntries.
inline constexpr uint64_t kMaxValueEntries = uint64_t{1} << 22;
inline constexpr uint64_t value_entry_limit(uint64_t file_size) {
    return file_size >= (kMaxValueEntries >> 6) ? kMaxValueEntries : std::min(kMaxValueEntries, (uint64_t{1} << 16) + 64 * file_size);
}
// Merge work of the value sections on the time axis (elements touched).
inline constexpr uint64_t kMergeWork = uint64_t{1} << 27;
// Inflated bytes of the width section that are walked.
inline constexpr size_t kMaxWidthBytes = size_t{16} << 20;
inline constexpr size_t kMaxScannedChunks = 20;

// The record of a second-layout file (magic 0x1C3ED948); never fails.
TraceRecord parse_modern(Bytes file);

}  // namespace fsdb

class FsdbTrace : public CommonTrace {
public:
    using CommonTrace::CommonTrace;
    static Result<FsdbTrace, std::string> from_file(const std::string& path,
                                                 const util::Interrupt& interrupt = util::Interrupt::never());
    static Result<FsdbTrace, std::string> from_bytes(Bytes file);
};

}  // namespace quor_core::trace
