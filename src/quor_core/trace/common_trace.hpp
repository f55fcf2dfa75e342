#pragma once
// The common trace record shared by the FST, FSDB, WLF, SHM and VPD traces.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "signal/column_store.hpp"
#include "trace/name_positions.hpp"
#include "trace/trace.hpp"

namespace quor_core::trace {

using NameMap = std::unordered_map<std::string, uint32_t, StringHash, std::equal_to<>>;

struct TraceRecord {
    signal::ColumnStore store;
    NameMap name_to_id;
    NameMap widths;
    std::vector<std::string> signal_names;
    std::vector<std::string> scopes;
    std::vector<uint64_t> timestamps;
    std::optional<Timescale> timescale;
    // A loader of many names may list each name's id and declared width by its position in
    // signal_names instead of in the two maps, every name once: the texts are then kept once,
    // and names are found through name_positions.
    std::vector<uint32_t> ids_by_position;
    std::vector<uint32_t> widths_by_position;
    NamePositions name_positions;
};

// Names are found as they are, and also without a trailing bit range that a writer kept in them
// ("cnt [7:0]" as "cnt") when exactly one name gives that and no name is that.
class CommonTrace : public Trace {
public:
    CommonTrace() = default;
    explicit CommonTrace(TraceRecord record) : r_(std::move(record)) {}

    std::span<const std::string> signal_names() const override { return r_.signal_names; }
    std::span<const std::string> scopes() const override { return r_.scopes; }
    uint64_t max_index() const override { return r_.timestamps.empty() ? 0 : r_.timestamps.size() - 1; }
    uint64_t timestamp(uint64_t index) const override {
        return index < r_.timestamps.size() ? r_.timestamps[index] : 0;
    }
    SignalValue signal_value(std::string_view name, uint64_t index) const override;
    // Unknown names have width 1.
    uint32_t signal_width(std::string_view name) const override;
    std::optional<uint32_t> signal_id(std::string_view name) const override;
    std::vector<SignalValue> signal_values_range(std::string_view name, uint64_t start,
                                                 uint64_t end) const override;
    SignalValue signal_value_by_id(uint32_t id, uint64_t index) const override {
        return r_.store.get(id, index);
    }
    const signal::ColumnStore& store() const override { return r_.store; }
    std::span<const uint64_t> timestamps() const override { return r_.timestamps; }
    std::optional<Timescale> timescale() const override { return r_.timescale; }

    const TraceRecord& record() const { return r_; }

private:
    // The names that have a bit range, by the hash of the name without it: an open-addressing
    // table of positions in signal_names plus one (0: empty), at most half full. Four to eight
    // bytes a name and no second copy of its text. Made on the first lookup that needs it (a
    // name not found as it is), so a load does not wait for it.
    struct RangeIndex {
        std::once_flag made;
        std::vector<uint32_t> slots;
    };
    const std::vector<uint32_t>& names_without_ranges() const;
    // The position in signal_names of the name a lookup name stands for, when the names are
    // listed by position.
    std::optional<uint32_t> position_of(std::string_view name) const;
    // The full name a lookup name stands for: itself when known, else the one name that gives
    // it without its bit range; null when there is none or more than one.
    const std::string* full_name(std::string_view name) const;

    TraceRecord r_;
    std::unique_ptr<RangeIndex> without_range_ = std::make_unique<RangeIndex>();
};

}  // namespace quor_core::trace
