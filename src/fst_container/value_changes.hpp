#pragma once
// Chain tables and per-change decoding rules of value-change blocks.

#include <cstdint>
#include <span>
#include <vector>

#include "io.hpp"
#include "result.hpp"
#include "types.hpp"

namespace fst_container {

// Where a signal's data lies within a value-change block.
struct SignalDataLoc {
    enum class Kind : std::uint8_t { None, Alias, Offset };
    Kind kind = Kind::None;
    std::uint32_t first = 0;   // alias target index, or offset from the pack-type byte
    std::uint32_t second = 0;  // length (Offset only)

    static SignalDataLoc none() { return {}; }
    static SignalDataLoc alias(std::uint32_t index) { return {Kind::Alias, index, 0}; }
    static SignalDataLoc offset(std::uint32_t off, std::uint32_t len) { return {Kind::Offset, off, len}; }
    bool operator==(const SignalDataLoc&) const = default;
};

// First chain-table form (standard and dynamic-alias blocks). data_len is
// the length of the region from the pack-type byte to the chain table;
// max_entries bounds the list (the number of signals of the file).
Result<std::vector<SignalDataLoc>> read_value_change_alias(std::span<const std::uint8_t> chain,
                                                           std::uint64_t data_len, std::uint64_t max_entries);

// Second chain-table form (dynamic-alias-2 blocks), one entry per signal.
Result<std::vector<SignalDataLoc>> read_value_change_alias2(std::span<const std::uint8_t> chain,
                                                            std::uint64_t data_len, std::uint64_t signal_count);

// Reads the chain-table length at chain_len_pos, then the table before it.
Result<std::vector<SignalDataLoc>> read_signal_locs(ByteSource& src, std::uint64_t chain_len_pos,
                                                    DataSectionKind kind, std::uint64_t signal_count,
                                                    std::uint64_t data_start);

struct SignalDataRange {
    std::uint32_t index;
    std::uint32_t offset;
    std::uint32_t length;
};

// Iterates over the entries that have data, aliases resolved to the entry
// they name.
class OffsetTableIter {
public:
    explicit OffsetTableIter(const std::vector<SignalDataLoc>& locs) : locs_(locs) {}
    // The next range, nullopt at the end, or an error for a broken alias or
    // offset.
    Result<std::optional<SignalDataRange>> next();

private:
    const std::vector<SignalDataLoc>& locs_;
    std::size_t pos_ = 0;
};

// Time delta of a change whose leading varint is v.
inline std::uint32_t one_bit_delta(std::uint32_t v) { return (v & 1u) ? v >> 4 : v >> 2; }
inline std::uint32_t multi_bit_delta(std::uint32_t v) { return v >> 1; }

// Read the leading varint at bytes[position] and give the time delta.
Result<std::uint32_t> read_one_bit_signal_time_delta(std::span<const std::uint8_t> bytes, std::size_t position);
Result<std::uint32_t> read_multi_bit_signal_time_delta(std::span<const std::uint8_t> bytes, std::size_t position);

// Character of a one-bit change with leading varint v.
inline char one_bit_char(std::uint32_t v) {
    static constexpr char states[] = "xzhuwl-?";
    return (v & 1u) ? states[(v >> 1) & 7u] : static_cast<char>('0' + ((v >> 1) & 1u));
}

// Unpacks ceil(bits / 8) bytes, most significant bit first, into bits
// characters 0 and 1.
void unpack_bits(const std::uint8_t* packed, std::uint32_t bits, char* out);

}  // namespace fst_container
