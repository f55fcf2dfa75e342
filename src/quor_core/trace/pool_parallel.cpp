#include "trace/pool_parallel.hpp"

#include "parallel/pool.hpp"

namespace quor_core::trace {

signal::ParallelFor pool_parallel_for(const util::Interrupt& interrupt) {
    return [&interrupt](size_t pieces, const std::function<void(size_t)>& body) {
        eval::WorkerPool::instance().run_sharing(pieces, body, interrupt);
    };
}

}  // namespace quor_core::trace
