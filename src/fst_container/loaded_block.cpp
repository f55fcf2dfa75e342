#include "loaded_block.hpp"

#include <algorithm>

#include "change_decoding.hpp"
#include "compression/compression.hpp"
#include "compression/fastlz.hpp"
#include "reader.hpp"
#include "value_changes.hpp"

namespace fst_container {
namespace {

constexpr std::uint64_t vc_block_head = 32;
constexpr std::uint64_t max_varint_u32_length = 5;

PackType pack_type_from(std::uint8_t b) {
    if (b == '4') return PackType::Lz4;
    if (b == 'F') return PackType::FastLz;
    return PackType::Zlib;
}

}  // namespace

Result<LoadedBlock> LoadedBlock::read(ByteSource& src, const MetaData& meta, const DataSectionInfo& section,
                                      bool first) {
    LoadedBlock block;
    block.time_table_offset_ = section.time_table_offset;
    FST_CHECK(src.seek(section.file_offset));
    FST_TRY(const std::uint64_t section_len, read_u64(src));
    if (section_len < vc_block_head) {
        return ReaderError::invalid_data("the block's length, " + std::to_string(section_len) + ", is too short for a value-change block");
    }
    if (section_len - 8 > src.remaining()) return block_past_end(src, section_len);
    block.source_ = &src;
    block.section_start_ = section.file_offset;
    block.section_length_ = section_len;
    // Positions below count from the section's start, and reads end at its end.
    SectionSource blk(src, section.file_offset, section_len);

    FST_CHECK(blk.seek(8));
    FST_TRY(block.start_time_, read_u64(blk));
    FST_TRY(const std::uint64_t end_time, read_u64(blk));
    if (block.start_time_ != section.start_time || end_time != section.end_time) {
        return ReaderError::invalid_data("the block's times differ from those read when the file was opened");
    }
    FST_TRY(TimeTable table, read_time_table(blk, 0, section_len));
    if (table.section_length + 8 > section_len) return ReaderError::invalid_data("the time table overlaps the block's head");
    block.times_ = std::move(table.times);

    FST_CHECK(blk.seek(vc_block_head));
    FST_TRY(const auto frame_uncompressed, read_variant_u64(blk));
    FST_TRY(const auto frame_compressed, read_variant_u64(blk));
    FST_TRY(const auto frame_signals, read_variant_u64(blk));
    if (frame_compressed.value > section_len) return ReaderError::invalid_data("the initial values claim more bytes than their block holds");
    if (first && (block.times_.empty() || block.start_time_ < block.times_.front())) {
        FST_TRY(block.frame_, read_zlib_compressed_bytes(blk, frame_uncompressed.value, frame_compressed.value, true));
        if (frame_signals.value != meta.signals.size()) {
            return ReaderError::invalid_data("the initial values are of " + std::to_string(frame_signals.value) +
                                             " signals, the geometry declares " + std::to_string(meta.signals.size()));
        }
        block.has_frame_ = true;
    } else {
        FST_CHECK(blk.seek(blk.position() + frame_compressed.value));
    }

    FST_TRY(const auto vc_signals, read_variant_u64(blk));
    if (vc_signals.value > meta.signals.size()) {
        return ReaderError::invalid_data("the block has changes of " + std::to_string(vc_signals.value) +
                                         " signals, the geometry declares " + std::to_string(meta.signals.size()));
    }
    block.data_start_ = blk.position();
    FST_TRY(const std::uint8_t pack_byte, blk.read_u8());
    block.pack_ = pack_type_from(pack_byte);
    const std::uint64_t chain_len_pos = section_len - table.section_length - 8;
    FST_TRY(const std::vector<SignalDataLoc> locs,
            read_signal_locs(blk, chain_len_pos, section.kind, vc_signals.value, block.data_start_));
    // read_signal_locs checked that the chain table starts after the pack-type byte.
    FST_CHECK(blk.seek(chain_len_pos));
    FST_TRY(const std::uint64_t chain_len, read_u64(blk));
    block.data_end_ = chain_len_pos - chain_len;

    OffsetTableIter iter(locs);
    for (;;) {
        FST_TRY(const std::optional<SignalDataRange> range, iter.next());
        if (!range) break;
        if (range->index >= meta.signals.size()) {
            return ReaderError::invalid_data("the chain table names a signal the geometry does not declare");
        }
        const SignalDataLoc& loc = locs[range->index];
        const std::uint32_t owner = loc.kind == SignalDataLoc::Kind::Alias ? loc.first : range->index;
        block.entries_.push_back(Entry{range->index, owner, range->offset, range->length});
    }
    return block;
}

std::uint64_t LoadedBlock::slots_until(std::uint64_t end_time) const {
    const auto after = std::find_if(times_.begin(), times_.end(), [&](std::uint64_t t) { return t > end_time; });
    return static_cast<std::uint64_t>(after - times_.begin());
}

Status LoadedBlock::for_each_initial_value(const MetaData& meta, const BitMask& selected,
                                           FunctionRef<void(std::uint32_t, const FstSignalValue&)> callback) const {
    if (!has_frame_) return {};
    std::size_t pos = 0;
    const std::size_t count = meta.signals.size();
    for (std::size_t i = 0; i < count; ++i) {
        const SignalInfo& info = meta.signals[i];
        const std::uint64_t len = info.frame_len();
        if (len > frame_.size() - pos) {
            return ReaderError::unexpected_eof("unexpected eof")
                .with_detail("the initial values end before those of signal handle " + std::to_string(i + 1));
        }
        if (selected.is_set(i)) {
            const auto signal = static_cast<std::uint32_t>(i);
            if (info.is_real()) {
                callback(signal, FstSignalValue::of_real(read_double(frame_.data() + pos, meta.float_endian)));
            } else if (info.is_bit_vector()) {
                const std::string_view chars(reinterpret_cast<const char*>(frame_.data() + pos),
                                             static_cast<std::size_t>(len));
                callback(signal, FstSignalValue::of_bytes(chars));
            }
        }
        pos += static_cast<std::size_t>(len);
    }
    return {};
}

Status LoadedBlock::hold_data() {
    if (!source_->held().empty() || data_start_ >= section_length_) return {};
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(section_length_ - data_start_));
    FST_CHECK(source_->read_at(section_start_ + data_start_, bytes.data(), bytes.size()));
    held_ = std::move(bytes);
    held_start_ = data_start_;
    return {};
}

