#include "trace/pool_parallel.hpp"

#include "eval/pool.hpp"

namespace quor_core::trace {

signal::ParallelFor pool_parallel_for() {
    return [](size_t pieces, const std::function<void(size_t)>& body) { eval::WorkerPool::instance().run_sharing(pieces, body); };
}

}  // namespace quor_core::trace
