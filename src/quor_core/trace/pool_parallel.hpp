#pragma once
// Runs a loader's independent pieces of work (parsing stretches of input, freezing columns) on
// the process-wide worker pool.

#include "signal/column_builder.hpp"

namespace quor_core::trace {

// A ParallelFor backed by the worker pool. An exception thrown by a piece (an allocation that
// failed) is rethrown on the calling thread once every piece has finished.
signal::ParallelFor pool_parallel_for();

}  // namespace quor_core::trace
