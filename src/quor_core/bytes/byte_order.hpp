#pragma once
// Bounds-checked reads of fixed-width integers from a byte buffer. Out-of-range reads give 0,
// which is what every format reader here wants for a field that runs past the end.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>

namespace quor_core::trace {

using Bytes = std::span<const uint8_t>;

inline bool fits(Bytes b, uint64_t pos, uint64_t width) {
    return pos <= b.size() && width <= b.size() - pos;
}

inline uint32_t be32(Bytes b, uint64_t pos) {
    if (!fits(b, pos, 4)) return 0;
    return (uint32_t{b[pos]} << 24) | (uint32_t{b[pos + 1]} << 16) | (uint32_t{b[pos + 2]} << 8) | b[pos + 3];
}

inline uint16_t be16(Bytes b, uint64_t pos) {
    if (!fits(b, pos, 2)) return 0;
    return static_cast<uint16_t>((b[pos] << 8) | b[pos + 1]);
}

inline uint32_t le32(Bytes b, uint64_t pos) {
    if (!fits(b, pos, 4)) return 0;
    return uint32_t{b[pos]} | (uint32_t{b[pos + 1]} << 8) | (uint32_t{b[pos + 2]} << 16) | (uint32_t{b[pos + 3]} << 24);
}

inline uint16_t le16(Bytes b, uint64_t pos) {
    if (!fits(b, pos, 2)) return 0;
    return static_cast<uint16_t>(b[pos] | (b[pos + 1] << 8));
}

// First position at or after from where needle occurs wholly inside hay, or npos.
inline constexpr size_t kNotFound = static_cast<size_t>(-1);
size_t find_bytes(Bytes hay, Bytes needle, size_t from = 0);

inline bool bytes_at(Bytes hay, uint64_t pos, Bytes needle) {
    if (!fits(hay, pos, needle.size())) return false;
    for (size_t i = 0; i < needle.size(); ++i) {
        if (hay[pos + i] != needle[i]) return false;
    }
    return true;
}

}  // namespace quor_core::trace
