#include "utf8.hpp"

namespace fst_container {
namespace {

// Length of the valid UTF-8 sequence starting at bytes[i], or 0 when the
// sequence there is invalid; *bad_len receives how many bytes form the
// maximal invalid prefix in that case.
std::size_t sequence_length(std::string_view bytes, std::size_t i, std::size_t* bad_len) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char b0 = at(i);
    const std::size_t left = bytes.size() - i;
    *bad_len = 1;
    if (b0 < 0x80) return 1;
    std::size_t need = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 3;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 4;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    for (std::size_t k = 1; k < need; ++k) {
        if (k >= left) {
            *bad_len = k;
            return 0;
        }
        const unsigned char b = at(i + k);
        const unsigned char min = k == 1 ? lo : 0x80;
        const unsigned char max = k == 1 ? hi : 0xBF;
        if (b < min || b > max) {
            *bad_len = k;
            return 0;
        }
    }
    return need;
}

}  // namespace

std::size_t utf8_valid_prefix(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            ++i;
            continue;
        }
        std::size_t bad = 0;
        const std::size_t n = sequence_length(bytes, i, &bad);
        if (n == 0) return i;
        i += n;
    }
    return i;
}

std::string utf8_lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t bad = 0;
        const std::size_t n = sequence_length(bytes, i, &bad);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            i += bad;
        } else {
            out.append(bytes.substr(i, n));
            i += n;
        }
    }
    return out;
}

}  // namespace fst_container