Result<LoadedBlock::DataWindow> LoadedBlock::window(std::span<const Entry> entries,
                                                    std::vector<std::uint8_t>& buffer) const {
    if (entries.empty()) return DataWindow{};
    std::uint64_t start = UINT64_MAX;
    std::uint64_t end = 0;
    for (const Entry& entry : entries) {
        start = std::min(start, data_start_ + entry.offset);
        end = std::max(end, data_start_ + entry.offset + entry.length);
    }
    // A zlib stream may run on past its entry (its stated length counts from after the length
    // varint); the window takes in the bytes it may reach, up to the end of the section.
    if (pack_ == PackType::Zlib) end += max_varint_u32_length;
    end = std::min(end, section_length_);
    start = std::min(start, end);
    if (const std::span<const std::uint8_t> held = source_->held(); !held.empty()) {
        return DataWindow(held.data() + section_start_ + start, start, end);
    }
    if (!held_.empty() && start >= held_start_ && end <= held_start_ + held_.size()) {
        return DataWindow(held_.data() + (start - held_start_), start, end);
    }
    buffer.resize(static_cast<std::size_t>(end - start));
    FST_CHECK(source_->read_at(section_start_ + start, buffer.data(), buffer.size()));
    return DataWindow(buffer.data(), start, end);
}

Result<LoadedBlock::DataLocation> LoadedBlock::unpack(const Entry& entry, const DataWindow& window,
                                                      std::vector<std::uint8_t>& buffer,
                                                      InflateState* inflater) const {
    const std::uint64_t entry_start = data_start_ + entry.offset;
    const std::uint64_t entry_len = entry.length;
    if (entry_start > data_end_ || entry_len > data_end_ - entry_start) {
        return ReaderError::invalid_data("the signal's data lies outside its block");
    }
    if (entry_start < window.start_ || entry_start + entry_len > window.end_) {
        return ReaderError::invalid_data("the signal's data lies outside the bytes read for it");
    }
    const std::uint8_t* const base = window.base_ + (entry_start - window.start_);
    const std::uint8_t* p = base;
    const std::uint8_t* const entry_end = base + entry_len;
    FST_TRY(const std::uint32_t uncompressed, decode_varint_u32(p, entry_end));
    const auto header_len = static_cast<std::size_t>(p - base);
    if (uncompressed == 0) {
        return DataLocation{false, static_cast<std::size_t>(entry_start - window.start_) + header_len,
                            static_cast<std::size_t>(entry_len) - header_len};
    }
    std::span<const std::uint8_t> input(p, entry_end);
    const std::uint64_t ratio = pack_ == PackType::Zlib ? max_deflate_ratio : max_lz4_ratio;
    if (pack_ == PackType::Zlib) {
        // The zlib stream ends by itself; its stated length is the whole entry.
        const auto avail = static_cast<std::size_t>(window.end_ - (entry_start + header_len));
        input = std::span<const std::uint8_t>(p, std::min<std::size_t>(avail, static_cast<std::size_t>(entry_len)));
    }
    if (!expansion_plausible(input.size(), uncompressed, ratio)) {
        return ReaderError::invalid_data("the signal's data claims more bytes than its compressed form can hold");
    }
    const std::size_t out_start = buffer.size();
    buffer.resize(out_start + uncompressed);
    std::uint8_t* const out = buffer.data() + out_start;
    std::size_t produced = 0;
    switch (pack_) {
        case PackType::Lz4: {
            FST_TRY(produced, lz4_decompress_into(input, out, uncompressed));
            break;
        }
        case PackType::FastLz: {
            FST_TRY(produced, fastlz::decompress_into(input, out, uncompressed));
            break;
        }
        case PackType::Zlib: {
            if (inflater != nullptr) {
                FST_TRY(produced, inflate_into(input, out, uncompressed, DeflateFormat::Zlib, *inflater));
            } else {
                FST_TRY(produced, inflate_into(input, out, uncompressed, DeflateFormat::Zlib));
            }
            if (produced != uncompressed) return ReaderError::invalid_data("the signal's data is shorter than its stated length");
            break;
        }
    }
    buffer.resize(out_start + produced);
    return DataLocation{true, out_start, produced};
}

std::span<const std::uint8_t> LoadedBlock::view(const DataLocation& location, const DataWindow& window,
                                                const std::vector<std::uint8_t>& buffer) const {
    const std::uint8_t* base = location.in_buffer ? buffer.data() : window.base_;
    return {base + location.offset, location.length};
}

}  // namespace fst_container
