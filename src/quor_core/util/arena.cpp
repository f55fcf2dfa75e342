#include "util/arena.hpp"

#include <algorithm>

namespace quor_core::util {

void* Arena::allocate(size_t bytes) {
    bytes = std::max<size_t>(kAlign, (bytes + kAlign - 1) / kAlign * kAlign);
    std::lock_guard lock(m_);
    if (bytes > left_) {
        // A request larger than a quarter of a slab gets a slab of its own, so the tail of the
        // current slab is not thrown away for it.
        if (bytes > slab_size_ / 4) {
            slabs_.push_back(std::make_unique<HugeBuffer<std::byte>>(bytes));
            return slabs_.back()->data();
        }
        slabs_.push_back(std::make_unique<HugeBuffer<std::byte>>(slab_size_));
        next_ = slabs_.back()->data();
        left_ = slab_size_;
        slab_size_ = std::min(slab_size_ * 2, kMaxSlab);
    }
    std::byte* p = next_;
    next_ += bytes;
    left_ -= bytes;
    return p;
}

}  // namespace quor_core::util
