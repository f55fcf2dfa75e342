#include "formats/fst/fst_changes.hpp"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <memory>
#include <optional>
#include <string_view>

#include "fst_container/change_decoding.hpp"
#include "fst_container/compression/compression.hpp"
#include "signal/column_stream.hpp"
#include "formats/fst/fst_values.hpp"
#include "trace/time_index.hpp"
#include "util/scratch_pool.hpp"

namespace quor_core::trace {
namespace {

namespace fc = fst_container;

// Stores bit-vector characters as convert_fst_bits reads them; a two-state value as a plain Uint
// or as the words of a Wide value.
template <typename Target>
void store_chars(Target& target, uint64_t index, std::string_view chars) {
    signal::SignalValue value = convert_fst_bits(chars);
    if (value.kind() == signal::ValueKind::Uint) {
        target.set_uint(index, value.as_uint());
    } else if (value.kind() == signal::ValueKind::Wide) {
        target.set_wide(index, value.as_wide().words);
    } else {
        target.set(index, std::move(value));
    }
}

// Where a block's time slots land: sample index first + slot for the slots before straight
// (all of them whenever the slots' time-table positions are known), one listed index per later
// slot.
struct SlotIndices {
    uint64_t first = 0;
    uint64_t straight = 0;
    std::vector<uint64_t> rest;  // indices of the slots from straight on
    uint64_t slots = 0;          // slots delivered
};

// The end of a run of entries from first whose data spans at most window_bytes (one entry at
// least).
template <typename Iterator>
Iterator window_limit(Iterator first, Iterator end, uint64_t window_bytes) {
    uint64_t low = first->offset;
    uint64_t high = uint64_t{first->offset} + first->length;
    Iterator next = first + 1;
    for (; next != end; ++next) {
        low = std::min<uint64_t>(low, next->offset);
        high = std::max<uint64_t>(high, uint64_t{next->offset} + next->length);
        if (high - low > window_bytes) break;
    }
    return next;
}

// Receives the decoded changes of one signal at a time and stores them at their sample indices
// in a Target (set_uint(index, value), set_wide(index, words), set(index, SignalValue)).
template <typename Target>
class SignalRecorder {
public:
    // An index at or past limit is dropped, and so is everything when there is no target.
    void start(std::optional<Target> target, const SlotIndices& indices, uint64_t limit) {
        target_ = target.value_or(Target{});
        first_ = indices.first;
        straight_ = indices.straight;
        rest_ = indices.rest.data();
        limit_ = target ? limit : 0;
    }

    void packed(uint64_t slot, fc::PackedBits bits) {
        const uint64_t index = index_of(slot);
        if (index >= limit_) return;
        if (bits.bits <= 64) [[likely]] {
            target_.set_uint(index, bits.low_word());
        } else {
            words_of_packed(bits, words_);
            target_.set_wide(index, words_);
        }
    }
    void chars(uint64_t slot, std::string_view chars) {
        const uint64_t index = index_of(slot);
        if (index < limit_) store_chars(target_, index, chars);
    }
    void real(uint64_t slot, double value) {
        const uint64_t index = index_of(slot);
        if (index < limit_) target_.set(index, signal::SignalValue::real(value));
    }
    void text(uint64_t slot, std::string_view bytes) {
        const uint64_t index = index_of(slot);
        if (index < limit_) target_.set(index, convert_fst_text(bytes));
    }

private:
    uint64_t index_of(uint64_t slot) const { return slot < straight_ ? first_ + slot : rest_[slot - straight_]; }

    Target target_{};
    std::vector<uint64_t> words_;  // a Wide value's words, the same array for each
    uint64_t first_ = 0;
    uint64_t straight_ = 0;
    const uint64_t* rest_ = nullptr;
    uint64_t limit_ = 0;
};

// Changes streamed into one ColumnStream per signal, created on the signal's first value.
// Exact only while every signal's changes come in ascending index order (see out_of_order).
// Every signal the geometry declares is decoded, so the streams need no ids: those are read
// only when the columns are placed (freeze), and the hierarchy that gives them may be read
// meanwhile.
class StreamSink {
public:
    struct Target {
        signal::ColumnStream* stream = nullptr;
        void set_uint(uint64_t index, uint64_t value) { stream->set_uint(index, value); }
        void set_wide(uint64_t index, std::span<const uint64_t> words) { stream->set_wide(index, words); }
        void set(uint64_t index, signal::SignalValue value) { stream->set(index, std::move(value)); }
    };

    StreamSink(size_t signals, uint64_t length, std::span<const uint32_t> group_starts)
        : length_(length), group_starts_(group_starts), groups_(group_starts.size() - 1), signals_(signals) {}

