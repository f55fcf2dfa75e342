#pragma once
// ScratchPool: memory for many small, short-lived arrays that all die together (the growing run
// arrays of the columns one thread builds at once). Small blocks are cut from chunks in turn and
// never freed one by one; the chunks go when the pool does. Each of thousands of arrays growing
// and then freed through malloc costs far more: its free lists fill up with small blocks, which
// later requests then sort through. Larger blocks come from operator new as usual. One thread at
// a time.
//
// ScratchAllocator<T> allocates from a pool, or from operator new without one, and leaves
// trivial values uninitialised when a vector grows (as util::DefaultInitAllocator does).

#include <cstddef>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace quor_core::util {

class ScratchPool {
public:
    // Blocks of at most this many bytes come from the pool.
    static constexpr size_t kSmallBytes = 512;

    ScratchPool() = default;
    ScratchPool(const ScratchPool&) = delete;
    ScratchPool& operator=(const ScratchPool&) = delete;

    void* allocate(size_t bytes) {
        bytes = (bytes + kAlign - 1) / kAlign * kAlign;
        if (bytes > left_) {
            chunks_.push_back(std::make_unique_for_overwrite<std::byte[]>(kChunkBytes));
            next_ = chunks_.back().get();
            left_ = kChunkBytes;
        }
        void* p = next_;
        next_ += bytes;
        left_ -= bytes;
        return p;
    }

private:
    static constexpr size_t kAlign = alignof(std::max_align_t);
    static constexpr size_t kChunkBytes = size_t{64} << 10;
    std::vector<std::unique_ptr<std::byte[]>> chunks_;
    std::byte* next_ = nullptr;
    size_t left_ = 0;
};

template <typename T>
class ScratchAllocator {
public:
    using value_type = T;
    using propagate_on_container_move_assignment = std::true_type;
    using propagate_on_container_swap = std::true_type;
    using is_always_equal = std::false_type;

    ScratchAllocator() = default;
    explicit ScratchAllocator(ScratchPool* pool) noexcept : pool_(pool) {}
    template <typename U>
    ScratchAllocator(const ScratchAllocator<U>& other) noexcept : pool_(other.pool()) {}

    T* allocate(size_t n) {
        if (from_pool(n)) return static_cast<T*>(pool_->allocate(n * sizeof(T)));
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T* p, size_t n) noexcept {
        if (!from_pool(n)) std::allocator<T>().deallocate(p, n);
    }
    template <typename U>
    void construct(U* p) noexcept(noexcept(::new(static_cast<void*>(p)) U)) {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }

    ScratchPool* pool() const noexcept { return pool_; }
    template <typename U>
    friend bool operator==(const ScratchAllocator& a, const ScratchAllocator<U>& b) noexcept {
        return a.pool() == b.pool();
    }

private:
    bool from_pool(size_t n) const noexcept { return pool_ != nullptr && n <= ScratchPool::kSmallBytes / sizeof(T); }

    ScratchPool* pool_ = nullptr;
};

}  // namespace quor_core::util
