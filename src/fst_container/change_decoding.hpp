#pragma once
// Decoding the changes of one signal in a value-change block.
//
// Each change starts with a varint whose low bits, by the signal's form, give the time delta
// (in positions of the block's time table, counted from the signal's previous change) and the
// shape of the value. Values go to a visitor together with the change's time slot, the
// position of its time in the block's time table:
//   visitor.chars(slot, std::string_view)  characters as stored, one per bit: a vector change
//                                          kept as characters, or a one-bit state other than
//                                          0 and 1
//   visitor.packed(slot, PackedBits)       two-state bits: one-bit 0 and 1, packed vectors
//   visitor.real(slot, double)
//   visitor.text(slot, std::string_view)   the bytes of a variable-length value
// The strings and bits are valid only during the call. The visitor is a template parameter so
// that the per-change loop inlines it.

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "io.hpp"
#include "result.hpp"
#include "types.hpp"
#include "value_changes.hpp"

namespace fst_container {

// Two-state bits, most significant first: bit k is bit (7 - k % 8) of data[k / 8]. The bytes up
// to readable_end may be read (they can reach past the bits).
struct PackedBits {
    const std::uint8_t* data;
    std::uint32_t bits;
    const std::uint8_t* readable_end;

    // The last (up to) 64 bits as a number, the last bit lowest.
    std::uint64_t low_word() const {
        if (bits <= 64 && readable_end - data >= 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, data, 8);
            if constexpr (std::endian::native == std::endian::little) word = byte_swap(word);
            return word >> (64 - bits);
        }
        const std::uint32_t bytes = (bits + 7) / 8;
        const unsigned unused = bytes * 8 - bits;  // low bits of the last byte that carry nothing
        std::uint64_t word = 0;
        for (std::uint32_t i = bytes - std::min<std::uint32_t>(bytes, 8); i < bytes; ++i) word = (word << 8) | data[i];
        std::uint64_t value = word >> unused;
        if (bytes > 8 && unused != 0) value |= std::uint64_t{data[bytes - 9]} << (64 - unused);
        return value;
    }

private:
    static std::uint64_t byte_swap(std::uint64_t x) { return __builtin_bswap64(x); }
};

// How a signal's changes are encoded.
enum class ChangeForm : std::uint8_t { OneBit, Vector, Real, VarLength };

inline ChangeForm change_form(const SignalInfo& info) {
    if (info.is_real()) return ChangeForm::Real;
    if (info.is_var_length()) return ChangeForm::VarLength;
    return info.bits() == 1 ? ChangeForm::OneBit : ChangeForm::Vector;
}

inline double read_double(const std::uint8_t* p, FloatEndian order) {
    std::uint8_t b[8];
    std::memcpy(b, p, 8);
    const bool host_little = std::endian::native == std::endian::little;
    if ((order == FloatEndian::Little) != host_little) std::reverse(b, b + 8);
    double d = 0;
    std::memcpy(&d, b, 8);
    return d;
}

namespace change_errors {
ReaderError value_cut_short();
ReaderError slot_past_table();
// The error of the malformed varint at [start, end).
ReaderError bad_varint(const std::uint8_t* start, const std::uint8_t* end);
}  // namespace change_errors

template <ChangeForm F>
constexpr std::uint64_t change_delta(std::uint32_t v) {
    return F == ChangeForm::OneBit ? one_bit_delta(v) : multi_bit_delta(v);
}

