#include "trace/fst_changes.hpp"

#include <algorithm>
#include <optional>
#include <string_view>

#include "fst_container/change_decoding.hpp"
#include "trace/fst_values.hpp"
#include "trace/time_index.hpp"

namespace quor_core::trace {
namespace {

namespace fc = fst_container;

// Stores bit-vector characters: two-state ones as the Uint of their last 64 bits, without
// building a value, the rest through convert_fst_bits.
void store_chars(signal::ColumnBuilder& builder, uint32_t id, uint64_t index, std::string_view chars) {
    uint64_t bits = 0;
    for (const char c : chars) {
        if (c != '0' && c != '1') {
            builder.set(id, index, convert_fst_bits(chars));
            return;
        }
        bits = (bits << 1) | static_cast<uint64_t>(c == '1');
    }
    if (chars.empty()) {
        builder.set(id, index, signal::SignalValue::unknown());
    } else {
        builder.set_uint(id, index, bits);
    }
}

// Receives the decoded changes of one signal at a time and records them at their sample
// indices. Changes of a signal no variable names are dropped.
class SignalRecorder {
public:
    explicit SignalRecorder(signal::ColumnBuilder& builder) : builder_(builder) {}

    // index_of_slot maps the block's time slots to sample indices; an index at or past limit is
    // dropped.
    void start(uint32_t id, const uint64_t* index_of_slot, uint64_t limit) {
        id_ = id;
        index_of_slot_ = index_of_slot;
        limit_ = id == kNoSignalId ? 0 : limit;
    }

    void packed(uint64_t slot, fc::PackedBits bits) {
        const uint64_t index = index_of_slot_[slot];
        if (index < limit_) builder_.set_uint(id_, index, bits.low_word());
    }
    void chars(uint64_t slot, std::string_view chars) {
        const uint64_t index = index_of_slot_[slot];
        if (index < limit_) store_chars(builder_, id_, index, chars);
    }
    void real(uint64_t slot, double value) {
        const uint64_t index = index_of_slot_[slot];
        if (index < limit_) builder_.set(id_, index, signal::SignalValue::real(value));
    }
    void text(uint64_t slot, std::string_view bytes) {
        const uint64_t index = index_of_slot_[slot];
        if (index < limit_) builder_.set(id_, index, convert_fst_text(bytes));
    }

private:
    signal::ColumnBuilder& builder_;
    uint32_t id_ = kNoSignalId;
    const uint64_t* index_of_slot_ = nullptr;
    uint64_t limit_ = 0;
};

// A block waiting to be decoded, with the sample index of each of its delivered slots.
struct PendingBlock {
    fc::LoadedBlock block;
    std::vector<uint64_t> index_of_slot;
    size_t number;  // position among the blocks read
};

// The first failure of a group: its block (position in the load) and signal.
struct GroupFailure {
    size_t block;
    uint32_t signal;
    fc::ReaderError error;
};

class ChangeLoader {
public:
    ChangeLoader(fc::FstReader& reader, std::span<const uint32_t> id_of_signal, const std::vector<uint64_t>& timestamps,
                 const ChangeLoadPlan& plan)
        : reader_(reader),
          meta_(reader.metadata()),
          id_of_signal_(id_of_signal),
          timestamps_(timestamps),
          plan_(plan),
          finder_(timestamps),
          last_equal_(last_equal_positions(timestamps)),
          all_signals_(fc::BitMask::repeat(true, reader.metadata().signals.size())) {
        const size_t signals = meta_.signals.size();
        const size_t groups = std::max<size_t>(1, std::min(plan.groups, std::max<size_t>(signals, 1)));
        for (size_t g = 0; g <= groups; ++g) group_starts_.push_back(static_cast<uint32_t>(g * signals / groups));
        builders_.reserve(groups);
        for (size_t g = 0; g < groups; ++g) builders_.emplace_back(signal::FillRule::SetThenFill);
        buffers_.resize(groups);
        failures_.resize(groups);
    }

