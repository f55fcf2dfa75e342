#pragma once
// Identifier codes of four to eight printable characters (the codes of dumps with more than
// about 840,000 signals), each packed into one word, first character lowest, and found in an
// open-addressing table: one probe is usually one cache line, with no text to compare and no
// node to follow.

#include <bit>
#include <cstdint>
#include <string_view>
#include <vector>

namespace quor_core::trace {

class VcdPackedCodes {
public:
    static constexpr uint32_t kEmpty = UINT32_MAX;
    static constexpr size_t kMinLength = 4;
    static constexpr size_t kMaxLength = 8;

    // The code's word: its bytes, first lowest, the rest zero. Codes have no NUL byte, so no
    // code packs to 0, which marks an empty slot.
    static uint64_t pack(std::string_view code) {
        uint64_t key = 0;
        for (size_t i = code.size(); i-- > 0;) key = key << 8 | static_cast<unsigned char>(code[i]);
        return key;
    }

    uint32_t find(uint64_t key) const {
        if (slots_.empty()) return kEmpty;
        for (size_t i = home(key);; i = (i + 1) & mask_) {
            const Slot& s = slots_[i];
            if (s.key == key) return s.id;
            if (s.key == 0) return kEmpty;
        }
    }

    // Adds a code not in the table yet.
    void insert(uint64_t key, uint32_t id) {
        if ((count_ + 1) * 2 > slots_.size()) grow();
        place(key, id);
        ++count_;
    }

private:
    struct Slot {
        uint64_t key = 0;
        uint32_t id = kEmpty;
    };

    size_t home(uint64_t key) const {
        return static_cast<size_t>((key * 0x9E3779B97F4A7C15ULL) >> shift_);
    }
    void place(uint64_t key, uint32_t id) {
        size_t i = home(key);
        while (slots_[i].key != 0) i = (i + 1) & mask_;
        slots_[i] = {key, id};
    }
    void grow() {
        std::vector<Slot> old = std::move(slots_);
        const size_t size = old.empty() ? 64 : old.size() * 2;
        slots_.assign(size, Slot{});
        mask_ = size - 1;
        shift_ = 64 - static_cast<unsigned>(std::countr_zero(size));
        for (const Slot& s : old) {
            if (s.key != 0) place(s.key, s.id);
        }
    }

    std::vector<Slot> slots_;
    size_t mask_ = 0;
    unsigned shift_ = 64;
    size_t count_ = 0;
};

}  // namespace quor_core::trace
