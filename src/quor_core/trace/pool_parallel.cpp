#include "trace/pool_parallel.hpp"

#include <exception>
#include <mutex>

#include "eval/pool.hpp"

namespace quor_core::trace {

signal::ParallelFor pool_parallel_for() {
    return [](size_t pieces, const std::function<void(size_t)>& body) {
        std::mutex m;
        std::exception_ptr failure;
        eval::WorkerPool::instance().run(pieces, [&](size_t piece) {
            try {
                body(piece);
            } catch (...) {
                std::lock_guard lock(m);
                if (!failure) failure = std::current_exception();
            }
        });
        if (failure) std::rethrow_exception(failure);
    };
}

}  // namespace quor_core::trace