    Result<signal::ColumnStore, fc::ReaderError> run(const signal::ParallelFor& parallel);

private:
    size_t group_of(uint32_t signal) const {
        return static_cast<size_t>(std::upper_bound(group_starts_.begin(), group_starts_.end(), signal) -
                                   group_starts_.begin()) - 1;
    }
    uint32_t id_of(uint32_t signal) const {
        return signal < id_of_signal_.size() ? id_of_signal_[signal] : kNoSignalId;
    }
    // The sample index of a time: through its time-table position when that holds the time
    // (the last entry equal to it), else by searching the times.
    uint64_t index_of(uint64_t time, uint64_t time_index) {
        if (time_index < last_equal_.size() && timestamps_[time_index] == time) return last_equal_[time_index];
        return finder_.index_of(time);
    }
    // For each position of an ascending time table, the last position holding the same time;
    // empty when the table is not ascending (then every time is searched for).
    static std::vector<uint64_t> last_equal_positions(const std::vector<uint64_t>& ts);

    std::optional<fc::ReaderError> load_batch(std::vector<PendingBlock>& batch);
    fc::Status store_initial_values(const fc::LoadedBlock& block);
    void decode_group(size_t group, const std::vector<PendingBlock>& batch);
    std::optional<fc::ReaderError> first_failure();

    fc::FstReader& reader_;
    const fc::MetaData& meta_;
    std::span<const uint32_t> id_of_signal_;
    const std::vector<uint64_t>& timestamps_;
    ChangeLoadPlan plan_;
    TimeIndexFinder finder_;
    std::vector<uint64_t> last_equal_;
    fc::BitMask all_signals_;
    std::vector<fc::DataSectionInfo> sections_;
    size_t next_section_ = 0;
    uint64_t end_time_ = 0;