    // The target of a signal's values; called by the group that owns the signal only.
    std::optional<Target> target(size_t group, uint32_t signal) {
        if (signal >= signals_) return std::nullopt;
        // A group's streams lie in one array, made on the group's first value; their growing
        // arrays come from the group's scratch pool.
        GroupStreams& streams = groups_[group];
        const uint32_t first = group_starts_[group];
        if (streams.streams.empty()) {
            streams.scratch = std::make_unique<util::ScratchPool>();
            streams.streams.resize(group_starts_[group + 1] - first);
        }
        std::optional<signal::ColumnStream>& stream = streams.streams[signal - first];
        if (!stream) stream.emplace(length_, arena_, streams.scratch.get());
        return Target{&*stream};
    }
    // Finishes the columns of a group's signals after their last change (the group's thread
    // only), which frees their streams early.
    void finish_group(size_t group);
    // Whether some signal's changes went back in index order (known once every group is
    // finished); the columns are then unusable.
    bool out_of_order() const { return any_out_of_order_.load(std::memory_order_relaxed); }
    // Finishes the groups not finished yet and places the columns by id.
    signal::ColumnStore freeze(std::span<const uint32_t> id_of_signal, const signal::ParallelFor& parallel);

private:
    uint64_t length_;
    std::span<const uint32_t> group_starts_;
    std::shared_ptr<util::Arena> arena_ = std::make_shared<util::Arena>();  // the arrays of all columns
    struct GroupStreams {
        std::unique_ptr<util::ScratchPool> scratch;  // declared first: outlives the streams
        std::vector<std::optional<signal::ColumnStream>> streams;  // by signal in the group
    };
    std::vector<GroupStreams> groups_;  // by group
    size_t signals_;
    std::vector<signal::Column> columns_;  // by signal index, once finished
    std::atomic<bool> any_out_of_order_{false};
    std::once_flag columns_sized_;
};

void StreamSink::finish_group(size_t group) {
    std::call_once(columns_sized_, [&] { columns_.resize(signals_); });
    GroupStreams group_streams = std::move(groups_[group]);
    std::vector<std::optional<signal::ColumnStream>>& streams = group_streams.streams;
    bool out_of_order = false;
    for (size_t i = 0; i < streams.size(); ++i) {
        if (!streams[i]) continue;
        out_of_order |= streams[i]->out_of_order();
        columns_[group_starts_[group] + i] = std::move(*streams[i]).finish();
    }
    if (out_of_order) any_out_of_order_.store(true, std::memory_order_relaxed);
}

signal::ColumnStore StreamSink::freeze(std::span<const uint32_t> id_of_signal, const signal::ParallelFor& parallel) {
    parallel(groups_.size(), [&](size_t group) { finish_group(group); });
    // Each id is fed by exactly one signal (one handle). Writers number their handles in the
    // order of the hierarchy, so ids are nearly always the signal indices themselves.
    std::vector<signal::Column> columns;
    size_t ids = 0;
    bool same = true;
    for (uint32_t signal = 0; signal < id_of_signal.size(); ++signal) {
        const uint32_t id = id_of_signal[signal];
        if (id == kNoSignalId) {
            same &= columns_[signal].length() == 0;
            continue;
        }
        same &= id == signal;
        ids = std::max<size_t>(ids, size_t{id} + 1);
    }
    if (same) {
        columns = std::move(columns_);
        columns.resize(ids);
    } else {
        columns.resize(ids);
        for (uint32_t signal = 0; signal < id_of_signal.size(); ++signal) {
            if (id_of_signal[signal] != kNoSignalId) columns[id_of_signal[signal]] = std::move(columns_[signal]);
        }
        std::vector<signal::Column>().swap(columns_);
    }
    // Dense ids are the rule in FST files; a store of very many empty ids keeps only the others.
    size_t runs = 0;
    for (const signal::Column& column : columns) runs += column.run_count();
    if (columns.size() <= 4 * runs + 65536) return signal::ColumnStore(std::move(columns));
    std::vector<uint32_t> present_ids;
    std::vector<signal::Column> present;
    for (size_t id = 0; id < columns.size(); ++id) {
        if (columns[id].length() == 0) continue;
        present_ids.push_back(static_cast<uint32_t>(id));
        present.push_back(std::move(columns[id]));
    }
    return signal::ColumnStore(std::move(present_ids), std::move(present));
}

// Changes recorded into one ColumnBuilder per group and frozen together: exact for changes in
// any order.
class BuilderSink {
public:
    struct Target {
        signal::ColumnBuilder* builder = nullptr;
        uint32_t id = 0;
        void set_uint(uint64_t index, uint64_t value) { builder->set_uint(id, index, value); }
        void set_wide(uint64_t index, std::span<const uint64_t> words) { builder->set_wide(id, index, words); }
        void set(uint64_t index, signal::SignalValue value) { builder->set(id, index, std::move(value)); }
    };

