#pragma once
// WlfTrace: names from the header pages and sampled byte values from the value pages of a WLF file.

#include <cstdint>
#include <string>

#include "bytes/byte_order.hpp"
#include "trace/common_trace.hpp"
#include "util/interrupt.hpp"
#include "util/result.hpp"

namespace quor_core::trace {

namespace wlf {

inline constexpr size_t kPage = 8192;

// A length-prefixed printable string inside the header page; empty when malformed.
std::string read_lpstr(Bytes file, size_t& pos);

}  // namespace wlf

class WlfTrace : public CommonTrace {
public:
    using CommonTrace::CommonTrace;
    static Result<WlfTrace, std::string> from_file(const std::string& path,
                                                 const util::Interrupt& interrupt = util::Interrupt::never());
    static Result<WlfTrace, std::string> from_bytes(Bytes file);
};

}  // namespace quor_core::trace
