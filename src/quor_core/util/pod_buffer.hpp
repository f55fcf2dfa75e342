#pragma once
// PodBuffer: a growable array of trivially copyable values for results that end up owned by
// someone else (a Python array object): release() hands the memory over whole, with the
// deleter that frees it.
//
// Growing never fills the new room. Small buffers live on malloc; from 2 MiB on, a buffer is
// mapped on its own, aligned for transparent huge pages, and grows by remapping its pages
// instead of copying them. Fresh memory is what a large result costs most here (each 4 KiB
// page faulted in takes microseconds), and with huge pages a 40 MB result takes about twenty
// faults instead of ten thousand. Reserving far more than will be used costs only address
// space: pages are backed when first written, and shrink_to_fit() unmaps the rest.

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace quor_core::util {

// Frees what a PodBuffer released: unmaps mapped_bytes, or free() when that is 0.
struct PodRelease {
    size_t mapped_bytes = 0;
    void operator()(void* p) const {
        if (!p) return;
        if (mapped_bytes) {
            ::munmap(p, mapped_bytes);
        } else {
            std::free(p);
        }
    }
};

template <typename T>
class PodBuffer {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    static constexpr size_t kMapBytes = size_t{2} << 20;  // a huge page
    static constexpr size_t kPage = 4096;

    PodBuffer() = default;
    PodBuffer(const PodBuffer&) = delete;
    PodBuffer& operator=(const PodBuffer&) = delete;
    PodBuffer(PodBuffer&& o) noexcept
        : data_(std::exchange(o.data_, nullptr)),
          size_(std::exchange(o.size_, 0)),
          capacity_(std::exchange(o.capacity_, 0)),
          mapped_bytes_(std::exchange(o.mapped_bytes_, 0)) {}
    PodBuffer& operator=(PodBuffer&& o) noexcept {
        if (this != &o) {
            PodRelease{mapped_bytes_}(data_);
            data_ = std::exchange(o.data_, nullptr);
            size_ = std::exchange(o.size_, 0);
            capacity_ = std::exchange(o.capacity_, 0);
            mapped_bytes_ = std::exchange(o.mapped_bytes_, 0);
        }
        return *this;
    }
    ~PodBuffer() { PodRelease{mapped_bytes_}(data_); }

    size_t size() const { return size_; }
    size_t capacity() const { return capacity_; }
    bool empty() const { return size_ == 0; }
    T* data() { return data_; }
    const T* data() const { return data_; }
    T& operator[](size_t k) { return data_[k]; }
    const T& operator[](size_t k) const { return data_[k]; }

    // Room for n values in all; throws std::bad_alloc when there is none.
    void reserve(size_t n) {
        if (!try_reserve(n)) throw std::bad_alloc();
    }
    // As reserve(), false instead of throwing (the buffer is unchanged then).
    bool try_reserve(size_t n) {
        if (n <= capacity_) return true;
        if (n > SIZE_MAX / sizeof(T) - kMapBytes) return false;
        const size_t bytes = n * sizeof(T);
        if (mapped_bytes_) return remap(bytes);
        if (bytes >= kMapBytes) return map_fresh(bytes);
        void* grown = std::realloc(data_, bytes);
        if (!grown) return false;
        data_ = static_cast<T*>(grown);
        capacity_ = n;
        return true;
    }
    // Sets the size; values added are left unset.
    void resize(size_t n) {
        if (n > capacity_) reserve(std::max(n, capacity_ > SIZE_MAX / 4 ? n : 2 * capacity_));
        size_ = n;
    }
    void push_back(const T& v) {
        if (size_ == capacity_) reserve(capacity_ ? 2 * capacity_ : 16);
        data_[size_++] = v;
    }
    void append(const T* values, size_t count) {
        const size_t base = size_;
        resize(size_ + count);
        if (count) std::memcpy(data_ + base, values, count * sizeof(T));
    }
    // Gives back the room past the size, without moving the values.
    void shrink_to_fit() {
        if (size_ == capacity_) return;
        if (size_ == 0) {
            PodRelease{mapped_bytes_}(data_);
            data_ = nullptr;
            capacity_ = 0;
            mapped_bytes_ = 0;
            return;
        }
        if (!mapped_bytes_) {
            if (void* shrunk = std::realloc(data_, size_ * sizeof(T))) {
                data_ = static_cast<T*>(shrunk);
                capacity_ = size_;
            }
            return;
        }
        const size_t keep = round_up(size_ * sizeof(T), kPage);
        if (keep < mapped_bytes_) {
            ::munmap(reinterpret_cast<char*>(data_) + keep, mapped_bytes_ - keep);
            mapped_bytes_ = keep;
            capacity_ = keep / sizeof(T);
        }
    }
    // The memory (nullptr when nothing was ever reserved) with its deleter; the buffer is empty after.
    std::unique_ptr<T, PodRelease> release() {
        std::unique_ptr<T, PodRelease> out(std::exchange(data_, nullptr), PodRelease{mapped_bytes_});
        size_ = 0;
        capacity_ = 0;
        mapped_bytes_ = 0;
        return out;
    }

private:
    static size_t round_up(size_t bytes, size_t unit) { return (bytes + unit - 1) / unit * unit; }

    // Moves the values into a mapping of at least bytes, starting on a huge-page boundary: only
    // whole aligned 2 MiB extents can be backed by huge pages. Pages are backed on first use.
    bool map_fresh(size_t bytes) {
        bytes = round_up(bytes, kMapBytes);
        const size_t mapped = bytes + kMapBytes;
        void* p = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (p == MAP_FAILED) return false;
        const auto at = reinterpret_cast<uintptr_t>(p);
        const uintptr_t start = round_up(at, kMapBytes);
        if (start > at) ::munmap(p, start - at);
        if (start + bytes < at + mapped) ::munmap(reinterpret_cast<void*>(start + bytes), at + mapped - start - bytes);
        ::madvise(reinterpret_cast<void*>(start), bytes, MADV_HUGEPAGE);
        if (size_) std::memcpy(reinterpret_cast<void*>(start), data_, size_ * sizeof(T));
        std::free(data_);
        data_ = reinterpret_cast<T*>(start);
        mapped_bytes_ = bytes;
        capacity_ = bytes / sizeof(T);
        return true;
    }

    bool remap(size_t bytes) {
        bytes = round_up(bytes, kMapBytes);
        void* p = ::mremap(data_, mapped_bytes_, bytes, MREMAP_MAYMOVE);
        if (p == MAP_FAILED) return false;
        ::madvise(p, bytes, MADV_HUGEPAGE);
        data_ = static_cast<T*>(p);
        mapped_bytes_ = bytes;
        capacity_ = bytes / sizeof(T);
        return true;
    }

    T* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
    size_t mapped_bytes_ = 0;  // 0: data_ is from malloc
};

}  // namespace quor_core::util
