#pragma once
// Trace: the read-only interface of every loaded trace. Implementations are immutable after
// loading and safe to read from many threads at once.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "signal/column_store.hpp"
#include "signal/values/value.hpp"
#include "trace/timescale.hpp"

namespace quor_core::trace {

using signal::SignalValue;

class Trace {
public:
    virtual ~Trace() = default;

    virtual std::span<const std::string> signal_names() const = 0;
    virtual std::span<const std::string> scopes() const = 0;
    // Number of timestamps minus one; 0 when there are none.
    virtual uint64_t max_index() const = 0;
    // Time of the index; 0 past the end.
    virtual uint64_t timestamp(uint64_t index) const = 0;
    virtual SignalValue signal_value(std::string_view name, uint64_t index) const = 0;
    virtual uint32_t signal_width(std::string_view name) const = 0;
    virtual std::optional<uint32_t> signal_id(std::string_view name) const = 0;
    virtual std::vector<SignalValue> signal_values_range(std::string_view name, uint64_t start,
                                                         uint64_t end) const = 0;
    virtual SignalValue signal_value_by_id(uint32_t id, uint64_t index) const = 0;

    // Fast paths beyond the operations above: the frozen values and the time table.
    virtual const signal::ColumnStore& store() const = 0;
    virtual std::span<const uint64_t> timestamps() const = 0;
    // The unit the timestamps count in, when the file states one.
    virtual std::optional<Timescale> timescale() const { return std::nullopt; }

    // A view of the value by id without copying its payload.
    signal::ValueRef value_ref(uint32_t id, uint64_t index) const { return store().view(id, index); }

    // The declared width of the signal with this id (of its first name in signal_names()); 0 for
    // an id that no name has. The table is built on the first call, from the names.
    uint32_t signal_width_by_id(uint32_t id) const;

private:
    struct WidthsById {
        std::once_flag built;
        std::vector<std::pair<uint32_t, uint32_t>> widths;  // (id, width), ascending id
    };
    // Copies of a trace have the same names and widths, so they may share the table.
    std::shared_ptr<WidthsById> widths_by_id_ = std::make_shared<WidthsById>();
};

// Hash for maps keyed by std::string that are looked up with std::string_view. Deliberately not
// noexcept: libstdc++ then keeps each key's hash code in its node, so a lookup compares codes
// before texts and growing the table rehashes no key. Without them a map of a million names
// hashed every key it passed in a bucket, and loading such a header spent a fifth of its time
// there.
struct StringHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

}  // namespace quor_core::trace
