#include "trace/name_positions.hpp"

namespace quor_core::trace {

void NamePositions::reserve(size_t names) {
    if (2 * names > slots_.size()) grow(2 * names);
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
