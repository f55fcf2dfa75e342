#pragma once
// Data types of the FST container: header, geometry, sections, hierarchy
// entries, values and the signal filter.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace fst_container {

enum class BlockType : std::uint8_t {
    Header = 0,
    VcData = 1,
    Blackout = 2,
    Geometry = 3,
    Hierarchy = 4,
    VcDataDynamicAlias = 5,
    HierarchyLz4 = 6,
    HierarchyLz4Duo = 7,
    VcDataDynamicAlias2 = 8,
    GZipWrapper = 254,
    Skip = 255,
};

std::optional<BlockType> block_type_from(std::uint8_t value);

enum class FloatEndian : std::uint8_t { Little, Big };
enum class HierarchyCompression : std::uint8_t { ZLib, Lz4, Lz4Duo };
enum class DataSectionKind : std::uint8_t { Standard, DynamicAlias, DynamicAlias2 };

struct Header {
    std::uint64_t start_time = 0;
    std::uint64_t end_time = 0;
    std::uint64_t memory_used_by_writer = 0;
    std::uint64_t scope_count = 0;
    std::uint64_t var_count = 0;
    std::uint64_t max_var_id_code = 0;
    std::uint64_t vc_section_count = 0;
    std::int8_t timescale_exponent = 0;
    std::string version;
    std::string date;
    std::uint8_t file_type = 0;
    std::int64_t time_zero = 0;
};

// Geometry of one signal: 0 a real, 1 variable length, otherwise a bit
// vector of (stored - 1) bits.
class SignalInfo {
public:
    static SignalInfo from_file_value(std::uint32_t value) {
        if (value == 0) return SignalInfo(0);
        if (value == 0xFFFFFFFFu) return SignalInfo(1);
        return SignalInfo(std::uint64_t{value} + 1);
    }
    bool is_real() const { return stored_ == 0; }
    bool is_var_length() const { return stored_ == 1; }
    bool is_bit_vector() const { return stored_ >= 2; }
    // Bit count of a bit vector; 0 for reals and variable-length signals.
    std::uint32_t bits() const { return stored_ >= 2 ? static_cast<std::uint32_t>(stored_ - 1) : 0; }
    // Bytes of the signal in a frame.
    std::uint64_t frame_len() const { return is_real() ? 8 : bits(); }
    std::uint64_t stored() const { return stored_; }
    bool operator==(const SignalInfo&) const = default;

private:
    explicit SignalInfo(std::uint64_t stored) : stored_(stored) {}
    std::uint64_t stored_;
};

// Non-zero signal handle; the signal at index i has handle i + 1.
class FstSignalHandle {
public:
    static std::optional<FstSignalHandle> from_index(std::size_t index) {
        if (index >= 0xFFFFFFFFu) return std::nullopt;
        return FstSignalHandle(static_cast<std::uint32_t>(index + 1));
    }
    static std::optional<FstSignalHandle> from_value(std::uint32_t value) {
        if (value == 0) return std::nullopt;
        return FstSignalHandle(value);
    }
    std::uint32_t value() const { return value_; }
    std::size_t index() const { return value_ - 1; }
    bool operator==(const FstSignalHandle&) const = default;

private:
    explicit FstSignalHandle(std::uint32_t value) : value_(value) {}
    std::uint32_t value_;
};

// Set of signal indices.
class BitMask {
public:
    static BitMask repeat(bool value, std::size_t size) {
        BitMask m;
        m.words_.assign((size + 63) / 64, value ? ~std::uint64_t{0} : 0);
        return m;
    }
    bool is_set(std::size_t i) const {
        const std::size_t w = i / 64;
        return w < words_.size() && ((words_[w] >> (i % 64)) & 1u) != 0;
    }
    void set(std::size_t i, bool value) {
        const std::size_t w = i / 64;
        if (w >= words_.size()) return;
        const std::uint64_t bit = std::uint64_t{1} << (i % 64);
        words_[w] = value ? (words_[w] | bit) : (words_[w] & ~bit);
    }

private:
    std::vector<std::uint64_t> words_;
};

