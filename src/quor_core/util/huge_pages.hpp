#pragma once
// An allocator for the large, short-lived buffers of loading (change logs, sort buffers): big
// requests are mapped directly and marked for transparent huge pages, which cuts the page
// faults of filling hundreds of megabytes by a factor of about 500.

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

namespace quor_core::util {

template <typename T>
struct HugePageAllocator {
    using value_type = T;
    static constexpr size_t kMapThreshold = size_t{2} << 20;
    static constexpr size_t kPage = 4096;

    HugePageAllocator() = default;
    template <typename U>
    HugePageAllocator(const HugePageAllocator<U>&) noexcept {}

    T* allocate(size_t n) {
        const size_t bytes = n * sizeof(T);
        if (bytes < kMapThreshold) {
            if constexpr (alignof(T) > __STDCPP_DEFAULT_NEW_ALIGNMENT__) {
                return static_cast<T*>(::operator new(bytes, std::align_val_t{alignof(T)}));
            }
            return static_cast<T*>(::operator new(bytes));
        }
        // Mapped with a huge page of slack, then trimmed to start on a huge-page boundary: only
        // whole aligned 2 MiB extents can be backed by huge pages.
        const size_t mapped = bytes + kMapThreshold;
        void* p = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        const auto at = reinterpret_cast<uintptr_t>(p);
        const uintptr_t start = (at + kMapThreshold - 1) & ~(uintptr_t{kMapThreshold} - 1);
        if (start > at) ::munmap(p, start - at);
        const uintptr_t end = start + ((bytes + kPage - 1) & ~(uintptr_t{kPage} - 1));
        if (end < at + mapped) ::munmap(reinterpret_cast<void*>(end), at + mapped - end);
        ::madvise(reinterpret_cast<void*>(start), bytes, MADV_HUGEPAGE);
        return reinterpret_cast<T*>(start);
    }

    void deallocate(T* p, size_t n) noexcept {
        const size_t bytes = n * sizeof(T);
        if (bytes < kMapThreshold) {
            if constexpr (alignof(T) > __STDCPP_DEFAULT_NEW_ALIGNMENT__) {
                ::operator delete(p, std::align_val_t{alignof(T)});
            } else {
                ::operator delete(p);
            }
        } else {
            ::munmap(p, bytes);
        }
    }

    template <typename U>
    bool operator==(const HugePageAllocator<U>&) const noexcept { return true; }
};

// Uninitialised storage for n trivially copyable values, from HugePageAllocator.
template <typename T>
class HugeBuffer {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    explicit HugeBuffer(size_t n) : data_(n ? HugePageAllocator<T>().allocate(n) : nullptr), size_(n) {}
    HugeBuffer(const HugeBuffer&) = delete;
    HugeBuffer& operator=(const HugeBuffer&) = delete;
    ~HugeBuffer() {
        if (data_) HugePageAllocator<T>().deallocate(data_, size_);
    }

    T* data() { return data_; }
    T& operator[](size_t i) { return data_[i]; }
    size_t size() const { return size_; }

private:
    T* data_;
    size_t size_;
};

}  // namespace quor_core::util
