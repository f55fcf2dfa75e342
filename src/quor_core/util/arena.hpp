#pragma once
// Arena: memory for many arrays that all live as long as the arena, handed out from a few large
// slabs. Slabs from 2 MiB on are marked for transparent huge pages, so filling the arrays of a
// whole trace costs a few dozen page faults instead of one per 4 KiB. Nothing is freed before
// the arena is. allocate() may be called from several threads at once.

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "util/huge_pages.hpp"

namespace quor_core::util {

class Arena {
public:
    Arena() = default;
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

    // Uninitialised bytes, aligned for any scalar type.
    void* allocate(size_t bytes);
    // Takes memory that is no longer needed elsewhere (a loader's read buffers, say) as a slab to
    // hand out before mapping new ones: its pages are already backed, so filling it costs no
    // page faults and no zeroing by the kernel.
    void adopt(std::unique_ptr<HugeBuffer<std::byte>> slab);
    // Returns to the system what the arena holds but never handed out: adopted slabs left unused
    // and the untouched tail of the current one. Later allocations still work.
    void release_unused();

private:
    static constexpr size_t kAlign = 16;
    static constexpr size_t kFirstSlab = size_t{1} << 18;  // small traces stay small
    static constexpr size_t kMaxSlab = size_t{1} << 25;
    std::mutex m_;
    std::vector<std::unique_ptr<HugeBuffer<std::byte>>> slabs_;
    std::vector<std::unique_ptr<HugeBuffer<std::byte>>> spare_;  // adopted, not yet used
    std::byte* next_ = nullptr;
    size_t left_ = 0;
    size_t slab_size_ = kFirstSlab;
};

}  // namespace quor_core::util
