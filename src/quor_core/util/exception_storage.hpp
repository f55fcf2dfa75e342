#pragma once
// The C++ runtime keeps each thread's exception bookkeeping in thread-local storage that the C
// library allocates on the thread's first use of it. When that allocation fails (memory ran
// out, or a limit such as RLIMIT_AS was reached) the C library ends the whole process, so a
// thread that may have to report a failed allocation by exception takes its storage early.

#include <cstdlib>
#include <exception>

namespace quor_core::util {

// Takes this thread's exception storage (nothing if it has it already).
inline void prepare_exception_storage() {
    // The call reaches the storage; the volatile store keeps it from being dropped as an unused
    // result.
    volatile int sink = std::uncaught_exceptions();
    (void)sink;
}

// As prepare_exception_storage, but only where there is room for it: false, and nothing taken,
// when a probe allocation fails. The storage is taken from the room the probe gave back.
inline bool try_prepare_exception_storage() {
    constexpr size_t kProbeBytes = size_t{64} << 10;
    void* probe = std::malloc(kProbeBytes);
    if (!probe) return false;
    asm volatile("" : : "r"(probe) : "memory");  // a real allocation, not one optimized away
    std::free(probe);
    prepare_exception_storage();
    return true;
}

}  // namespace quor_core::util
