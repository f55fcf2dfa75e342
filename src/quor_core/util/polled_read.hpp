#pragma once
// Reading pipes, FIFOs and devices without blocking beyond an interrupt's reach: a FIFO whose
// writer is silent (or not there yet) would otherwise hold the reading thread, and Ctrl-C with
// it, for as long as the writer likes.

#include <sys/types.h>

#include <cstddef>
#include <string>

#include "util/interrupt.hpp"

namespace quor_core::util {

// Opens path for reading without waiting for a FIFO's writer to appear (O_NONBLOCK; regular
// files read as ever). Returns the descriptor, or -1 with errno set.
int open_for_reading(const std::string& path);

// Reads up to size bytes once input is there, asking the interrupt while it waits (and
// throwing Interrupted when it says stop). Returns the bytes read, 0 at the end of the input
// (a FIFO's writer closed it), or -1 with errno set.
ssize_t read_when_ready(int fd, void* buf, size_t size, const Interrupt& interrupt);

}  // namespace quor_core::util