    BuilderSink(std::span<const uint32_t> id_of_signal, size_t groups) : id_of_signal_(id_of_signal) {
        builders_.reserve(groups);
        for (size_t g = 0; g < groups; ++g) builders_.emplace_back(signal::FillRule::SetThenFill);
    }

    std::optional<Target> target(size_t group, uint32_t signal) {
        if (signal >= id_of_signal_.size() || id_of_signal_[signal] == kNoSignalId) return std::nullopt;
        return Target{&builders_[group], id_of_signal_[signal]};
    }
    // The builders are frozen together at the end.
    void finish_group(size_t /*group*/) {}
    signal::ColumnStore freeze(uint64_t length, const signal::ParallelFor& parallel) {
        const std::vector<uint64_t> no_shifts(builders_.size(), 0);
        return signal::ColumnBuilder::freeze_parts(builders_, no_shifts, length, parallel);
    }

private:
    std::span<const uint32_t> id_of_signal_;
    std::vector<signal::ColumnBuilder> builders_;
};

// A block waiting to be decoded, with the sample indices of its delivered slots.
struct PendingBlock {
    fc::LoadedBlock block;
    SlotIndices indices;
    size_t number;  // position among the blocks read
};

// The first failure of a group: its block and signal.
struct GroupFailure {
    size_t block;
    uint32_t signal;
    fc::ReaderError error;
};

// Reads the blocks batch by batch and decodes each batch's signals group by group into a Sink.
template <typename Sink>
class ChangeLoader {
public:
    ChangeLoader(fc::FstReader& reader, const FstSamples& samples, std::span<const uint32_t> group_starts,
                 const ChangeLoadPlan& plan, Sink& sink)
        : reader_(reader),
          meta_(reader.metadata()),
          samples_(samples),
          timestamps_(samples.times()),
          group_starts_(group_starts),
          plan_(plan),
          sink_(sink),
          finder_(samples.times()),
          all_signals_(fc::BitMask::repeat(true, meta_.signals.size())),
          buffers_(group_starts.size() - 1),
          failures_(group_starts.size() - 1) {}

    // Decodes every block; the first error a sequential decode would meet ends it. side_work,
    // when given, runs on the calling thread alongside the first batch's decoding.
    std::optional<fc::ReaderError> run(const signal::ParallelFor& parallel, SideWork* side_work = nullptr);

private:
    size_t group_of(uint32_t signal) const {
        return static_cast<size_t>(std::upper_bound(group_starts_.begin(), group_starts_.end(), signal) -
                                   group_starts_.begin()) - 1;
    }
    // The sample index of a change: that of its time-table position, so a time the table names
    // twice within a block gives two samples, each with its own changes; without a position,
    // found by searching the times.
    uint64_t index_of(uint64_t time, uint64_t time_index) {
        if (time_index != fc::kNoTimeIndex) return samples_.index_of_position(time_index);
        return finder_.index_of(time);
    }

    SlotIndices slot_indices(const fc::LoadedBlock& block);
    std::optional<fc::ReaderError> load_batch(std::vector<PendingBlock>& batch);
    fc::Status store_initial_values(const fc::LoadedBlock& block);
    void decode_group(size_t group, const std::vector<PendingBlock>& batch);
    std::optional<fc::ReaderError> first_failure();

