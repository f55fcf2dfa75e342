#pragma once
// Identifier code -> signal id for the VCD reader. Codes of up to three printable characters
// (nearly all codes in real dumps) are found by direct indexing; longer ones by hashing.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "trace/common_trace.hpp"

namespace quor_core::trace {

class VcdCodeTable {
public:
    std::optional<uint32_t> find(std::string_view code) const {
        const size_t slot = direct_slot(code);
        if (slot != kNoSlot) {
            const std::vector<uint32_t>& table = code.size() == 3 ? long_table_ : short_table_;
            if (slot < table.size() && table[slot] != kEmpty) return table[slot];
            return std::nullopt;
        }
        const auto it = others_.find(code);
        if (it == others_.end()) return std::nullopt;
        return it->second;
    }

    static constexpr uint32_t kEmpty = UINT32_MAX;

    // The id of a code of n (1 to 3) characters, each given as its offset from '!' (below 94);
    // kEmpty when no signal has that code.
    uint32_t find_short(size_t n, unsigned c0, unsigned c1, unsigned c2) const {
        const std::vector<uint32_t>& table = n == 3 ? long_table_ : short_table_;
        const size_t slot = n == 3 ? (size_t{c0} * kRange + c1) * kRange + c2
                            : n == 2 ? size_t{c0} * kRange + c1
                                     : size_t{c0} + kRange * kRange;
        return slot < table.size() ? table[slot] : kEmpty;
    }

    void insert(std::string_view code, uint32_t id) {
        const size_t slot = direct_slot(code);
        if (slot == kNoSlot) {
            others_.emplace(std::string(code), id);
            return;
        }
        std::vector<uint32_t>& table = code.size() == 3 ? long_table_ : short_table_;
        if (table.empty()) table.assign(code.size() == 3 ? kRange * kRange * kRange : kRange * (kRange + 1), kEmpty);
        table[slot] = id;
    }

private:
    static constexpr unsigned kFirst = 33;  // '!'
    static constexpr unsigned kRange = 94;  // '!' .. '~'
    static constexpr size_t kNoSlot = SIZE_MAX;

    static size_t direct_slot(std::string_view code) {
        if (code.empty() || code.size() > 3) return kNoSlot;
        size_t slot = 0;
        for (char ch : code) {
            const unsigned c = static_cast<unsigned char>(ch) - kFirst;
            if (c >= kRange) return kNoSlot;
            slot = slot * kRange + c;
        }
        // One- and two-character codes share a table: offset the one-character ones past the
        // two-character range.
        if (code.size() == 1) slot += kRange * kRange;
        return slot;
    }

    std::vector<uint32_t> short_table_;
    std::vector<uint32_t> long_table_;
    NameMap others_;
};

}  // namespace quor_core::trace
