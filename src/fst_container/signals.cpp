// Reading value changes: frames, per-signal data and time-ordered delivery.

#include <algorithm>
#include <bit>
#include <cstring>

#include "compression.hpp"
#include "fastlz.hpp"
#include "reader.hpp"
#include "value_changes.hpp"

namespace fst_container {
namespace {

constexpr std::uint32_t no_signal = UINT32_MAX;
constexpr std::uint64_t vc_block_head = 32;

ReaderError eof() { return ReaderError::unexpected_eof("unexpected eof"); }

double read_double(const std::uint8_t* p, FloatEndian order) {
    std::uint8_t b[8];
    std::memcpy(b, p, 8);
    const bool host_little = std::endian::native == std::endian::little;
    if ((order == FloatEndian::Little) != host_little) std::reverse(b, b + 8);
    double d = 0;
    std::memcpy(&d, b, 8);
    return d;
}

enum class PackType : std::uint8_t { Zlib, FastLz, Lz4 };

PackType pack_type_from(std::uint8_t b) {
    if (b == '4') return PackType::Lz4;
    if (b == 'F') return PackType::FastLz;
    return PackType::Zlib;
}

// Where a signal's decoded change data lives: in the block buffer or in
// the shared buffer of decompressed data.
struct DataSlot {
    bool in_block;
    std::size_t offset;
    std::size_t length;
};

// Decoding position within one signal's change data.
struct Cursor {
    const std::uint8_t* p = nullptr;
    const std::uint8_t* end = nullptr;
    std::uint32_t pending = 0;  // leading varint of the next change, already read
};

class BlockDecoder {
public:
    BlockDecoder(const MetaData& meta, const BitMask& selected, std::uint64_t end_time, SignalCallback callback,
                 bool by_signal)
        : meta_(meta), selected_(selected), end_time_(end_time), callback_(callback), by_signal_(by_signal) {}

    Status decode(ByteSource& src, const DataSectionInfo& section, bool first);

private:
    Status deliver_frame(std::span<const std::uint8_t> frame, std::uint64_t time);
    Status decompress_entries(const std::vector<SignalDataLoc>& locs, std::uint64_t data_start,
                              std::uint64_t data_end, PackType pack);
    Status load_entry(std::uint64_t entry_start, std::uint64_t entry_len, std::uint64_t data_end, PackType pack,
                      DataSlot& slot);
    Status schedule(std::uint32_t signal, std::uint64_t index);
    Status deliver_change(std::uint32_t signal, std::uint64_t time, std::uint64_t slot);
    Status read_pending(std::uint32_t signal, std::uint64_t& delta);
    Status deliver_by_signal(const std::vector<std::uint64_t>& times);

    const MetaData& meta_;
    const BitMask& selected_;
    std::uint64_t end_time_;
    SignalCallback callback_;
    bool by_signal_;
    std::uint64_t time_table_offset_ = kNoTimeIndex;  // of the block being decoded

