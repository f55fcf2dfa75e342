// Opening an FST file: the block scan and the small blocks read whole.

#include <cstring>

#include "compression/compression.hpp"
#include "reader.hpp"

namespace fst_container {
namespace {

constexpr std::uint64_t header_section_length = 329;
constexpr double endian_test_value = 2.718281828459045;
// Section length, start time, end time and memory required.
constexpr std::uint64_t vc_block_head = 32;
constexpr std::uint64_t time_table_trailer = 24;

double double_from_bytes(const std::uint8_t* b, bool big_endian) {
    std::uint8_t ordered[8];
    for (int i = 0; i < 8; ++i) ordered[i] = big_endian ? b[7 - i] : b[i];
    // Assemble as a little-endian integer, then reinterpret.
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | ordered[i];
    double d = 0;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

// Seeks forward by section_len - 8 from just after a section length.
Status skip_section(ByteSource& src, std::uint64_t section_len) {
    if (section_len < 8) return ReaderError::invalid_data("the block's length, " + std::to_string(section_len) + ", is shorter than its length field");
    const std::uint64_t pos = src.position();
    if (section_len - 8 > UINT64_MAX - pos) {
        return ReaderError::io(IoKind::InvalidInput, "invalid seek to a negative or overflowing position");
    }
    return src.seek(pos + (section_len - 8));
}

}  // namespace

std::optional<BlockType> block_type_from(std::uint8_t value) {
    if (value <= 8 || value == 254 || value == 255) return static_cast<BlockType>(value);
    return std::nullopt;
}

const char* block_name(BlockType type) {
    switch (type) {
        case BlockType::Header: return "header";
        case BlockType::VcData:
        case BlockType::VcDataDynamicAlias:
        case BlockType::VcDataDynamicAlias2: return "value-change";
        case BlockType::Blackout: return "blackout";
        case BlockType::Geometry: return "geometry";
        case BlockType::Hierarchy:
        case BlockType::HierarchyLz4:
        case BlockType::HierarchyLz4Duo: return "hierarchy";
        case BlockType::GZipWrapper: return "gzip wrapper";
        case BlockType::Skip: return "skip";
    }
    return "unknown";
}

std::string block_place(BlockType type, std::uint64_t type_pos) {
    return std::string("in the ") + block_name(type) + " block at byte " + std::to_string(type_pos);
}

std::string value_change_place(const DataSectionInfo& section) {
    return "in the value-change block at byte " + std::to_string(section.file_offset - 1);
}

std::string signal_place(std::uint32_t signal) {
    return "in the data of signal handle " + std::to_string(std::uint64_t{signal} + 1);
}

ReaderError block_past_end(const ByteSource& src, std::uint64_t section_len) {
    return ReaderError::unexpected_eof().with_detail("the block claims " + std::to_string(section_len) +
                                                     " bytes, but " + src.end_description());
}

static Status check_block_fits(const ByteSource& src, std::uint64_t section_pos, std::uint64_t section_len) {
    const std::uint64_t size = src.size();
    if (size == 0) return {};  // not known (a device); reads past the end fail anyway
    if (section_pos > size || section_len > size - section_pos) return block_past_end(src, section_len);
    return {};
}

Result<std::pair<Header, FloatEndian>> read_header(ByteSource& src) {
    FST_TRY(const std::uint64_t section_len, read_u64(src));
    if (section_len != header_section_length) {
        return ReaderError::invalid_data("the header block's length is " + std::to_string(section_len) + ", not 329");
    }
    Header h;
    FST_TRY(h.start_time, read_u64(src));
    FST_TRY(h.end_time, read_u64(src));
    std::uint8_t endian[8];
    FST_CHECK(src.read_exact(endian, 8));
    FloatEndian order = FloatEndian::Little;
    if (double_from_bytes(endian, false) == endian_test_value) {
        order = FloatEndian::Little;
    } else if (double_from_bytes(endian, true) == endian_test_value) {
        order = FloatEndian::Big;
    } else {
        return ReaderError::invalid_data("the header's endianness test matches neither byte order");
    }
    FST_TRY(h.memory_used_by_writer, read_u64(src));
    FST_TRY(h.scope_count, read_u64(src));
    FST_TRY(h.var_count, read_u64(src));
    FST_TRY(h.max_var_id_code, read_u64(src));
    FST_TRY(h.vc_section_count, read_u64(src));
    FST_TRY(h.timescale_exponent, read_i8(src));
    FST_TRY(h.version, read_c_str_fixed_length(src, 128));
    FST_TRY(h.date, read_c_str_fixed_length(src, 119));
    FST_TRY(const std::uint8_t file_type, src.read_u8());
    if (file_type > 2) return ReaderError::rejected(ErrorKind::FileType, file_type);
    h.file_type = file_type;
    FST_TRY(const std::uint64_t time_zero, read_u64(src));
    h.time_zero = static_cast<std::int64_t>(time_zero);
    return std::pair{std::move(h), order};
}

Result<std::vector<std::pair<std::uint64_t, bool>>> read_blackout(ByteSource& src) {
    const std::uint64_t section_pos = src.position();
    FST_TRY(const std::uint64_t section_len, read_u64(src));
    FST_TRY(const auto count, read_variant_u32(src));
    // Each entry takes at least two bytes.
    if (count.value > section_len / 2 || count.value > src.remaining() / 2) {
        return ReaderError::invalid_data("blackout entry count exceeds its block");
    }
    std::vector<std::pair<std::uint64_t, bool>> entries;
    entries.reserve(count.value);
    std::uint64_t time = 0;
    for (std::uint32_t i = 0; i < count.value; ++i) {
        FST_TRY(const std::uint8_t active, src.read_u8());
        FST_TRY(const auto delta, read_variant_u64(src));
        time += delta.value;  // wraps like the writer's running sum
        entries.emplace_back(time, active != 0);
    }
    if (section_len > UINT64_MAX - section_pos || src.position() != section_pos + section_len) {
        return ReaderError::invalid_data("blackout entries do not end at the end of their block");
    }
    return entries;
}

Result<std::vector<SignalInfo>> read_geometry(ByteSource& src) {
    FST_TRY(const std::uint64_t section_len, read_u64(src));
    FST_TRY(const std::uint64_t uncompressed_len, read_u64(src));
    FST_TRY(const std::uint64_t count, read_u64(src));
    if (section_len < 24) {
        return ReaderError::invalid_data("the block's length, " + std::to_string(section_len) + ", is too short for a geometry block");
    }
    FST_TRY(const std::vector<std::uint8_t> bytes,
            read_zlib_compressed_bytes(src, uncompressed_len, section_len - 24, true));
    if (count > bytes.size()) {
        return ReaderError::invalid_data("the geometry claims " + std::to_string(count) + " signals in " +
                                         std::to_string(bytes.size()) + " bytes");
    }
    // Every signal needs a handle, and handles are non-zero 32-bit numbers.
    if (count >= 0xFFFFFFFFull) return ReaderError::invalid_data("more signals than handles");
    std::vector<SignalInfo> signals;
    signals.reserve(static_cast<std::size_t>(count));
    const std::uint8_t* p = bytes.data();
    const std::uint8_t* const end = p + bytes.size();
    for (std::uint64_t i = 0; i < count; ++i) {
        FST_TRY(const std::uint32_t v, decode_varint_u32(p, end));
        signals.push_back(SignalInfo::from_file_value(v));
    }
    return signals;
}

Result<TimeTable> read_time_table(ByteSource& src, std::uint64_t section_pos, std::uint64_t section_len) {
    if (section_len < vc_block_head + time_table_trailer || section_len > UINT64_MAX - section_pos) {
        return ReaderError::invalid_data("the block's length, " + std::to_string(section_len) + ", is too short for a value-change block");
    }
    const std::uint64_t trailer_pos = section_pos + section_len - time_table_trailer;
    FST_CHECK(src.seek(trailer_pos));
    FST_TRY(const std::uint64_t uncompressed_len, read_u64(src));
    FST_TRY(const std::uint64_t compressed_len, read_u64(src));
    FST_TRY(const std::uint64_t count, read_u64(src));
    if (compressed_len > section_len - vc_block_head - time_table_trailer) {
        return ReaderError::invalid_data("the time table claims " + std::to_string(compressed_len) + " bytes, more than its block holds");
    }
    FST_CHECK(src.seek(trailer_pos - compressed_len));
    FST_TRY(const std::vector<std::uint8_t> bytes,
            read_zlib_compressed_bytes(src, uncompressed_len, compressed_len, true));
    if (count > bytes.size()) {
        return ReaderError::invalid_data("the time table claims " + std::to_string(count) + " entries in " +
                                         std::to_string(bytes.size()) + " bytes");
    }
    TimeTable table;
    table.section_length = compressed_len + time_table_trailer;
    table.times.reserve(static_cast<std::size_t>(count));
    const std::uint8_t* p = bytes.data();
    const std::uint8_t* const end = p + bytes.size();
    std::uint64_t time = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        FST_TRY(const std::uint64_t delta, decode_varint_u64(p, end));
        time += delta;
        table.times.push_back(time);
    }
    return table;
}

// --- HeaderReader -----------------------------------------------------------

Status HeaderReader::read_data(BlockType type) {
    const std::uint64_t section_pos = src_.position();
    FST_TRY(const std::uint64_t section_len, read_u64(src_));
    FST_CHECK(check_block_fits(src_, section_pos, section_len));
    FST_TRY(const std::uint64_t start_time, read_u64(src_));
    FST_TRY(const std::uint64_t end_time, read_u64(src_));
    FST_TRY(const std::uint64_t mem_required, read_u64(src_));
    if (section_len < vc_block_head + time_table_trailer) {
        return ReaderError::invalid_data("the block's length, " + std::to_string(section_len) + ", is too short for a value-change block");
    }
    std::uint64_t time_table_offset = kNoTimeIndex;
    if (collect_times_) {
        auto read = read_time_table(src_, section_pos, section_len);
        if (!read.ok()) return std::move(read).error().at("in the time table");
        const TimeTable table = std::move(read).value();
        if (time_table_.empty() && !table.times.empty() && start_time < table.times.front()) {
            time_table_.push_back(start_time);
        }
        time_table_offset = time_table_.size();
        time_table_.insert(time_table_.end(), table.times.begin(), table.times.end());
    }
    if (section_len > UINT64_MAX - section_pos) {
        return ReaderError::io(IoKind::InvalidInput, "invalid seek to a negative or overflowing position");
    }
    FST_CHECK(src_.seek(section_pos + section_len));
    if (header_) {
        if (data_sections_.empty()) {
            if (header_->start_time == 0 && header_->end_time == 0) {
                header_->start_time = start_time;
                header_->end_time = end_time;
                header_times_were_zero_ = true;
            }
        } else if (header_times_were_zero_) {
            header_->end_time = end_time;
        }
    }
    DataSectionKind kind = DataSectionKind::Standard;
    if (type == BlockType::VcDataDynamicAlias) kind = DataSectionKind::DynamicAlias;
    if (type == BlockType::VcDataDynamicAlias2) kind = DataSectionKind::DynamicAlias2;
    data_sections_.push_back(DataSectionInfo{section_pos, start_time, end_time, kind, mem_required, time_table_offset});
    return {};
}

Status HeaderReader::read_hierarchy(HierarchyCompression compression) {
    if (hierarchy_) return ReaderError::invalid_data("the file holds a second hierarchy block");
    const std::uint64_t pos = src_.position();
    FST_TRY(const std::uint64_t section_len, read_u64(src_));
    FST_CHECK(skip_section(src_, section_len));
    hierarchy_ = std::pair{compression, pos};
    return {};
}

// Whether the scan reads a block of this type whole (and so needs all of it in the file).
static bool read_whole(BlockType type) {
    return type == BlockType::Blackout || type == BlockType::Geometry;
}

Status HeaderReader::scan() {
    for (;;) {
        const std::uint64_t type_pos = src_.position();
        std::uint8_t type_byte = 0;
        FST_TRY(const std::size_t got, src_.read_some(&type_byte, 1));
        if (got == 0) return {};
        const std::optional<BlockType> type = block_type_from(type_byte);
        if (!type) return ReaderError::rejected(ErrorKind::BlockType, type_byte).at("at byte " + std::to_string(type_pos));
        auto more = read_block(*type);
        if (!more.ok()) return std::move(more).error().at(block_place(*type, type_pos));
        if (!more.value()) return {};
    }
}

Result<bool> HeaderReader::read_block(BlockType type) {
    if (read_whole(type)) {
        const std::uint64_t section_pos = src_.position();
        FST_TRY(const std::uint64_t section_len, read_u64(src_));
        FST_CHECK(check_block_fits(src_, section_pos, section_len));
        FST_CHECK(src_.seek(section_pos));
    }
    switch (type) {
        case BlockType::Header: {
            FST_TRY(auto header, fst_container::read_header(src_));
            header_ = std::move(header.first);
            float_endian_ = header.second;
            break;
        }
        case BlockType::Blackout: {
            FST_TRY(auto blackouts, read_blackout(src_));
            blackouts_ = std::move(blackouts);
            break;
        }
        case BlockType::Geometry: {
            FST_TRY(auto signals, read_geometry(src_));
            signals_ = std::move(signals);
            break;
        }
        case BlockType::Hierarchy: FST_CHECK(read_hierarchy(HierarchyCompression::ZLib)); break;
        case BlockType::HierarchyLz4: FST_CHECK(read_hierarchy(HierarchyCompression::Lz4)); break;
        case BlockType::HierarchyLz4Duo: FST_CHECK(read_hierarchy(HierarchyCompression::Lz4Duo)); break;
        case BlockType::VcData:
        case BlockType::VcDataDynamicAlias:
        case BlockType::VcDataDynamicAlias2: FST_CHECK(read_data(type)); break;
        case BlockType::Skip: {
            FST_TRY(const std::uint64_t section_len, read_u64(src_));
            if (section_len == 0) return false;
            FST_CHECK(skip_section(src_, section_len));
            break;
        }
        case BlockType::GZipWrapper:
            return ReaderError::invalid_data("a gzip wrapper block may only open the file");
    }
    return true;
}

Result<MetaData> HeaderReader::into_metadata() {
    if (!signals_) return ReaderError::of_kind(ErrorKind::MissingGeometry);
    if (!hierarchy_) return ReaderError::of_kind(ErrorKind::MissingHierarchy);
    if (!header_) return ReaderError::invalid_data("the FST file has no header block");
    FST_CHECK(src_.seek(0));
    MetaData meta;
    meta.header = std::move(*header_);
    meta.signals = std::move(*signals_);
    if (blackouts_) meta.blackouts = std::move(*blackouts_);
    meta.data_sections = std::move(data_sections_);
    meta.float_endian = float_endian_;
    meta.hierarchy_compression = hierarchy_->first;
    meta.hierarchy_offset = hierarchy_->second;
    if (collect_times_) meta.time_table = std::move(time_table_);
    return meta;
}

// --- FstReader::open_internal -----------------------------------------------

// Inflates the whole file that follows a gzip wrapper block's type byte.
static Result<std::vector<std::uint8_t>> unwrap(ByteSource& source) {
    FST_TRY(const std::uint64_t section_len, read_u64(source));
    FST_TRY(const std::uint64_t uncompressed_len, read_u64(source));
    if (section_len == 0) return ReaderError::of_kind(ErrorKind::NotFinishedCompressing);
    return inflate_gzip_wrapper(source, uncompressed_len);
}

Result<FstReader> FstReader::open_internal(std::unique_ptr<ByteSource> source, bool read_time_table) {
    auto first = source->read_u8();
    if (!first.ok()) {
        ReaderError error = std::move(first).error();
        if (error.io_kind == IoKind::UnexpectedEof) error.with_detail("the file is empty");
        return error;
    }
    const std::optional<BlockType> type = block_type_from(first.value());
    if (!type) {
        ReaderError error = ReaderError::rejected(ErrorKind::BlockType, first.value()).at("at byte 0");
        std::uint8_t second = 0;
        if (first.value() == 0x1F && source->read_at(1, &second, 1).ok() && second == 0x8B) {
            error.at("the file is compressed with gzip: decompress it first");
        }
        return error;
    }
    const bool wrapped = *type == BlockType::GZipWrapper;
    if (wrapped) {
        auto inflated = unwrap(*source);
        if (!inflated.ok()) return std::move(inflated).error().at(block_place(BlockType::GZipWrapper, 0));
        source = std::make_unique<VectorSource>(std::move(inflated).value(), "the unwrapped file");
    } else {
        FST_CHECK(source->seek(0));
    }
    HeaderReader scanner(*source, read_time_table);
    Result<MetaData> meta = [&]() -> Result<MetaData> {
        FST_CHECK(scanner.scan());
        return scanner.into_metadata();
    }();
    if (!meta.ok()) {
        ReaderError error = std::move(meta).error();
        if (wrapped) error.at(inside_wrapper);
        return error;
    }
    return FstReader(std::move(source), std::move(meta).value(), wrapped);
}

ReaderError FstReader::located(ReaderError error, const std::string& place) const {
    error.at(place);
    if (gzip_wrapped_) error.at(inside_wrapper);
    return error;
}

}  // namespace fst_container
