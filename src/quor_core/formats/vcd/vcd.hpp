#pragma once
// VcdTrace: a trace read from Value Change Dump text, from a file or from memory.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "signal/column_store.hpp"
#include "trace/common_trace.hpp"
#include "trace/trace.hpp"
#include "formats/vcd/vcd_header.hpp"
#include "util/interrupt.hpp"
#include "util/result.hpp"

namespace quor_core::trace {

// How the value changes of a text are cut into stretches read at the same time, and how large
// the blocks are that a file is read in.
struct VcdPieces {
    size_t min_bytes = size_t{1} << 20;     // no stretch much shorter than this
    size_t max_count = 0;                   // stretches per block of lines; 0: one per worker
    size_t block_bytes = size_t{16} << 20;  // a file is read this much at a time, at most
    // ... or, once the declarations are read, this much per declared signal (up to 256 MiB): each
    // stretch of a block is a part of its own, which costs every signal it sees a rebase record
    // and freezing a step per signal, so a dump of very many signals is read in fewer, longer
    // blocks.
    size_t block_bytes_per_signal = 64;
    bool baseline_only = false;             // lines read without the wider vector instructions
    size_t step_bytes = size_t{256} << 10;  // a stretch is read this much at a time
    size_t min_steal_bytes = size_t{512} << 10;  // an idle thread takes half of a tail this long
    // ... and at least this much per declared signal: a stolen stretch is a part of its own, and
    // the first steal of its kind sets up a reader with a change-log chain for every signal.
    size_t steal_bytes_per_signal = 64;
    // From this many declared signals on (whose change-log tails outgrow the caches), a
    // stretch's changes are staged in text order before they go to their signals' change logs
    // (ColumnBuilder::stage_changes).
    uint32_t staging_signals = uint32_t{1} << 14;
};

class VcdTrace final : public Trace {
public:
    // Reads a VCD file, or a pipe or device; gzip-compressed text (starting with the bytes
    // 1f 8b) is inflated as it is read. Loading stops with util::Interrupted once the interrupt
    // says so (asked every few hundred kilobytes, and while a pipe or FIFO is waited for).
    static Result<VcdTrace, std::string> from_file(const std::string& path, VcdPieces pieces = {},
                                                   const util::Interrupt& interrupt = util::Interrupt::never());
    // The whole text that from_file reads from the pipe or device at path (inflated when it is
    // gzip-compressed), for a caller that looks at it before parsing; the error is from_file's.
    static Result<std::string, std::string> read_stream_text(
        const std::string& path, const util::Interrupt& interrupt = util::Interrupt::never());
    static Result<VcdTrace, std::string> parse(std::string_view text, VcdPieces pieces = {},
                                               const util::Interrupt& interrupt = util::Interrupt::never());
    // Reads the text in order on the calling thread (the reference the cut reading must match).
    static Result<VcdTrace, std::string> parse_in_order(std::string_view text, VcdPieces pieces = {},
                                                        const util::Interrupt& interrupt = util::Interrupt::never());

    std::span<const std::string> signal_names() const override { return signal_names_; }
    std::span<const std::string> scopes() const override { return scopes_; }
    uint64_t max_index() const override { return timestamps_.empty() ? 0 : timestamps_.size() - 1; }
    uint64_t timestamp(uint64_t index) const override {
        return index < timestamps_.size() ? timestamps_[index] : 0;
    }
    SignalValue signal_value(std::string_view name, uint64_t index) const override;
    // Unknown names have width 0.
    uint32_t signal_width(std::string_view name) const override;
    std::optional<uint32_t> signal_id(std::string_view name) const override;
    std::vector<SignalValue> signal_values_range(std::string_view name, uint64_t start,
                                                 uint64_t end) const override;
    SignalValue signal_value_by_id(uint32_t id, uint64_t index) const override {
        return store_.get(id, index);
    }
    const signal::ColumnStore& store() const override { return store_; }
    std::span<const uint64_t> timestamps() const override { return timestamps_; }
    std::optional<Timescale> timescale() const override { return timescale_; }

    const VcdVar* var(std::string_view name) const;

private:
    friend class VcdLoader;
    // from_file for a regular file of gzip data, open as fd.
    static Result<VcdTrace, std::string> from_gzip_file(const std::string& path, int fd, VcdPieces pieces,
                                                        const util::Interrupt& interrupt);
    VcdVarMap vars_;
    signal::ColumnStore store_;
    std::vector<std::string> signal_names_;
    std::vector<std::string> scopes_;
    std::span<const uint64_t> timestamps_;
    std::shared_ptr<const void> timestamps_memory_;  // owns what timestamps_ views
    std::optional<Timescale> timescale_;
};

}  // namespace quor_core::trace