    std::vector<uint32_t> group_starts_;  // group g holds signals [starts[g], starts[g + 1])
    std::vector<signal::ColumnBuilder> builders_;
    std::vector<std::vector<uint8_t>> buffers_;  // per group: one signal's unpacked data
    std::vector<std::optional<GroupFailure>> failures_;
};

std::vector<uint64_t> ChangeLoader::last_equal_positions(const std::vector<uint64_t>& ts) {
    if (!std::is_sorted(ts.begin(), ts.end())) return {};
    std::vector<uint64_t> last(ts.size());
    for (size_t p = ts.size(); p-- > 0;) last[p] = p + 1 < ts.size() && ts[p + 1] == ts[p] ? last[p + 1] : p;
    return last;
}

fc::Status ChangeLoader::store_initial_values(const fc::LoadedBlock& block) {
    const uint64_t index = index_of(block.start_time(), fc::kNoTimeIndex);
    return block.for_each_initial_value(meta_, all_signals_, [&](uint32_t signal, const fc::FstSignalValue& value) {
        const uint32_t id = id_of(signal);
        if (id == kNoSignalId || index >= timestamps_.size()) return;
        signal::ColumnBuilder& builder = builders_[group_of(signal)];
        if (value.is_real()) {
            builder.set(id, index, signal::SignalValue::real(value.real));
        } else {
            store_chars(builder, id, index, value.bytes);
        }
    });
}

// Reads blocks until the batch holds batch_bytes (or the blocks run out). A failure to read a
// block ends the batch; the blocks before it are still decoded, so errors come out in file
// order.
std::optional<fc::ReaderError> ChangeLoader::load_batch(std::vector<PendingBlock>& batch) {
    uint64_t bytes = 0;
    while (next_section_ < sections_.size() && (batch.empty() || bytes < plan_.batch_bytes)) {
        const size_t number = next_section_++;
        auto loaded = reader_.load_block(sections_[number], number == 0);
        if (!loaded.ok()) return std::move(loaded).error();
        if (fc::Status initial = store_initial_values(loaded.value()); !initial.ok()) return std::move(initial).error();
        PendingBlock pending{std::move(loaded).value(), {}, number};
        const fc::LoadedBlock& block = pending.block;
        const uint64_t offset = block.time_table_offset();
        const uint64_t end_slot = block.slots_until(end_time_);
        pending.index_of_slot.resize(static_cast<size_t>(end_slot));
        for (uint64_t slot = 0; slot < end_slot; ++slot) {
            pending.index_of_slot[slot] =
                index_of(block.times()[slot], offset == fc::kNoTimeIndex ? fc::kNoTimeIndex : offset + slot);
        }
        bytes += block.byte_size() + end_slot * sizeof(uint64_t);
        batch.push_back(std::move(pending));
    }
    return std::nullopt;
}

// Decodes the group's signals block after block; stops at the group's first failure.
void ChangeLoader::decode_group(size_t group, const std::vector<PendingBlock>& batch) {
    SignalRecorder recorder(builders_[group]);
    std::vector<uint8_t>& buffer = buffers_[group];
    const uint32_t first = group_starts_[group];
    const uint32_t last = group_starts_[group + 1];
    for (const PendingBlock& pending : batch) {
        const fc::LoadedBlock& block = pending.block;
        const auto& entries = block.entries();
        auto entry = std::lower_bound(entries.begin(), entries.end(), first,
                                      [](const fc::LoadedBlock::Entry& e, uint32_t s) { return e.signal < s; });
        for (; entry != entries.end() && entry->signal < last; ++entry) {
            recorder.start(id_of(entry->signal), pending.index_of_slot.data(), timestamps_.size());
            buffer.clear();
            auto location = block.unpack(*entry, buffer);
            fc::Status status = location.ok() ? fc::decode_changes(block.view(location.value(), buffer),
                                                                   meta_.signals[entry->signal], meta_.float_endian,
                                                                   block.slot_count(), pending.index_of_slot.size(),
                                                                   recorder)
                                              : fc::Status(std::move(location).error());
            if (!status.ok()) {
                failures_[group] = GroupFailure{pending.number, entry->signal, std::move(status).error()};
                return;
            }
        }
    }
}

// The failure a sequential decode would have met first: the earliest block, then the lowest
// signal. Each group stops at its own first failure, which is its earliest.
std::optional<fc::ReaderError> ChangeLoader::first_failure() {
    std::optional<GroupFailure>* first = nullptr;
    for (auto& failure : failures_) {
        if (!failure) continue;
        if (!first || std::pair(failure->block, failure->signal) < std::pair((*first)->block, (*first)->signal)) {
            first = &failure;
        }
    }
    if (!first) return std::nullopt;
    return std::move((*first)->error);
}

Result<signal::ColumnStore, fc::ReaderError> ChangeLoader::run(const signal::ParallelFor& parallel) {
    fc::FstFilter filter;
    filter.start = 0;
    filter.end = meta_.header.end_time;
    end_time_ = meta_.header.end_time;
    sections_ = reader_.sections_for(filter);
    std::vector<PendingBlock> batch;
    while (next_section_ < sections_.size()) {
        batch.clear();
        std::optional<fc::ReaderError> load_error = load_batch(batch);
        if (!batch.empty()) {
            parallel(builders_.size(), [&](size_t group) { decode_group(group, batch); });
            if (std::optional<fc::ReaderError> failure = first_failure()) return make_err(std::move(*failure));
        }
        if (load_error) return make_err(std::move(*load_error));
    }
    batch.clear();
    const std::vector<uint64_t> no_shifts(builders_.size(), 0);
    return signal::ColumnBuilder::freeze_parts(builders_, no_shifts, timestamps_.size(), parallel);
}

}  // namespace

size_t default_group_count(size_t signals, size_t workers) {
    // Each builder keeps a small table entry for every id up to the largest it holds.
    constexpr size_t table_budget = size_t{32} << 20;
    constexpr size_t bytes_per_signal_and_group = 16;
    const size_t by_memory = std::max<size_t>(1, table_budget / (std::max<size_t>(signals, 1) * bytes_per_signal_and_group));
    return std::max<size_t>(1, std::min(4 * workers, by_memory));
}

Result<signal::ColumnStore, fc::ReaderError> load_fst_changes(fc::FstReader& reader,
                                                              std::span<const uint32_t> id_of_signal,
                                                              const std::vector<uint64_t>& timestamps,
                                                              const signal::ParallelFor& parallel,
                                                              const ChangeLoadPlan& plan) {
    ChangeLoader loader(reader, id_of_signal, timestamps, plan);
    return loader.run(parallel);
}

}  // namespace quor_core::trace