// A time-table position that is not known.
inline constexpr std::uint64_t kNoTimeIndex = UINT64_MAX;

struct DataSectionInfo {
    std::uint64_t file_offset = 0;  // position of the section length
    std::uint64_t start_time = 0;
    std::uint64_t end_time = 0;
    DataSectionKind kind = DataSectionKind::Standard;
    std::uint64_t mem_required_for_traversal = 0;
    // Where this section's time table starts in the collected time table (when collected).
    std::uint64_t time_table_offset = kNoTimeIndex;
};

struct MetaData {
    Header header;
    std::vector<SignalInfo> signals;  // indexed by handle - 1
    std::vector<std::pair<std::uint64_t, bool>> blackouts;
    std::vector<DataSectionInfo> data_sections;
    FloatEndian float_endian = FloatEndian::Little;
    HierarchyCompression hierarchy_compression = HierarchyCompression::ZLib;
    std::uint64_t hierarchy_offset = 0;
    std::optional<std::vector<std::uint64_t>> time_table;
};

// --- hierarchy entries ------------------------------------------------------

struct FstScope {
    std::uint8_t scope_type = 0;
    std::string name;
    std::string component;
};
struct FstUpScope {};
struct FstVar {
    std::uint8_t var_type = 0;
    std::uint8_t direction = 0;
    std::string name;
    std::uint32_t length = 0;
    FstSignalHandle handle = *FstSignalHandle::from_value(1);
    bool is_alias = false;
};
struct FstPathName {
    std::string path;
    std::uint64_t id = 0;
};
struct FstSourceStem {
    bool is_instantiation = false;
    std::uint64_t path_id = 0;
    std::uint64_t line = 0;
};
struct FstComment {
    std::string text;
};
struct FstEnumTable {
    std::string name;
    std::uint64_t handle = 0;
    std::vector<std::pair<std::string, std::string>> mapping;
};
struct FstEnumTableRef {
    std::uint64_t handle = 0;
};
struct FstVhdlVarInfo {
    std::string type_name;
    std::uint8_t var_type = 0;
    std::uint8_t data_type = 0;
};
struct FstAttributeEnd {};

// A scope or a variable as the hierarchy walk hands it out: its texts lie in the decompressed
// hierarchy and are valid during the call only.
struct FstScopeRef {
    std::uint8_t scope_type = 0;
    std::string_view name;
    std::string_view component;
};
struct FstVarRef {
    std::uint8_t var_type = 0;
    std::uint8_t direction = 0;
    std::string_view name;
    std::uint32_t length = 0;
    FstSignalHandle handle = *FstSignalHandle::from_value(1);
    bool is_alias = false;
};

using FstHierarchyEntry = std::variant<FstScope, FstUpScope, FstVar, FstPathName, FstSourceStem, FstComment,
                                       FstEnumTable, FstEnumTableRef, FstVhdlVarInfo, FstAttributeEnd>;

// --- values -----------------------------------------------------------------

// One value handed out by the signal reader: characters (one per bit, or a
// variable-length payload) or a real. The bytes are only valid during the
// callback that receives them.
struct FstSignalValue {
    enum class Kind : std::uint8_t { Bytes, Real };
    Kind kind = Kind::Bytes;
    std::string_view bytes;
    double real = 0.0;
    // Position of the change's time in the time table collected while opening, or
    // kNoTimeIndex (initial values, or time tables not collected).
    std::uint64_t time_index = kNoTimeIndex;

    static FstSignalValue of_bytes(std::string_view b, std::uint64_t t = kNoTimeIndex) {
        return {Kind::Bytes, b, 0.0, t};
    }
    static FstSignalValue of_real(double r, std::uint64_t t = kNoTimeIndex) { return {Kind::Real, {}, r, t}; }
    bool is_real() const { return kind == Kind::Real; }
};

struct FstFilter {
    std::uint64_t start = 0;
    std::optional<std::uint64_t> end;
    std::optional<std::vector<FstSignalHandle>> include;
};

}  // namespace fst_container
