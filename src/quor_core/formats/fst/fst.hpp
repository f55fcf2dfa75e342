#pragma once
// FstTrace: a trace loaded from an FST file (plain or wrapped whole in gzip).

#include <cstdint>
#include <string>
#include <vector>

#include "trace/common_trace.hpp"
#include "formats/fst/fst_changes.hpp"
#include "util/interrupt.hpp"
#include "util/result.hpp"

namespace quor_core::trace {

class FstTrace final : public CommonTrace {
public:
    using CommonTrace::CommonTrace;

    // The loaded trace, or one of the messages "Failed to open <path>: <os error>",
    // "FST open: ...", "FST hierarchy: ..." or "FST signals: ...".
    // Loading stops with util::Interrupted once the interrupt says so (asked between and
    // during the batches of value-change blocks).
    static Result<FstTrace, std::string> from_file(const std::string& path, const ChangeLoadPlan& plan = {},
                                                   const util::Interrupt& interrupt = util::Interrupt::never());

    // The same from the bytes of a whole file held in memory (fuzzing, tests); plan sets how
    // the value changes are split into work.
    static Result<FstTrace, std::string> from_bytes(std::vector<uint8_t> bytes, const ChangeLoadPlan& plan = {});
};

}  // namespace quor_core::trace
