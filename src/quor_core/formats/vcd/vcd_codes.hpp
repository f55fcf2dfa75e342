#pragma once
// Identifier code -> signal id for the VCD reader. Codes of up to three printable characters
// (nearly all codes in real dumps) are found by direct indexing, those of four to eight packed
// into a word, any other by hashing its text.

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "trace/common_trace.hpp"
#include "formats/vcd/vcd_packed_codes.hpp"

namespace quor_core::trace {

class VcdCodeTable {
public:
    std::optional<uint32_t> find(std::string_view code) const {
        if (code.size() == 1 || code.size() == 2) {
            if (!printable(code)) return others(code);
            const uint32_t id = find_pair(code[0], code.size() == 2 ? code[1] : '\n');
            if (id == kEmpty) return std::nullopt;
            return id;
        }
        const size_t slot = long_slot(code);
        if (slot != kNoSlot) {
            if (slot < long_table_.size() && long_table_[slot] != kEmpty) return long_table_[slot];
            return std::nullopt;
        }
        if (packable(code)) {
            const uint32_t id = packed_.find(VcdPackedCodes::pack(code));
            if (id == kEmpty) return std::nullopt;
            return id;
        }
        return others(code);
    }
    // The id of a code of four to eight printable characters, given packed; kEmpty when no
    // signal has that code.
    uint32_t find_packed(uint64_t key) const { return packed_.find(key); }

    static constexpr uint32_t kEmpty = UINT32_MAX;

    // The id of the code of one or two printable characters that starts a line: first and
    // second are the line's first two bytes, so a one-character code is followed by its line
    // feed. kEmpty when no signal has that code (or the bytes are no such code).
    uint32_t find_pair(char first, char second) const { return find_pair(pairs_.get(), first, second); }
    // The same through the table of pairs_table(), which a reading loop keeps at hand.
    static uint32_t find_pair(const uint32_t* pairs, char first, char second) {
        // The table holds id + 1, so an empty slot (0) gives kEmpty.
        return pairs ? pairs[pair_key(first, second)] - 1u : kEmpty;
    }
    const uint32_t* pairs_table() const { return pairs_.get(); }

    // The id of a code of three characters, each given as its offset from '!' (below 94);
    // kEmpty when no signal has that code.
    uint32_t find_triple(unsigned c0, unsigned c1, unsigned c2) const {
        const size_t slot = triple_slot(c0, c1, c2);
        return slot < long_table_.size() ? long_table_[slot] : kEmpty;
    }

    // The table of codes of three characters, by triple_slot; empty while there are none.
    std::span<const uint32_t> triple_table() const { return long_table_; }
    // The first character varies fastest: simulators count codes up from the first character
    // (Icarus writes "!\"", "\"\"", "#\"" ...), so the codes of neighbouring declarations share
    // cache lines of the table (a design of 100,000 signals uses 0.4 MB of it, not a line each).
    static size_t triple_slot(unsigned c0, unsigned c1, unsigned c2) {
        return (size_t{c2} * kRange + c1) * kRange + c0;
    }

    void insert(std::string_view code, uint32_t id) {
        if ((code.size() == 1 || code.size() == 2) && printable(code)) {
            if (!pairs_) {
                // Zeroed on demand by the system: only the pages of codes in use are touched.
                pairs_.reset(static_cast<uint32_t*>(std::calloc(kPairs, sizeof(uint32_t))));
                if (!pairs_) throw std::bad_alloc();
            }
            pairs_[pair_key(code[0], code.size() == 2 ? code[1] : '\n')] = id + 1;
            return;
        }
        const size_t slot = long_slot(code);
        if (slot == kNoSlot) {
            if (packable(code)) return packed_.insert(VcdPackedCodes::pack(code), id);
            others_.emplace(std::string(code), id);
            return;
        }
        if (long_table_.empty()) long_table_.assign(kRange * kRange * kRange, kEmpty);
        long_table_[slot] = id;
    }

private:
    static constexpr unsigned kFirst = 33;  // '!'
    static constexpr unsigned kRange = 94;  // '!' .. '~'
    static_assert(VcdPackedCodes::kEmpty == kEmpty);
    static constexpr size_t kNoSlot = SIZE_MAX;
    static constexpr size_t kPairs = size_t{1} << 16;

    struct Free {
        void operator()(uint32_t* p) const { std::free(p); }
    };

    static bool printable(std::string_view code) {
        for (const char ch : code) {
            if (static_cast<unsigned>(static_cast<unsigned char>(ch) - kFirst) >= kRange) return false;
        }
        return true;
    }
    // A one-character code is keyed with the line feed after it, which no second character of
    // a code can be.
    static size_t pair_key(char first, char second) {
        return size_t{static_cast<unsigned char>(first)} | size_t{static_cast<unsigned char>(second)} << 8;
    }
    static bool packable(std::string_view code) {
        return code.size() >= VcdPackedCodes::kMinLength && code.size() <= VcdPackedCodes::kMaxLength &&
               printable(code);
    }
    static size_t long_slot(std::string_view code) {
        if (code.size() != 3 || !printable(code)) return kNoSlot;
        const auto offset = [&](size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(code[i]) - kFirst); };
        return triple_slot(offset(0), offset(1), offset(2));
    }
    std::optional<uint32_t> others(std::string_view code) const {
        const auto it = others_.find(code);
        if (it == others_.end()) return std::nullopt;
        return it->second;
    }

    std::unique_ptr<uint32_t[], Free> pairs_;
    std::vector<uint32_t> long_table_;
    VcdPackedCodes packed_;
    NameMap others_;
};

}  // namespace quor_core::trace
