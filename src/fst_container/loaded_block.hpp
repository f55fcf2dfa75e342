#pragma once
// LoadedBlock: one value-change block with its time table, initial values and chain table read
// and parsed. The per-signal change data stays in the source until a caller takes a window of
// it (a view of a source held in memory, or read into the caller's buffer) and unpacks entries
// from there.
//
// Reading a block seeks in the source; windows are read at fixed positions without moving it,
// so several threads may take windows of one block and decode its signals at once, each with
// buffers of its own. A block refers to its source, which must outlive it.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "function_ref.hpp"
#include "io.hpp"
#include "result.hpp"
#include "types.hpp"

namespace fst_container {
class InflateState;
}

namespace fst_container {

enum class PackType : std::uint8_t { Zlib, FastLz, Lz4 };

class LoadedBlock {
public:
    // A signal with change data in the block.
    struct Entry {
        std::uint32_t signal;  // index (handle - 1)
        std::uint32_t owner;   // the signal whose data it is: itself, or the target of its alias
        std::uint32_t offset;  // of the data, from the pack-type byte
        std::uint32_t length;
    };
    // A stretch of the block's signal data in memory.
    class DataWindow {
    public:
        DataWindow() = default;

    private:
        friend class LoadedBlock;
        DataWindow(const std::uint8_t* base, std::uint64_t start, std::uint64_t end)
            : base_(base), start_(start), end_(end) {}
        const std::uint8_t* base_ = nullptr;  // the byte at block position start_
        std::uint64_t start_ = 0;
        std::uint64_t end_ = 0;
    };
    // Where an entry's change data lies once unpacked: in its window, or in the caller's buffer.
    struct DataLocation {
        bool in_buffer = false;
        std::size_t offset = 0;
        std::size_t length = 0;
    };

    // Reads the block of section from src and checks it against meta. first marks the first
    // block read, whose frame holds the initial values (when it starts before its first time).
    static Result<LoadedBlock> read(ByteSource& src, const MetaData& meta, const DataSectionInfo& section,
                                    bool first);

    // Bytes of the block's tables and of its signal data.
    std::uint64_t byte_size() const {
        return (data_end_ - data_start_) + frame_.size() + times_.size() * sizeof(std::uint64_t) +
               entries_.size() * sizeof(Entry);
    }
    std::uint64_t start_time() const { return start_time_; }
    const std::vector<std::uint64_t>& times() const { return times_; }
    // Position of times()[0] in the time table collected while opening, or kNoTimeIndex.
    std::uint64_t time_table_offset() const { return time_table_offset_; }
    // Slots a change may name: the length of the time table, and at least 1.
    std::uint64_t slot_count() const { return times_.empty() ? 1 : times_.size(); }
    // The slots whose changes are delivered for end_time: those before the first time after it.
    std::uint64_t slots_until(std::uint64_t end_time) const;

    // Hands the initial value of each selected signal (characters for a bit vector, a real) to
    // callback in signal order; does nothing unless this block carries the initial values.
    Status for_each_initial_value(const MetaData& meta, const BitMask& selected,
                                  FunctionRef<void(std::uint32_t, const FstSignalValue&)> callback) const;

    // Reads the block's signal data into memory at once (a source not held in memory), so windows
    // are views of it: one read instead of one a window, which for blocks of scattered signals
    // read far more than the data.
    Status hold_data();
    // Signals with change data, by ascending index; aliases resolved.
    const std::vector<Entry>& entries() const { return entries_; }

    // The data of a run of entries (a subrange of entries()): a view of a source held in memory,
    // else read into buffer.
    Result<DataWindow> window(std::span<const Entry> entries, std::vector<std::uint8_t>& buffer) const;

    // Unpacks an entry from a window holding it: stored data stays in the window, compressed
    // data is appended to buffer. An inflate state, when given, is used for zlib data (a
    // caller unpacking many entries keeps one).
    Result<DataLocation> unpack(const Entry& entry, const DataWindow& window, std::vector<std::uint8_t>& buffer,
                                InflateState* inflater = nullptr) const;
    std::span<const std::uint8_t> view(const DataLocation& location, const DataWindow& window,
                                       const std::vector<std::uint8_t>& buffer) const;

private:
    LoadedBlock() = default;

    const ByteSource* source_ = nullptr;
    std::uint64_t section_start_ = 0;  // position of the section in the source
    std::uint64_t section_length_ = 0;
    std::uint64_t start_time_ = 0;
    std::vector<std::uint64_t> times_;
    std::uint64_t time_table_offset_ = kNoTimeIndex;
    bool has_frame_ = false;
    std::vector<std::uint8_t> frame_;
    PackType pack_ = PackType::Zlib;
    std::uint64_t data_start_ = 0;  // block position of the pack-type byte
    std::uint64_t data_end_ = 0;    // end of the signal data (start of the chain table)
    std::vector<Entry> entries_;
    std::vector<std::uint8_t> held_;  // block positions [held_start_, section_length_), once hold_data() read them
    std::uint64_t held_start_ = 0;
};

}  // namespace fst_container
