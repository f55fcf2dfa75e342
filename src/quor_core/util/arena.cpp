#include "util/arena.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>

namespace quor_core::util {

void* Arena::allocate(size_t bytes) {
    bytes = std::max<size_t>(kAlign, (bytes + kAlign - 1) / kAlign * kAlign);
    std::lock_guard lock(m_);
    if (bytes > left_) {
        if (!spare_.empty() && spare_.back()->size() >= bytes) {
            slabs_.push_back(std::move(spare_.back()));
            spare_.pop_back();
            next_ = slabs_.back()->data();
            left_ = slabs_.back()->size();
        } else if (bytes > slab_size_ / 4) {
            // A request larger than a quarter of a slab gets a slab of its own, so the tail of
            // the current slab is not thrown away for it.
            slabs_.push_back(std::make_unique<HugeBuffer<std::byte>>(bytes));
            return slabs_.back()->data();
        } else {
            slabs_.push_back(std::make_unique<HugeBuffer<std::byte>>(slab_size_));
            next_ = slabs_.back()->data();
            left_ = slab_size_;
            slab_size_ = std::min(slab_size_ * 2, kMaxSlab);
        }
    }
    std::byte* p = next_;
    next_ += bytes;
    left_ -= bytes;
    return p;
}

void Arena::adopt(std::unique_ptr<HugeBuffer<std::byte>> slab) {
    if (!slab || slab->size() < kAlign) return;
    std::lock_guard lock(m_);
    spare_.push_back(std::move(slab));
    // The largest spare is taken first.
    std::sort(spare_.begin(), spare_.end(), [](const auto& a, const auto& b) { return a->size() < b->size(); });
}

void Arena::release_unused() {
    std::lock_guard lock(m_);
    spare_.clear();
    // Whole pages past the last allocation go back; touching them again reads zeros, so the
    // slab stays usable.
    constexpr uintptr_t kPage = 4096;
    const uintptr_t from = (reinterpret_cast<uintptr_t>(next_) + kPage - 1) & ~(kPage - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(next_) + left_) & ~(kPage - 1);
    if (left_ > 0 && to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
}

}  // namespace quor_core::util
