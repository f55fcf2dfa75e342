#include "trace/name_positions.hpp"

namespace quor_core::trace {

void NamePositions::reserve(size_t names) {
    if (2 * names > slots_.size()) grow(2 * names);
}

bool NamePositions::insert_all(std::span<const std::string> names, std::span<const uint32_t> hashes) {
    reserve(names.size());
    const size_t mask = slots_.size() - 1;
    constexpr size_t kAhead = 16;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i + kAhead < names.size()) __builtin_prefetch(&slots_[hashes[i + kAhead] & mask], 1);
        const uint64_t entry = uint64_t{hashes[i]} << 32 | (uint64_t{i} + 1);
        size_t slot = hashes[i] & mask;
        for (; slots_[slot] != 0; slot = (slot + 1) & mask) {
            if (slots_[slot] >> 32 == hashes[i] && names[static_cast<uint32_t>(slots_[slot]) - 1] == names[i]) {
                *this = NamePositions();
                return false;
            }
        }
        slots_[slot] = entry;
        ++count_;
    }
    return true;
}

void NamePositions::grow(size_t at_least) {
    size_t size = 16;
    while (size < at_least) size *= 2;
    std::vector<uint64_t> slots(size, 0);
    for (const uint64_t entry : slots_) {
        if (entry != 0) place(slots, entry);
    }
    slots_ = std::move(slots);
}

}  // namespace quor_core::trace
