#include "trace/fst.hpp"
#include "trace/time_index.hpp"

#include <algorithm>
#include <limits>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <variant>

#include "fst_container/reader.hpp"
#include "signal/column_builder.hpp"
#include "trace/fst_values.hpp"
#include "util/os_error.hpp"
#include "trace/pool_parallel.hpp"

namespace quor_core::trace {
namespace {

namespace fc = fst_container;

constexpr uint32_t kNoId = std::numeric_limits<uint32_t>::max();

// Signal ids by FST handle: dense for handles the geometry declares, a map
// for any other handle a variable may name.
class HandleIds {
public:
    explicit HandleIds(size_t declared) : dense_(declared, kNoId) {}

    uint32_t find(uint32_t index) const {
        if (index < dense_.size()) return dense_[index];
        const auto it = sparse_.find(index);
        return it == sparse_.end() ? kNoId : it->second;
    }
    void insert(uint32_t index, uint32_t id) {
        if (index < dense_.size()) {
            dense_[index] = id;
        } else {
            sparse_.emplace(index, id);
        }
    }

private:
    std::vector<uint32_t> dense_;
    std::unordered_map<uint32_t, uint32_t> sparse_;
};

// Builds full names, ids and widths from the hierarchy entries.
class NameCollector {
public:
    NameCollector(TraceRecord& record, HandleIds& ids) : record_(record), ids_(ids) {}

    void operator()(const fc::FstHierarchyEntry& entry) {
        if (const auto* scope = std::get_if<fc::FstScope>(&entry)) {
            stack_.push_back(scope->name);
            std::string full = joined();
            if (seen_scopes_.insert(full).second) record_.scopes.push_back(std::move(full));
        } else if (std::holds_alternative<fc::FstUpScope>(entry)) {
            if (!stack_.empty()) stack_.pop_back();
        } else if (const auto* var = std::get_if<fc::FstVar>(&entry)) {
            add_var(*var);
        }
    }

private:
    std::string joined() const {
        std::string out;
        for (const auto& part : stack_) {
            if (!out.empty()) out += '.';
            out += part;
        }
        return out;
    }

    void add_var(const fc::FstVar& var) {
        std::string full = stack_.empty() ? var.name : joined() + "." + var.name;
        if (record_.name_to_id.find(full) != record_.name_to_id.end()) return;
        const auto index = static_cast<uint32_t>(var.handle.index());
        uint32_t id = ids_.find(index);
        if (id == kNoId) {
            id = next_id_++;
            ids_.insert(index, id);
        }
        record_.name_to_id.emplace(full, id);
        record_.widths.emplace(full, var.length);
        record_.signal_names.push_back(std::move(full));
    }

    TraceRecord& record_;
    HandleIds& ids_;
    std::vector<std::string> stack_;
    std::unordered_set<std::string> seen_scopes_;
    uint32_t next_id_ = 0;
};

// Stores each delivered value at the index of its time.
class ValueSink {
public:
    ValueSink(const std::vector<uint64_t>& timestamps, const std::vector<fc::SignalInfo>& signals,
              const HandleIds& ids, signal::ColumnBuilder& builder)
        : timestamps_(timestamps),
          signals_(signals),
          ids_(ids),
          builder_(builder),
          finder_(timestamps),
          last_equal_(last_equal_positions(timestamps)) {}

    void operator()(uint64_t time, fc::FstSignalHandle handle, const fc::FstSignalValue& value) {
        const uint32_t id = ids_.find(static_cast<uint32_t>(handle.index()));
        if (id == kNoId) return;
        const uint64_t index = index_of(time, value.time_index);
        if (index >= timestamps_.size()) return;
        if (value.is_real()) {
            builder_.set(id, index, signal::SignalValue::real(value.real));
            return;
        }
        const std::string_view bytes = value.bytes;
        if (handle.index() < signals_.size() && signals_[handle.index()].is_var_length()) {
            builder_.set(id, index, convert_fst_text(bytes));
            return;
        }
        // Two-state values (the common case) go in as plain integers, the
        // same Uint that convert_fst_bits gives them, without building a value.
        uint64_t bits = 0;
        bool two_state = !bytes.empty();
        for (const char c : bytes) {
            if (c != '0' && c != '1') {
                two_state = false;
                break;
            }
            bits = (bits << 1) | static_cast<uint64_t>(c == '1');
        }
        if (two_state) {
            builder_.set_uint(id, index, bits);
        } else {
            builder_.set(id, index, convert_fst_bits(bytes));
        }
    }

private:
    // The sample index of a change: through its time-table position when the reader knows it
    // (the last entry equal to its time), else by searching the times.
    uint64_t index_of(uint64_t time, uint64_t time_index) {
        if (time_index < last_equal_.size() && timestamps_[time_index] == time) return last_equal_[time_index];
        return finder_.index_of(time);
    }

    // For each position of an ascending time table, the last position holding the same time;
    // empty when the table is not ascending (then every change is searched for).
    static std::vector<uint64_t> last_equal_positions(const std::vector<uint64_t>& ts) {
        if (!std::is_sorted(ts.begin(), ts.end())) return {};
        std::vector<uint64_t> last(ts.size());
        for (size_t p = ts.size(); p-- > 0;) last[p] = p + 1 < ts.size() && ts[p + 1] == ts[p] ? last[p + 1] : p;
        return last;
    }

    const std::vector<uint64_t>& timestamps_;
    const std::vector<fc::SignalInfo>& signals_;
    const HandleIds& ids_;
    signal::ColumnBuilder& builder_;
    TimeIndexFinder finder_;
    std::vector<uint64_t> last_equal_;
};

Result<FstTrace, std::string> load(std::unique_ptr<fc::ByteSource> source) {
    auto opened = fc::FstReader::open_internal(std::move(source), true);
    if (!opened.ok()) return make_err("FST open: " + opened.error().display());
    fc::FstReader& reader = opened.value();
    const fc::MetaData& meta = reader.metadata();

    TraceRecord record;
    HandleIds ids(meta.signals.size());
    NameCollector names(record, ids);
    const fc::Status hierarchy = reader.read_hierarchy(names);
    if (!hierarchy.ok()) return make_err("FST hierarchy: " + hierarchy.error().display());

    record.timestamps = meta.time_table.value_or(std::vector<uint64_t>{});
    signal::ColumnBuilder builder(signal::FillRule::SetThenFill);
    ValueSink sink(record.timestamps, meta.signals, ids, builder);
    fc::FstFilter filter;
    filter.start = 0;
    filter.end = meta.header.end_time;
    const fc::Status signals = reader.read_signals(filter, sink, fc::FstReader::Delivery::BySignal);
    if (!signals.ok()) return make_err("FST signals: " + signals.error().display());

    record.store = std::move(builder).freeze(record.timestamps.size(), pool_parallel_for());
    return FstTrace(std::move(record));
}

}  // namespace

Result<FstTrace, std::string> FstTrace::from_file(const std::string& path) {
    auto file = fc::FileSource::open(path, fc::FileSource::default_buffer_size);
    if (!file.ok()) return make_err("Failed to open " + path + ": " + util::os_error_text(file.error().os_error));
    return load(std::make_unique<fc::FileSource>(std::move(file).value()));
}

Result<FstTrace, std::string> FstTrace::from_bytes(std::vector<uint8_t> bytes) {
    return load(std::make_unique<fc::VectorSource>(std::move(bytes)));
}

}  // namespace quor_core::trace
