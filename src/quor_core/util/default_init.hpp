#pragma once
// An allocator whose value-less construction leaves trivial values uninitialised, so resizing a
// scratch vector that is about to be overwritten does not first fill it with zeros.

#include <memory>
#include <new>
#include <utility>

namespace quor_core::util {

template <typename T>
struct DefaultInitAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = DefaultInitAllocator<U>;
    };
    DefaultInitAllocator() = default;
    template <typename U>
    DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}

    template <typename U>
    void construct(U* p) noexcept(noexcept(::new(static_cast<void*>(p)) U)) {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        std::allocator_traits<std::allocator<T>>::construct(static_cast<std::allocator<T>&>(*this), p,
                                                            std::forward<Args>(args)...);
    }
};

}  // namespace quor_core::util