// Decodes the value of one change whose leading varint v has been read, hands it to the
// visitor and moves p past it. bits is the width of a bit-vector signal.
template <ChangeForm F, typename Visitor>
Status decode_value(std::uint32_t bits, FloatEndian order, std::uint32_t v, const std::uint8_t*& p,
                    const std::uint8_t* end, std::uint64_t slot, Visitor& visitor) {
    if constexpr (F == ChangeForm::OneBit) {
        if (v & 1u) {
            const char state = one_bit_char(v);
            visitor.chars(slot, std::string_view(&state, 1));
        } else {
            // 0 and 1 as a packed bit, with room behind it for the whole-word read.
            static constexpr std::uint8_t one_bit[9] = {0x00, 0x80};
            visitor.packed(slot, PackedBits{&one_bit[(v >> 1) & 1u], 1, one_bit + sizeof one_bit});
        }
        return {};
    } else if constexpr (F == ChangeForm::Vector) {
        const auto left = static_cast<std::size_t>(end - p);
        if (v & 1u) {
            if (bits > left) return change_errors::value_cut_short();
            visitor.chars(slot, std::string_view(reinterpret_cast<const char*>(p), bits));
            p += bits;
        } else {
            const std::size_t packed = (std::size_t{bits} + 7) / 8;
            if (packed > left) return change_errors::value_cut_short();
            visitor.packed(slot, PackedBits{p, bits, end});
            p += packed;
        }
        return {};
    } else if constexpr (F == ChangeForm::Real) {
        if ((v & 1u) == 0) {
            // A writer given bits for a real stores its first eight characters packed into one
            // byte when they are all 0 and 1 (as for a bit vector of 8 bits). Readers take those
            // eight characters as the bytes of the double, as they do the eight characters the
            // writer stores whole otherwise.
            if (p == end) return change_errors::value_cut_short();
            std::uint8_t chars[8];
            unpack_bits(p, 8, reinterpret_cast<char*>(chars));
            visitor.real(slot, read_double(chars, order));
            p += 1;
            return {};
        }
        if (end - p < 8) return change_errors::value_cut_short();
        visitor.real(slot, read_double(p, order));
        p += 8;
        return {};
    } else {
        const std::uint8_t* const start = p;
        std::uint32_t len = 0;
        if (!try_varint_u32(p, end, len)) return change_errors::bad_varint(start, end);
        if (len > static_cast<std::size_t>(end - p)) return change_errors::value_cut_short();
        visitor.text(slot, std::string_view(reinterpret_cast<const char*>(p), len));
        p += len;
        return {};
    }
}

// decode_value for a form known only at run time.
template <typename Visitor>
Status decode_value(ChangeForm form, std::uint32_t bits, FloatEndian order, std::uint32_t v,
                    const std::uint8_t*& p, const std::uint8_t* end, std::uint64_t slot, Visitor& visitor) {
    switch (form) {
        case ChangeForm::OneBit: return decode_value<ChangeForm::OneBit>(bits, order, v, p, end, slot, visitor);
        case ChangeForm::Vector: return decode_value<ChangeForm::Vector>(bits, order, v, p, end, slot, visitor);
        case ChangeForm::Real: return decode_value<ChangeForm::Real>(bits, order, v, p, end, slot, visitor);
        case ChangeForm::VarLength: break;
    }
    return decode_value<ChangeForm::VarLength>(bits, order, v, p, end, slot, visitor);
}

namespace detail {

template <ChangeForm F, typename Visitor>
Status decode_all(const std::uint8_t* p, const std::uint8_t* end, std::uint32_t bits, FloatEndian order,
                  std::uint64_t slot_count, std::uint64_t end_slot, Visitor& visitor) {
    std::uint64_t slot = 0;
    while (p != end) {
        const std::uint8_t* const start = p;
        std::uint32_t v = 0;
        if (!try_varint_u32(p, end, v)) return change_errors::bad_varint(start, end);
        slot += change_delta<F>(v);
        if (slot >= slot_count) return change_errors::slot_past_table();
        if (slot >= end_slot) break;
        FST_CHECK(decode_value<F>(bits, order, v, p, end, slot, visitor));
    }
    return {};
}

}  // namespace detail

// Decodes every change in data, one signal's change data, in order. slot_count is the number of
// slots a change may name (an error beyond); changes from end_slot on are neither decoded nor
// delivered.
template <typename Visitor>
Status decode_changes(std::span<const std::uint8_t> data, const SignalInfo& info, FloatEndian order,
                      std::uint64_t slot_count, std::uint64_t end_slot, Visitor& visitor) {
    const std::uint8_t* const p = data.data();
    const std::uint8_t* const end = p + data.size();
    const std::uint32_t bits = info.bits();
    switch (change_form(info)) {
        case ChangeForm::OneBit:
            return detail::decode_all<ChangeForm::OneBit>(p, end, bits, order, slot_count, end_slot, visitor);
        case ChangeForm::Vector:
            return detail::decode_all<ChangeForm::Vector>(p, end, bits, order, slot_count, end_slot, visitor);
        case ChangeForm::Real:
            return detail::decode_all<ChangeForm::Real>(p, end, bits, order, slot_count, end_slot, visitor);
        case ChangeForm::VarLength: break;
    }
    return detail::decode_all<ChangeForm::VarLength>(p, end, bits, order, slot_count, end_slot, visitor);
}

}  // namespace fst_container
