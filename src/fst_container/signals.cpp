// Reading value changes in time order: every selected signal of a block is unpacked, then the
// block's time slots are walked upwards and each slot's changes handed out.

#include <string>

#include "change_decoding.hpp"
#include "compression/compression.hpp"
#include "reader.hpp"
#include "value_changes.hpp"

namespace fst_container {
namespace {

constexpr std::uint32_t no_signal = UINT32_MAX;

// Hands decoded values to the caller's callback as FstSignalValues.
class CallbackVisitor {
public:
    CallbackVisitor(SignalCallback callback, std::string& unpacked) : callback_(callback), unpacked_(unpacked) {}

    void at(std::uint64_t time, std::uint64_t time_index, FstSignalHandle handle) {
        time_ = time;
        time_index_ = time_index;
        handle_ = handle;
    }
    void chars(std::uint64_t, std::string_view chars) {
        callback_(time_, handle_, FstSignalValue::of_bytes(chars, time_index_));
    }
    void packed(std::uint64_t, PackedBits bits) {
        if (unpacked_.size() < bits.bits) unpacked_.resize(bits.bits);
        unpack_bits(bits.data, bits.bits, unpacked_.data());
        callback_(time_, handle_, FstSignalValue::of_bytes(std::string_view(unpacked_.data(), bits.bits), time_index_));
    }
    void real(std::uint64_t, double value) { callback_(time_, handle_, FstSignalValue::of_real(value, time_index_)); }
    void text(std::uint64_t, std::string_view bytes) {
        callback_(time_, handle_, FstSignalValue::of_bytes(bytes, time_index_));
    }

private:
    SignalCallback callback_;
    std::string& unpacked_;
    std::uint64_t time_ = 0;
    std::uint64_t time_index_ = kNoTimeIndex;
    FstSignalHandle handle_ = *FstSignalHandle::from_value(1);
};

// Decoding position within one signal's change data.
struct Cursor {
    const std::uint8_t* p = nullptr;
    const std::uint8_t* end = nullptr;
    std::uint32_t pending = 0;  // leading varint of the next change, already read
};

// Time-ordered delivery of the changes of one block after another. The per-slot lists of due
// signals are singly linked through next_, so no sorting is needed.
class TimeOrderedWalk {
public:
    TimeOrderedWalk(const MetaData& meta, const BitMask& selected, SignalCallback callback)
        : meta_(meta), selected_(selected), visitor_(callback, unpacked_bits_) {}

    // On an error, failed_signal is the signal whose data it was met in.
    Status run(const LoadedBlock& block, std::uint64_t end_slot, std::uint32_t& failed_signal);

private:
    Status unpack_selected(const LoadedBlock& block, std::uint32_t& failed_signal);
    // Reads the signal's next leading varint and puts it into the list of its slot.
    Status schedule_next(std::uint32_t signal, std::uint64_t from_slot);