    std::vector<std::uint8_t> block_;
    std::vector<std::uint8_t> decompressed_;
    std::vector<DataSlot> slots_;
    std::vector<std::uint32_t> slot_of_entry_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> signal_slots_;  // (signal, slot)
    std::vector<Cursor> cursors_;
    std::vector<std::uint32_t> head_;
    std::vector<std::uint32_t> next_;
    std::string scratch_;
};

Status BlockDecoder::deliver_frame(std::span<const std::uint8_t> frame, std::uint64_t time) {
    std::size_t pos = 0;
    const std::size_t count = meta_.signals.size();
    for (std::size_t i = 0; i < count; ++i) {
        const SignalInfo& info = meta_.signals[i];
        const std::uint64_t len = info.frame_len();
        if (len > frame.size() - pos) return eof();
        if (selected_.is_set(i)) {
            const FstSignalHandle handle = *FstSignalHandle::from_index(i);
            if (info.is_real()) {
                callback_(time, handle, FstSignalValue::of_real(read_double(frame.data() + pos, meta_.float_endian)));
            } else if (info.is_bit_vector()) {
                const std::string_view bytes(reinterpret_cast<const char*>(frame.data() + pos),
                                             static_cast<std::size_t>(len));
                callback_(time, handle, FstSignalValue::of_bytes(bytes));
            }
        }
        pos += static_cast<std::size_t>(len);
    }
    return {};
}

Status BlockDecoder::load_entry(std::uint64_t entry_start, std::uint64_t entry_len, std::uint64_t data_end,
                                PackType pack, DataSlot& slot) {
    if (entry_start > data_end || entry_len > data_end - entry_start) {
        return ReaderError::invalid_data("signal data lies outside its block");
    }
    const std::uint8_t* const base = block_.data();
    const std::uint8_t* p = base + entry_start;
    const std::uint8_t* const entry_end = p + entry_len;
    FST_TRY(const std::uint32_t uncompressed, decode_varint_u32(p, entry_end));
    const auto header_len = static_cast<std::size_t>(p - (base + entry_start));
    if (uncompressed == 0) {
        slot = DataSlot{true, static_cast<std::size_t>(entry_start) + header_len,
                        static_cast<std::size_t>(entry_len) - header_len};
        return {};
    }
    std::span<const std::uint8_t> input(p, entry_end);
    std::uint64_t ratio = pack == PackType::Zlib ? max_deflate_ratio : max_lz4_ratio;
    if (pack == PackType::Zlib) {
        // The zlib stream ends by itself; its stated length is the whole entry.
        const std::size_t avail = block_.size() - static_cast<std::size_t>(p - base);
        input = std::span<const std::uint8_t>(p, std::min<std::size_t>(avail, static_cast<std::size_t>(entry_len)));
    }
    if (!expansion_plausible(input.size(), uncompressed, ratio)) {
        return ReaderError::invalid_data("signal data claims more output than its input can hold");
    }
    const std::size_t out_start = decompressed_.size();
    decompressed_.resize(out_start + uncompressed);
    std::uint8_t* const out = decompressed_.data() + out_start;
    std::size_t produced = 0;
    switch (pack) {
        case PackType::Lz4: {
            FST_TRY(produced, lz4_decompress_into(input, out, uncompressed));
            break;
        }
        case PackType::FastLz: {
            FST_TRY(produced, fastlz::decompress_into(input, out, uncompressed));
            break;
        }
        case PackType::Zlib: {
            FST_TRY(produced, inflate_into(input, out, uncompressed, DeflateFormat::Zlib));
            if (produced != uncompressed) return ReaderError::invalid_data("signal data shorter than its length");
            break;
        }
    }
    decompressed_.resize(out_start + produced);
    slot = DataSlot{false, out_start, produced};
    return {};
}

Status BlockDecoder::decompress_entries(const std::vector<SignalDataLoc>& locs, std::uint64_t data_start,
                                        std::uint64_t data_end, PackType pack) {
    decompressed_.clear();
    slots_.clear();
    signal_slots_.clear();
    slot_of_entry_.assign(locs.size(), no_signal);
    OffsetTableIter iter(locs);
    for (;;) {
        FST_TRY(const std::optional<SignalDataRange> range, iter.next());
        if (!range) break;
        if (range->index >= meta_.signals.size()) {
            return ReaderError::invalid_data("chain table names a signal the file does not declare");
        }
        if (!selected_.is_set(range->index)) continue;
        // Aliases resolve to the entry holding the data; decode it once.
        const SignalDataLoc& loc = locs[range->index];
        const std::uint32_t owner = loc.kind == SignalDataLoc::Kind::Alias ? loc.first : range->index;
        if (slot_of_entry_[owner] == no_signal) {
            DataSlot slot{};
            FST_CHECK(load_entry(data_start + range->offset, range->length, data_end, pack, slot));
            slot_of_entry_[owner] = static_cast<std::uint32_t>(slots_.size());
            slots_.push_back(slot);
        }
        signal_slots_.emplace_back(range->index, slot_of_entry_[owner]);
    }
    return {};
}

Status BlockDecoder::read_pending(std::uint32_t signal, std::uint64_t& delta) {
    Cursor& c = cursors_[signal];
    const std::uint8_t* const start = c.p;
    std::uint32_t v = 0;
    if (!try_varint_u32(c.p, c.end, v)) {
        const std::uint8_t* p = start;
        return decode_varint_u32(p, c.end).error();
    }
    c.pending = v;
    delta = meta_.signals[signal].bits() == 1 ? one_bit_delta(v) : multi_bit_delta(v);
    return {};
}

Status BlockDecoder::schedule(std::uint32_t signal, std::uint64_t index) {
    if (index >= head_.size()) return ReaderError::invalid_data("change past the end of its block's time table");
    next_[signal] = head_[index];
    head_[index] = signal;
    return {};
}

Status BlockDecoder::deliver_change(std::uint32_t signal, std::uint64_t time, std::uint64_t slot) {
    const std::uint64_t t = time_table_offset_ == kNoTimeIndex ? kNoTimeIndex : time_table_offset_ + slot;
    Cursor& c = cursors_[signal];
    const SignalInfo& info = meta_.signals[signal];
    const FstSignalHandle handle = *FstSignalHandle::from_index(signal);
    const std::uint32_t v = c.pending;
    const auto left = static_cast<std::size_t>(c.end - c.p);
    if (info.is_real()) {
        if ((v & 1u) == 0) return ReaderError::io(IoKind::Unsupported, "packed real values are not supported");
        if (left < 8) return eof();
        const double value = read_double(c.p, meta_.float_endian);
        c.p += 8;
        callback_(time, handle, FstSignalValue::of_real(value, t));
        return {};
    }
    if (info.is_var_length()) {
        const std::uint8_t* const start = c.p;
        std::uint32_t len = 0;
        if (!try_varint_u32(c.p, c.end, len)) {
            const std::uint8_t* p = start;
            return decode_varint_u32(p, c.end).error();
        }
        if (len > static_cast<std::size_t>(c.end - c.p)) return eof();
        const std::string_view bytes(reinterpret_cast<const char*>(c.p), len);
        c.p += len;
        callback_(time, handle, FstSignalValue::of_bytes(bytes, t));
        return {};
    }
    const std::uint32_t bits = info.bits();
    if (bits == 1) {
        const char ch = one_bit_char(v);
        callback_(time, handle, FstSignalValue::of_bytes(std::string_view(&ch, 1), t));
        return {};
    }
    if (v & 1u) {
        if (bits > left) return eof();
        const std::string_view bytes(reinterpret_cast<const char*>(c.p), bits);
        c.p += bits;
        callback_(time, handle, FstSignalValue::of_bytes(bytes, t));
        return {};
    }
    const std::size_t packed = (std::size_t{bits} + 7) / 8;
    if (packed > left) return eof();
    if (scratch_.size() < bits) scratch_.resize(bits);
    unpack_bits(c.p, bits, scratch_.data());
    c.p += packed;
    callback_(time, handle, FstSignalValue::of_bytes(std::string_view(scratch_.data(), bits), t));
    return {};
}

Status BlockDecoder::decode(ByteSource& src, const DataSectionInfo& section, bool first) {
    time_table_offset_ = section.time_table_offset;
    // The whole block is read at once; everything below parses memory.
    FST_CHECK(src.seek(section.file_offset));
    FST_TRY(const std::uint64_t section_len, read_u64(src));
    if (section_len < vc_block_head || section_len - 8 > src.remaining()) return eof();
    block_.resize(static_cast<std::size_t>(section_len));
    FST_CHECK(src.seek(section.file_offset));
    FST_CHECK(src.read_exact(block_.data(), block_.size()));
    SliceSource blk(block_);

    FST_CHECK(blk.seek(8));
    FST_TRY(const std::uint64_t start_time, read_u64(blk));
    FST_TRY(const std::uint64_t end_time, read_u64(blk));
    if (start_time != section.start_time || end_time != section.end_time) {
        return ReaderError::invalid_data("value-change section times differ from those seen when opening");
    }
    FST_TRY(const TimeTable table, read_time_table(blk, 0, section_len));
    if (table.section_length + 8 > section_len) return ReaderError::invalid_data("time table overlaps its block");

    FST_CHECK(blk.seek(vc_block_head));
    FST_TRY(const auto frame_uncompressed, read_variant_u64(blk));
    FST_TRY(const auto frame_compressed, read_variant_u64(blk));
    FST_TRY(const auto frame_signals, read_variant_u64(blk));
    if (frame_compressed.value > section_len) return ReaderError::invalid_data("frame larger than its section");
    if (first && (table.times.empty() || start_time < table.times.front())) {
        FST_TRY(const std::vector<std::uint8_t> frame,
                read_zlib_compressed_bytes(blk, frame_uncompressed.value, frame_compressed.value, true));
        if (frame_signals.value != meta_.signals.size()) {
            return ReaderError::invalid_data("frame signal count differs from the geometry");
        }
        FST_CHECK(deliver_frame(frame, start_time));
    } else {
        FST_CHECK(blk.seek(blk.position() + frame_compressed.value));
    }

    FST_TRY(const auto vc_signals, read_variant_u64(blk));
    if (vc_signals.value > meta_.signals.size()) {
        return ReaderError::invalid_data("value-change signal count exceeds the geometry");
    }
    const std::uint64_t data_start = blk.position();
    FST_TRY(const std::uint8_t pack_byte, blk.read_u8());
    const std::uint64_t chain_len_pos = section_len - table.section_length - 8;
    const auto kind = section.kind;
    FST_TRY(const std::vector<SignalDataLoc> locs,
            read_signal_locs(blk, chain_len_pos, kind, vc_signals.value, data_start));
    // read_signal_locs checked that the chain table starts after data_start.
    std::uint64_t chain_len = 0;
    {
        FST_CHECK(blk.seek(chain_len_pos));
        FST_TRY(chain_len, read_u64(blk));
    }
    const std::uint64_t data_end = chain_len_pos - chain_len;
    FST_CHECK(decompress_entries(locs, data_start, data_end, pack_type_from(pack_byte)));

    const std::size_t time_slots = std::max<std::size_t>(table.times.size(), 1);
    head_.assign(time_slots, no_signal);
    next_.assign(locs.size(), no_signal);
    cursors_.assign(locs.size(), Cursor{});
    for (const auto& [signal, slot_index] : signal_slots_) {
        const DataSlot& slot = slots_[slot_index];
        const std::uint8_t* base = slot.in_block ? block_.data() : decompressed_.data();
        Cursor& c = cursors_[signal];
        c.p = base + slot.offset;
        c.end = c.p + slot.length;
        if (c.p == c.end) continue;
        std::uint64_t delta = 0;
        FST_CHECK(read_pending(signal, delta));
        FST_CHECK(schedule(signal, delta));
    }

    if (by_signal_) return deliver_by_signal(table.times);
    for (std::size_t index = 0; index < table.times.size(); ++index) {
        const std::uint64_t time = table.times[index];
        if (time > end_time_) break;
        while (head_[index] != no_signal) {
            const std::uint32_t signal = head_[index];
            head_[index] = next_[signal];
            FST_CHECK(deliver_change(signal, time, index));
            Cursor& c = cursors_[signal];
            if (c.p == c.end) continue;
            std::uint64_t delta = 0;
            FST_CHECK(read_pending(signal, delta));
            if (delta > head_.size()) return ReaderError::invalid_data("change past the end of its block's time table");
            FST_CHECK(schedule(signal, index + delta));
        }
    }
    return {};
}

// Delivers the scheduled changes signal after signal: every signal's own changes in the same
// order and with the same checks as the time-ordered walk, so its values come out the same.
// The time table is walked in windows, all signals per window, so the part of the table in use
// (and the receiver's per-signal state) stays in cache.
Status BlockDecoder::deliver_by_signal(const std::vector<std::uint64_t>& times) {
    struct Walk {
        std::uint32_t signal;
        std::uint64_t index;  // of the signal's next change
    };
    std::vector<Walk> walks;
    for (std::size_t first = 0; first < head_.size(); ++first) {
        for (std::uint32_t signal = head_[first]; signal != no_signal; signal = next_[signal]) {
            walks.push_back({signal, first});
        }
    }
    constexpr std::size_t kWindow = 2048;
    for (std::size_t window = 0; window < times.size() && !walks.empty(); window += kWindow) {
        const std::size_t window_end = std::min(times.size(), window + kWindow);
        std::size_t kept = 0;
        for (Walk w : walks) {
            Cursor& c = cursors_[w.signal];
            bool done = false;
            while (w.index < window_end) {
                const std::uint64_t time = times[w.index];
                if (time > end_time_) {
                    done = true;
                    break;
                }
                FST_CHECK(deliver_change(w.signal, time, w.index));
                if (c.p == c.end) {
                    done = true;
                    break;
                }
                std::uint64_t delta = 0;
                FST_CHECK(read_pending(w.signal, delta));
                if (delta > head_.size() || w.index + delta >= head_.size()) {
                    return ReaderError::invalid_data("change past the end of its block's time table");
                }
                w.index += delta;
            }
            if (!done) walks[kept++] = w;
        }
        walks.resize(kept);
    }
    return {};
}

}  // namespace

Status FstReader::read_signals(const FstFilter& filter, SignalCallback callback, Delivery order) {
    const std::size_t count = meta_.signals.size();
    BitMask selected = BitMask::repeat(!filter.include.has_value(), count);
    if (filter.include) {
        for (const FstSignalHandle handle : *filter.include) selected.set(handle.index(), true);
    }
    const std::uint64_t end_time = filter.end.value_or(meta_.header.end_time);
    BlockDecoder decoder(meta_, selected, end_time, callback, order == Delivery::BySignal);
    std::size_t processed = 0;
    for (const DataSectionInfo& section : meta_.data_sections) {
        if (section.start_time > end_time || section.end_time < filter.start) continue;
        const bool first = processed == 0;
        ++processed;
        FST_CHECK(decoder.decode(*source_, section, first));
    }
    return {};
}

}  // namespace fst_container
