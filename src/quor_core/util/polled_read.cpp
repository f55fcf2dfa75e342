#include "util/polled_read.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace quor_core::util {

namespace {

// How long one wait for input lasts before the interrupt is asked again.
constexpr int kWaitMs = 20;

}  // namespace

int open_for_reading(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); }

ssize_t read_when_ready(int fd, void* buf, size_t size, const Interrupt& interrupt) {
    const int wait_ms = interrupt.can_stop() ? kWaitMs : -1;
    for (;;) {
        interrupt.check();
        // Read only once poll reports input or its end: a FIFO opened without blocking reads
        // as ended while no writer has come yet.
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, wait_ms);
        if (ready < 0 && errno != EINTR && errno != EAGAIN) return -1;
        if (ready <= 0) continue;
        const ssize_t got = ::read(fd, buf, size);
        if (got >= 0) return got;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
    }
}

}  // namespace quor_core::util
