#pragma once
// FstReader: opens an FST file, then reads its hierarchy and value changes
// by callback.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "function_ref.hpp"
#include "io.hpp"
#include "loaded_block.hpp"
#include "result.hpp"
#include "types.hpp"

namespace fst_container {

using HierarchyCallback = FunctionRef<void(const FstHierarchyEntry&)>;
// time, signal handle, value (its bytes live only during the call)
using SignalCallback = FunctionRef<void(std::uint64_t, FstSignalHandle, const FstSignalValue&)>;

class FstReader {
public:
    // Scans the blocks of the file; with read_time_table the time tables of
    // all value-change blocks are collected into the metadata.
    static Result<FstReader> open_internal(std::unique_ptr<ByteSource> source, bool read_time_table);

    const MetaData& metadata() const { return meta_; }

    // Hands every hierarchy entry to callback, in file order.
    Status read_hierarchy(HierarchyCallback callback);

    // Hands the initial values and every change of the selected signals to callback, block by
    // block, in time order within each block.
    Status read_signals(const FstFilter& filter, SignalCallback callback);

    // The value-change sections read_signals processes for filter, in file order.
    std::vector<DataSectionInfo> sections_for(const FstFilter& filter) const;
    // Reads one of them into memory; first marks the first one, which carries the initial
    // values. Decoding the loaded block does not need the reader.
    Result<LoadedBlock> load_block(const DataSectionInfo& section, bool first);

private:
    FstReader(std::unique_ptr<ByteSource> source, MetaData meta) : source_(std::move(source)), meta_(std::move(meta)) {}

    std::unique_ptr<ByteSource> source_;
    MetaData meta_;
};

// --- block readers used while opening ---------------------------------------

// Reads a header block from just after its type byte.
Result<std::pair<Header, FloatEndian>> read_header(ByteSource& src);
// Reads a blackout block from just after its type byte.
Result<std::vector<std::pair<std::uint64_t, bool>>> read_blackout(ByteSource& src);
// Reads a geometry block from just after its type byte.
Result<std::vector<SignalInfo>> read_geometry(ByteSource& src);

struct TimeTable {
    std::vector<std::uint64_t> times;
    std::uint64_t section_length = 0;  // compressed length + 24
};
// Reads the time table of the value-change block whose section length lies
// at section_pos.
Result<TimeTable> read_time_table(ByteSource& src, std::uint64_t section_pos, std::uint64_t section_len);

// Scanning state while a file is opened.
class HeaderReader {
public:
    HeaderReader(ByteSource& src, bool read_time_table) : src_(src), collect_times_(read_time_table) {}

    Status scan();
    Status read_data(BlockType type);
    Status read_hierarchy(HierarchyCompression compression);
    Result<MetaData> into_metadata();

private:
    ByteSource& src_;
    bool collect_times_;
    std::optional<Header> header_;
    FloatEndian float_endian_ = FloatEndian::Little;
    std::optional<std::vector<SignalInfo>> signals_;
    std::optional<std::vector<std::pair<std::uint64_t, bool>>> blackouts_;
    std::vector<DataSectionInfo> data_sections_;
    std::optional<std::pair<HierarchyCompression, std::uint64_t>> hierarchy_;
    std::vector<std::uint64_t> time_table_;
    bool header_times_were_zero_ = false;
};

}  // namespace fst_container
