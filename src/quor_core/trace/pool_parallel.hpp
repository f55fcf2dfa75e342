#pragma once
// Runs a loader's independent pieces of work (parsing stretches of input, freezing columns) on
// the process-wide worker pool.

#include "signal/column_builder.hpp"
#include "util/interrupt.hpp"

namespace quor_core::trace {

// A ParallelFor backed by the worker pool. An exception thrown by a piece (an allocation that
// failed) is rethrown on the calling thread once every piece has finished. Once the interrupt
// says stop, pieces not yet begun are skipped and util::Interrupted is thrown; the interrupt
// must outlive the returned function.
signal::ParallelFor pool_parallel_for(const util::Interrupt& interrupt = util::Interrupt::never());

}  // namespace quor_core::trace