    fc::FstReader& reader_;
    const fc::MetaData& meta_;
    const FstSamples& samples_;
    const std::vector<uint64_t>& timestamps_;
    std::span<const uint32_t> group_starts_;  // group g holds signals [starts[g], starts[g + 1])
    ChangeLoadPlan plan_;
    Sink& sink_;
    TimeIndexFinder finder_;
    fc::BitMask all_signals_;
    std::vector<fc::DataSectionInfo> sections_;
    size_t next_section_ = 0;
    uint64_t end_time_ = 0;
    struct GroupBuffers {
        std::vector<uint8_t> window;    // the group's signal data of a block not held in memory
        std::vector<uint8_t> unpacked;  // one signal's data, decompressed
        fc::InflateState inflater;
    };
    std::vector<GroupBuffers> buffers_;
    std::vector<std::optional<GroupFailure>> failures_;
};

template <typename Sink>
fc::Status ChangeLoader<Sink>::store_initial_values(const fc::LoadedBlock& block) {
    // The values at the block's start come before the changes of its first time step.
    const uint64_t index = samples_.index_of_time(block.start_time());
    return block.for_each_initial_value(meta_, all_signals_, [&](uint32_t signal, const fc::FstSignalValue& value) {
        auto target = sink_.target(group_of(signal), signal);
        if (!target || index >= timestamps_.size()) return;
        if (value.is_real()) {
            target->set(index, signal::SignalValue::real(value.real));
        } else {
            store_chars(*target, index, value.bytes);
        }
    });
}

// Indices are listed only from the first slot that does not follow on: looking them up while
// decoding signal by signal jumps all over the list, a cache miss a change.
template <typename Sink>
SlotIndices ChangeLoader<Sink>::slot_indices(const fc::LoadedBlock& block) {
    SlotIndices indices;
    indices.slots = block.slots_until(end_time_);
    const uint64_t offset = block.time_table_offset();
    bool straight = true;
    for (uint64_t slot = 0; slot < indices.slots; ++slot) {
        const uint64_t index =
            index_of(block.times()[slot], offset == fc::kNoTimeIndex ? fc::kNoTimeIndex : offset + slot);
        if (slot == 0) indices.first = index;
        if (straight && index == indices.first + slot) continue;
        if (straight) {
            straight = false;
            indices.straight = slot;
        }
        indices.rest.push_back(index);
    }
    if (straight) indices.straight = indices.slots;
    return indices;
}

// Reads blocks until the batch holds batch_bytes (or the blocks run out). A failure to read a
// block ends the batch; the blocks before it are still decoded, so errors come out in file
// order.
template <typename Sink>
std::optional<fc::ReaderError> ChangeLoader<Sink>::load_batch(std::vector<PendingBlock>& batch) {
    uint64_t bytes = 0;
    while (next_section_ < sections_.size() && (batch.empty() || bytes < plan_.batch_bytes)) {
        const size_t number = next_section_++;
        auto loaded = reader_.load_block(sections_[number], number == 0);
        if (!loaded.ok()) return std::move(loaded).error();
        if (fc::Status held = loaded.value().hold_data(); !held.ok()) {
            return reader_.in_section(std::move(held).error(), sections_[number]);
        }
        if (fc::Status initial = store_initial_values(loaded.value()); !initial.ok()) {
            return reader_.in_section(std::move(initial).error(), sections_[number]);
        }
        PendingBlock pending{std::move(loaded).value(), {}, number};
        pending.indices = slot_indices(pending.block);
        bytes += pending.block.byte_size() + pending.indices.rest.size() * sizeof(uint64_t);
        batch.push_back(std::move(pending));
    }
    return std::nullopt;
}

// Decodes the group's signals block after block; stops at the group's first failure.
template <typename Sink>
void ChangeLoader<Sink>::decode_group(size_t group, const std::vector<PendingBlock>& batch) {
    SignalRecorder<typename Sink::Target> recorder;
    GroupBuffers& buffers = buffers_[group];
    const uint32_t first = group_starts_[group];
    const uint32_t last = group_starts_[group + 1];
    const auto by_signal = [](const fc::LoadedBlock::Entry& e, uint32_t s) { return e.signal < s; };
    for (const PendingBlock& pending : batch) {
        const fc::LoadedBlock& block = pending.block;
        const auto& entries = block.entries();
        const auto begin = std::lower_bound(entries.begin(), entries.end(), first, by_signal);
        const auto end = std::lower_bound(begin, entries.end(), last, by_signal);
        if (begin == end) continue;
        const auto fail = [&](uint32_t signal, fc::ReaderError error) {
            failures_[group] = GroupFailure{pending.number, signal, std::move(error)};
        };
        // The group's signals lie side by side in the block: they are taken a window of several
        // at a time, a view of the block's data held in memory (or, were it not held, read into
        // a buffer small enough to stay in cache and be reused).
        for (auto window_begin = begin; window_begin != end;) {
            const auto window_end = window_limit(window_begin, end, plan_.window_bytes);
            auto window = block.window(std::span(window_begin, window_end), buffers.window);
            if (!window.ok()) return fail(window_begin->signal, std::move(window).error());
            for (auto entry = window_begin; entry != window_end; ++entry) {
                recorder.start(sink_.target(group, entry->signal), pending.indices, timestamps_.size());
                buffers.unpacked.clear();
                auto location = block.unpack(*entry, window.value(), buffers.unpacked, &buffers.inflater);
                fc::Status status =
                    location.ok() ? fc::decode_changes(block.view(location.value(), window.value(), buffers.unpacked),
                                                       meta_.signals[entry->signal], meta_.float_endian,
                                                       block.slot_count(), pending.indices.slots, recorder)
                                  : fc::Status(std::move(location).error());
                if (!status.ok()) return fail(entry->signal, std::move(status).error());
            }
            window_begin = window_end;
        }
    }
}

// The failure a sequential decode would have met first: the earliest block, then the lowest
// signal. Each group stops at its own first failure, which is its earliest.
template <typename Sink>
std::optional<fc::ReaderError> ChangeLoader<Sink>::first_failure() {
    std::optional<GroupFailure>* first = nullptr;
    for (auto& failure : failures_) {
        if (!failure) continue;
        if (!first || std::pair(failure->block, failure->signal) < std::pair((*first)->block, (*first)->signal)) {
            first = &failure;
        }
    }
    if (!first) return std::nullopt;
    return reader_.in_signal_data(std::move((*first)->error), sections_[(*first)->block], (*first)->signal);
}

template <typename Sink>
std::optional<fc::ReaderError> ChangeLoader<Sink>::run(const signal::ParallelFor& parallel, SideWork* side_work) {
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
            // After the last batch each group finishes its columns at once, while its signals'
            // streams are still in cache.
            const bool last = !load_error && next_section_ == sections_.size();
            const auto decode = [&](size_t group) {
                decode_group(group, batch);
                if (last && !failures_[group]) sink_.finish_group(group);
            };
            if (side_work != nullptr && side_work->pending()) {
                side_work->run_with(group_starts_.size() - 1, decode);
            } else {
                parallel(group_starts_.size() - 1, decode);
            }
            if (std::optional<fc::ReaderError> failure = first_failure()) return failure;
        }
        if (load_error) return load_error;
    }
    std::vector<GroupBuffers>().swap(buffers_);  // the columns are still to be finished: give the memory back first
    return std::nullopt;
}

