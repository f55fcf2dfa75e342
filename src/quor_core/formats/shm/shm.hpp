#pragma once
// ShmTrace: an SHM database, a design file (names, scopes) with transition files (values).

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "bytes/byte_order.hpp"
#include "trace/common_trace.hpp"
#include "trace/name_table.hpp"
#include "util/interrupt.hpp"
#include "util/result.hpp"

namespace quor_core::trace {

namespace shm {

inline constexpr uint32_t kMagic = 0xA19511BF;
// Value entries decoded from all transition files together: 65,536 plus 64 per byte of the
// transition files, never more than kMaxEntries. Evenly spaced toggles of a block with a huge
// count K would otherwise ask for billions.
inline constexpr uint64_t kMaxEntries = uint64_t{1} << 22;
inline constexpr uint64_t kEntryFloor = uint64_t{1} << 16;
inline constexpr uint64_t kEntriesPerByte = 64;
// Block tests over all transition files (state bytes examined), so that many blocks that each
// fail late over a long run of signals cannot multiply the work.
inline constexpr uint64_t kMaxBlockWork = uint64_t{1} << 27;

struct Budget {
    uint64_t entries = kEntryFloor;
    uint64_t granted = kEntryFloor;  // entries granted so far, at most kMaxEntries
    // Grants the entries a transition file of this size may add.
    void grant(uint64_t file_size) {
        const uint64_t more = file_size >= kMaxEntries / kEntriesPerByte ? kMaxEntries : kEntriesPerByte * file_size;
        const uint64_t add = std::min(more, kMaxEntries - granted);
        granted += add;
        entries += add;
    }
    uint64_t work = kMaxBlockWork;
};

struct Entry {
    uint64_t time;
    uint32_t id;
    uint8_t value;
};

// The entries and the time list of one transition file; nothing when the file is not decoded.
struct FileValues {
    std::vector<Entry> entries;
    std::vector<uint64_t> times;
};

std::vector<std::string> extract_strings(Bytes file, uint64_t start, uint64_t end);
bool is_ident(std::string_view s);
// Fails only with "Bad DSN magic: 0x{:08X}".
Result<bool, std::string> read_design(Bytes dsn, NameTable& names);
bool decode_transitions(Bytes trn, uint32_t num_names, Budget& budget, FileValues& out);
// Joins the files' values on one time axis: the union of their time lists.
void store_values(std::vector<FileValues> files, uint32_t num_names, TraceRecord& r);

}  // namespace shm

class ShmTrace : public CommonTrace {
public:
    using CommonTrace::CommonTrace;
    // path: a directory, a design file (.dsn) or a transition file (.trn).
    static Result<ShmTrace, std::string> from_file(const std::string& path,
                                                 const util::Interrupt& interrupt = util::Interrupt::never());
    // A design file's bytes (or none) and the transition files' bytes, in order.
    static Result<ShmTrace, std::string> from_parts(const std::vector<uint8_t>* dsn, const std::vector<std::vector<uint8_t>>& trns);
};

}  // namespace quor_core::trace
