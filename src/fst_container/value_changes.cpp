#include "value_changes.hpp"

#include <cstring>

namespace fst_container {
namespace {

ReaderError bad_chain(const char* what) { return ReaderError::invalid_data(std::string("the chain table is broken: ") + what); }

// Signed little-endian base-128; the sign is bit 6 of the last byte.
Result<std::int64_t> decode_varint_i64(const std::uint8_t*& p, const std::uint8_t* end) {
    std::uint64_t value = 0;
    unsigned shift = 0;
    for (unsigned i = 0; i < 10; ++i) {
        if (p == end) return ReaderError::unexpected_eof().with_detail("a number runs past the end of its data");
        const std::uint8_t b = *p++;
        value |= static_cast<std::uint64_t>(b & 0x7F) << shift;
        shift += 7;
        if ((b & 0x80) == 0) {
            if (shift < 64 && (b & 0x40) != 0) value |= ~std::uint64_t{0} << shift;
            return static_cast<std::int64_t>(value);
        }
    }
    return ReaderError::leb128(64);
}

// Closes the entry waiting for its length.
Status finish_waiting(std::vector<SignalDataLoc>& locs, std::size_t waiting, std::uint64_t start, std::uint64_t len) {
    if (start == 0 || len == 0 || start > UINT32_MAX || len > UINT32_MAX) {
        return bad_chain("offset or length out of range");
    }
    locs[waiting] = SignalDataLoc::offset(static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(len));
    return {};
}

constexpr std::size_t no_entry = SIZE_MAX;

ReaderError position_past_end() {
    return ReaderError::unexpected_eof().with_detail("a change starts past the end of its signal's data");
}

}  // namespace

Result<std::vector<SignalDataLoc>> read_value_change_alias(std::span<const std::uint8_t> chain,
                                                           std::uint64_t data_len, std::uint64_t max_entries) {
    std::vector<SignalDataLoc> locs;
    const std::uint8_t* p = chain.data();
    const std::uint8_t* const end = p + chain.size();
    std::uint64_t running = 0;
    std::size_t waiting = no_entry;
    while (p != end) {
        FST_TRY(const std::uint32_t h, decode_varint_u32(p, end));
        if (h & 1u) {
            const std::uint64_t step = h >> 1;
            if (waiting != no_entry) FST_CHECK(finish_waiting(locs, waiting, running, step));
            running += step;
            if (locs.size() >= max_entries) return bad_chain("more entries than signals");
            waiting = locs.size();
            // Provisional: the length is known once the next start is.
            locs.push_back(SignalDataLoc::offset(0, 0));
        } else if (h != 0) {
            const std::uint64_t skip = h >> 1;
            if (skip > max_entries - locs.size()) return bad_chain("more entries than signals");
            locs.resize(locs.size() + static_cast<std::size_t>(skip), SignalDataLoc::none());
        } else {
            FST_TRY(const std::uint32_t target, decode_varint_u32(p, end));
            if (target == 0) return bad_chain("alias of signal 0");
            if (locs.size() >= max_entries) return bad_chain("more entries than signals");
            locs.push_back(SignalDataLoc::alias(target - 1));
        }
    }
    if (waiting != no_entry) {
        if (running >= data_len) return bad_chain("data offset past its region");
        FST_CHECK(finish_waiting(locs, waiting, running, data_len - running));
    }
    return locs;
}

Result<std::vector<SignalDataLoc>> read_value_change_alias2(std::span<const std::uint8_t> chain,
                                                            std::uint64_t data_len, std::uint64_t signal_count) {
    std::vector<SignalDataLoc> locs(static_cast<std::size_t>(signal_count), SignalDataLoc::none());
    const std::uint8_t* p = chain.data();
    const std::uint8_t* const end = p + chain.size();
    std::uint64_t index = 0;
    std::uint64_t running = 0;
    std::uint64_t last_alias = 0;
    std::size_t waiting = no_entry;
    while (p != end) {
        if (*p & 1u) {
            FST_TRY(const std::int64_t raw, decode_varint_i64(p, end));
            const std::int64_t z = raw >> 1;
            if (index >= locs.size()) return bad_chain("signal index past the signal count");
            const auto i = static_cast<std::size_t>(index);
            if (z > 0) {
                const auto step = static_cast<std::uint64_t>(z);
                if (waiting != no_entry) FST_CHECK(finish_waiting(locs, waiting, running, step));
                if (step > UINT32_MAX) return bad_chain("offset out of range");
                running += step;
                waiting = i;
                locs[i] = SignalDataLoc::offset(0, 0);
            } else {
                if (z < 0) last_alias = static_cast<std::uint64_t>(-(z + 1));
                if (last_alias > UINT32_MAX) return bad_chain("alias out of range");
                locs[i] = SignalDataLoc::alias(static_cast<std::uint32_t>(last_alias));
            }
            ++index;
        } else {
            FST_TRY(const std::uint32_t g, decode_varint_u32(p, end));
            index += g >> 1;
        }
    }
    if (waiting != no_entry) {
        if (running >= data_len) return bad_chain("data offset past its region");
        FST_CHECK(finish_waiting(locs, waiting, running, data_len - running));
    }
    return locs;
}

Result<std::vector<SignalDataLoc>> read_signal_locs(ByteSource& src, std::uint64_t chain_len_pos,
                                                    DataSectionKind kind, std::uint64_t signal_count,
                                                    std::uint64_t data_start) {
    FST_CHECK(src.seek(chain_len_pos));
    FST_TRY(const std::uint64_t chain_len, read_u64(src));
    if (chain_len > chain_len_pos || chain_len_pos - chain_len <= data_start) {
        return bad_chain("table overlaps the data before it");
    }
    const std::uint64_t chain_start = chain_len_pos - chain_len;
    FST_CHECK(src.seek(chain_start));
    std::vector<std::uint8_t> chain(static_cast<std::size_t>(chain_len));
    FST_CHECK(src.read_exact(chain.data(), chain.size()));
    const std::uint64_t data_len = chain_start - data_start;
    if (kind == DataSectionKind::DynamicAlias2) return read_value_change_alias2(chain, data_len, signal_count);
    return read_value_change_alias(chain, data_len, signal_count);
}

Result<std::optional<SignalDataRange>> OffsetTableIter::next() {
    while (pos_ < locs_.size()) {
        const std::size_t index = pos_++;
        SignalDataLoc loc = locs_[index];
        if (loc.kind == SignalDataLoc::Kind::None) continue;
        if (loc.kind == SignalDataLoc::Kind::Alias) {
            if (loc.first >= locs_.size() || locs_[loc.first].kind != SignalDataLoc::Kind::Offset) {
                return bad_chain("alias to an entry without data");
            }
            loc = locs_[loc.first];
        }
        if (loc.first == 0 || loc.second == 0) return bad_chain("entry without offset or length");
        return std::optional<SignalDataRange>{SignalDataRange{static_cast<std::uint32_t>(index), loc.first, loc.second}};
    }
    return std::optional<SignalDataRange>{};
}

Result<std::uint32_t> read_one_bit_signal_time_delta(std::span<const std::uint8_t> bytes, std::size_t position) {
    if (position > bytes.size()) return position_past_end();
    const std::uint8_t* p = bytes.data() + position;
    FST_TRY(const std::uint32_t v, decode_varint_u32(p, bytes.data() + bytes.size()));
    return one_bit_delta(v);
}

Result<std::uint32_t> read_multi_bit_signal_time_delta(std::span<const std::uint8_t> bytes, std::size_t position) {
    if (position > bytes.size()) return position_past_end();
    const std::uint8_t* p = bytes.data() + position;
    FST_TRY(const std::uint32_t v, decode_varint_u32(p, bytes.data() + bytes.size()));
    return multi_bit_delta(v);
}

namespace {

// Eight characters 0/1 per byte value, most significant bit first.
struct BitChars {
    char chars[256][8];
    constexpr BitChars() : chars() {
        for (int v = 0; v < 256; ++v) {
            for (int k = 0; k < 8; ++k) chars[v][k] = static_cast<char>('0' + ((v >> (7 - k)) & 1));
        }
    }
};
constexpr BitChars bit_chars;

}  // namespace

void unpack_bits(const std::uint8_t* packed, std::uint32_t bits, char* out) {
    const std::uint32_t whole = bits / 8;
    for (std::uint32_t byte = 0; byte < whole; ++byte) {
        std::memcpy(out + std::size_t{byte} * 8, bit_chars.chars[packed[byte]], 8);
    }
    const std::uint32_t rest = bits % 8;
    if (rest != 0) std::memcpy(out + std::size_t{whole} * 8, bit_chars.chars[packed[whole]], rest);
}

}  // namespace fst_container