    const MetaData& meta_;
    const BitMask& selected_;
    std::string unpacked_bits_;
    CallbackVisitor visitor_;
    std::vector<std::uint8_t> window_bytes_;
    LoadedBlock::DataWindow window_;
    std::vector<std::uint8_t> unpacked_;
    InflateState inflater_;
    std::vector<LoadedBlock::DataLocation> locations_;
    std::vector<std::uint32_t> location_of_owner_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> signal_locations_;  // (signal, location)
    std::vector<Cursor> cursors_;
    std::vector<std::uint32_t> head_;
    std::vector<std::uint32_t> next_;
};

Status TimeOrderedWalk::unpack_selected(const LoadedBlock& block, std::uint32_t& failed_signal) {
    unpacked_.clear();
    locations_.clear();
    signal_locations_.clear();
    // Entries are by ascending signal; an alias's owner holds data, so it is an entry too.
    const std::size_t span = block.entries().empty() ? 0 : block.entries().back().signal + std::size_t{1};
    location_of_owner_.assign(span, no_signal);
    if (!block.entries().empty()) failed_signal = block.entries().front().signal;
    FST_TRY(window_, block.window(block.entries(), window_bytes_));
    for (const LoadedBlock::Entry& entry : block.entries()) {
        if (!selected_.is_set(entry.signal)) continue;
        // Aliases share their target's data; it is unpacked once.
        std::uint32_t& location = location_of_owner_[entry.owner];
        if (location == no_signal) {
            failed_signal = entry.signal;
            FST_TRY(const LoadedBlock::DataLocation unpacked, block.unpack(entry, window_, unpacked_, &inflater_));
            location = static_cast<std::uint32_t>(locations_.size());
            locations_.push_back(unpacked);
        }
        signal_locations_.emplace_back(entry.signal, location);
    }
    return {};
}

Status TimeOrderedWalk::schedule_next(std::uint32_t signal, std::uint64_t from_slot) {
    Cursor& c = cursors_[signal];
    const std::uint8_t* const start = c.p;
    if (!try_varint_u32(c.p, c.end, c.pending)) return change_errors::bad_varint(start, c.end);
    const std::uint64_t slot = from_slot + (change_form(meta_.signals[signal]) == ChangeForm::OneBit
                                                ? one_bit_delta(c.pending)
                                                : multi_bit_delta(c.pending));
    if (slot >= head_.size()) return change_errors::slot_past_table();
    next_[signal] = head_[slot];
    head_[slot] = signal;
    return {};
}

Status TimeOrderedWalk::run(const LoadedBlock& block, std::uint64_t end_slot, std::uint32_t& failed_signal) {
    FST_CHECK(unpack_selected(block, failed_signal));
    const std::size_t span = block.entries().empty() ? 0 : block.entries().back().signal + std::size_t{1};
    head_.assign(block.slot_count(), no_signal);
    next_.assign(span, no_signal);
    cursors_.assign(span, Cursor{});
    for (const auto& [signal, location] : signal_locations_) {
        const std::span<const std::uint8_t> data = block.view(locations_[location], window_, unpacked_);
        cursors_[signal] = Cursor{data.data(), data.data() + data.size(), 0};
        failed_signal = signal;
        if (!data.empty()) FST_CHECK(schedule_next(signal, 0));
    }
    const std::vector<std::uint64_t>& times = block.times();
    const std::uint64_t offset = block.time_table_offset();
    for (std::uint64_t slot = 0; slot < end_slot; ++slot) {
        const std::uint64_t time_index = offset == kNoTimeIndex ? kNoTimeIndex : offset + slot;
        while (head_[slot] != no_signal) {
            const std::uint32_t signal = head_[slot];
            head_[slot] = next_[signal];
            const SignalInfo& info = meta_.signals[signal];
            Cursor& c = cursors_[signal];
            failed_signal = signal;
            visitor_.at(times[slot], time_index, *FstSignalHandle::from_index(signal));
            FST_CHECK(decode_value(change_form(info), info.bits(), meta_.float_endian, c.pending, c.p, c.end, slot,
                                   visitor_));
            if (c.p != c.end) FST_CHECK(schedule_next(signal, slot));
        }
    }
    return {};
}

}  // namespace

std::vector<DataSectionInfo> FstReader::sections_for(const FstFilter& filter) const {
    const std::uint64_t end_time = filter.end.value_or(meta_.header.end_time);
    std::vector<DataSectionInfo> sections;
    for (const DataSectionInfo& section : meta_.data_sections) {
        if (section.start_time > end_time || section.end_time < filter.start) continue;
        sections.push_back(section);
    }
    return sections;
}

Result<LoadedBlock> FstReader::load_block(const DataSectionInfo& section, bool first) {
    auto block = LoadedBlock::read(*source_, meta_, section, first);
    if (!block.ok()) return in_section(std::move(block).error(), section);
    return block;
}

ReaderError FstReader::in_section(ReaderError error, const DataSectionInfo& section) const {
    return located(std::move(error), value_change_place(section));
}

ReaderError FstReader::in_signal_data(ReaderError error, const DataSectionInfo& section, std::uint32_t signal) const {
    return in_section(std::move(error.at(signal_place(signal))), section);
}

Status FstReader::read_signals(const FstFilter& filter, SignalCallback callback) {
    const std::size_t count = meta_.signals.size();
    BitMask selected = BitMask::repeat(!filter.include.has_value(), count);
    if (filter.include) {
        for (const FstSignalHandle handle : *filter.include) selected.set(handle.index(), true);
    }
    const std::uint64_t end_time = filter.end.value_or(meta_.header.end_time);
    TimeOrderedWalk walk(meta_, selected, callback);
    bool first = true;
    for (const DataSectionInfo& section : sections_for(filter)) {
        FST_TRY(const LoadedBlock block, load_block(section, first));
        first = false;
        const std::uint64_t start_time = block.start_time();
        Status initial = block.for_each_initial_value(meta_, selected, [&](std::uint32_t signal, const FstSignalValue& value) {
            callback(start_time, *FstSignalHandle::from_index(signal), value);
        });
        if (!initial.ok()) return in_section(std::move(initial).error(), section);
        std::uint32_t failed_signal = 0;
        Status changes = walk.run(block, block.slots_until(end_time), failed_signal);
        if (!changes.ok()) return in_signal_data(std::move(changes).error(), section, failed_signal);
    }
    return {};
}

}  // namespace fst_container
