#pragma once
// VpdTrace: signal names and scopes from the name sections of a VPD file; no values.

#include <string>

#include "bytes/byte_order.hpp"
#include "trace/common_trace.hpp"
#include "util/interrupt.hpp"
#include "util/result.hpp"

namespace quor_core::trace {

class VpdTrace : public CommonTrace {
public:
    using CommonTrace::CommonTrace;
    static Result<VpdTrace, std::string> from_file(const std::string& path,
                                                 const util::Interrupt& interrupt = util::Interrupt::never());
    static Result<VpdTrace, std::string> from_bytes(Bytes file);
};

}  // namespace quor_core::trace