// Group g holds the signals [starts[g], starts[g + 1]), the groups about equal in size.
std::vector<uint32_t> group_starts(size_t signals, size_t groups) {
    groups = std::max<size_t>(1, std::min(groups, std::max<size_t>(signals, 1)));
    std::vector<uint32_t> starts;
    for (size_t g = 0; g <= groups; ++g) starts.push_back(static_cast<uint32_t>(g * signals / groups));
    return starts;
}

}  // namespace

size_t default_group_count(size_t signals, size_t workers) {
    // Each group's column builder, when one is used, keeps a table entry for every id up to the
    // largest it holds.
    constexpr size_t table_budget = size_t{32} << 20;
    constexpr size_t bytes_per_signal_and_group = 16;
    const size_t by_memory =
        std::max<size_t>(1, table_budget / (std::max<size_t>(signals, 1) * bytes_per_signal_and_group));
    return std::max<size_t>(1, std::min(4 * workers, by_memory));
}

Result<signal::ColumnStore, fc::ReaderError> load_fst_changes(fc::FstReader& reader,
                                                              std::span<const uint32_t> id_of_signal,
                                                              const FstSamples& samples,
                                                              const signal::ParallelFor& parallel,
                                                              const ChangeLoadPlan& plan, SideWork* side_work) {
    const std::vector<uint32_t> starts = group_starts(reader.metadata().signals.size(), plan.groups);
    if (plan.stream_columns) {
        const std::vector<uint32_t> stream_starts =
            plan.stream_groups == 0 ? starts : group_starts(reader.metadata().signals.size(), plan.stream_groups);
        StreamSink streams(reader.metadata().signals.size(), samples.times().size(), stream_starts);
        ChangeLoader<StreamSink> loader(reader, samples, stream_starts, plan, streams);
        std::optional<fc::ReaderError> error = loader.run(parallel, side_work);
        // The ids are read from here on: the side work (which gives them) has to be done.
        if (side_work != nullptr) side_work->finish();
        if (error) return make_err(std::move(*error));
        signal::ColumnStore store = streams.freeze(id_of_signal, parallel);
        if (!streams.out_of_order()) return store;
        // Some change lies before an earlier one of its signal (times out of order in the file):
        // decode again into builders, which sort.
    }
    if (side_work != nullptr) side_work->finish();
    BuilderSink builders(id_of_signal, starts.size() - 1);
    ChangeLoader<BuilderSink> loader(reader, samples, starts, plan, builders);
    if (std::optional<fc::ReaderError> error = loader.run(parallel)) return make_err(std::move(*error));
    return builders.freeze(samples.times().size(), parallel);
}

}  // namespace quor_core::trace
