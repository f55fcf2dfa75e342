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

// Receives the hierarchy entry by entry. Scopes and variables come as views of the decompressed
// hierarchy (no text copied); the rarer entries come whole.
class HierarchyVisitor {
public:
    virtual ~HierarchyVisitor() = default;
    // The size of the decompressed hierarchy, before its first entry. Every entry takes one byte
    // at least and a variable five (kind, direction, name terminator, width, alias), so a count
    // the file states can be checked against it before anything is sized by it.
    virtual void start(std::size_t /*bytes*/) {}
    virtual void scope(const FstScopeRef& scope) = 0;
    virtual void upscope() = 0;
    virtual void var(const FstVarRef& var) = 0;
    // Attributes and their ends.
    virtual void other(const FstHierarchyEntry& entry) = 0;
};
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
    // The same entries to a visitor, scopes and variables as views.
    Status visit_hierarchy(HierarchyVisitor& visitor);
    // The same in two steps: the decompressed hierarchy block read from the file, then its
    // entries handed to a visitor. The second step does not touch the file, so it may run while
    // other threads decode value-change blocks.
    Result<std::vector<std::uint8_t>> read_hierarchy_block();
    Status visit_hierarchy(const std::vector<std::uint8_t>& bytes, HierarchyVisitor& visitor) const;

    // Hands the initial values and every change of the selected signals to callback, block by
    // block, in time order within each block.
    Status read_signals(const FstFilter& filter, SignalCallback callback);

    // The value-change sections read_signals processes for filter, in file order.
    std::vector<DataSectionInfo> sections_for(const FstFilter& filter) const;
    // Reads one of them into memory; first marks the first one, which carries the initial
    // values. Decoding the loaded block does not need the reader.
    Result<LoadedBlock> load_block(const DataSectionInfo& section, bool first);

    // An error met in section (a value-change block), with where it was met.
    ReaderError in_section(ReaderError error, const DataSectionInfo& section) const;
    // An error met in the data of signal (an index) in section, with where it was met.
    ReaderError in_signal_data(ReaderError error, const DataSectionInfo& section, std::uint32_t signal) const;

private:
    FstReader(std::unique_ptr<ByteSource> source, MetaData meta, bool gzip_wrapped)
        : source_(std::move(source)), meta_(std::move(meta)), gzip_wrapped_(gzip_wrapped) {}

    // Adds place, and that the positions are those of the unwrapped file when they are.
    ReaderError located(ReaderError error, const std::string& place) const;

    std::unique_ptr<ByteSource> source_;
    MetaData meta_;
    bool gzip_wrapped_;
};

// For error messages: the name of a block type ("geometry"), and where a block is ("in the
// geometry block at byte 331", counting from its type byte).
const char* block_name(BlockType type);
std::string block_place(BlockType type, std::uint64_t type_pos);
std::string value_change_place(const DataSectionInfo& section);
// "in the data of signal handle 18", for the signal of index 17.
std::string signal_place(std::uint32_t signal);
// Said of positions in a file that was unwrapped from gzip.
inline constexpr const char* inside_wrapper = "inside the gzip wrapper";
// An error for a block whose section length reaches past the end of src.
ReaderError block_past_end(const ByteSource& src, std::uint64_t section_len);

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
    // Reads one block from just after its type byte; false when it ends the scan.
    Result<bool> read_block(BlockType type);
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
