#include "eval/pool.hpp"

#include <exception>
#include <utility>

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <system_error>

#include "util/text.hpp"

namespace quor_core::eval {

namespace {

// More workers than this only adds threads that wait; it also keeps a mistyped variable
// (RAYON_NUM_THREADS=1000000) from exhausting the process's threads.
constexpr size_t kMaxWorkers = 256;

// A positive count, 0 for "use the default", nothing when the text is not a number.
std::optional<uint64_t> env_count(const char* text) {
    if (!text) return std::nullopt;
    return util::parse_u64(text);
}

// The pool of this process. A pool inherited through fork() belongs to the parent: its threads
// do not exist here, so it is abandoned (never joined, never freed) and replaced.
struct PoolHolder {
    std::mutex m;
    pid_t owner = 0;
    std::unique_ptr<WorkerPool> pool;

    ~PoolHolder() {
        if (owner != getpid()) (void)pool.release();
    }
};

PoolHolder& holder() {
    static PoolHolder h;
    return h;
}

}  // namespace

size_t pool_size_from(const char* rayon_num_threads, const char* rayon_rs_num_cpus, size_t available) {
    size_t n = available;
    if (const auto v = env_count(rayon_num_threads)) {
        if (*v > 0) n = static_cast<size_t>(std::min<uint64_t>(*v, kMaxWorkers));
    } else if (const auto w = env_count(rayon_rs_num_cpus); w && *w > 0) {
        n = static_cast<size_t>(std::min<uint64_t>(*w, kMaxWorkers));
    }
    return std::clamp<size_t>(n, 1, kMaxWorkers);
}

WorkerPool::WorkerPool(size_t workers) {
    threads_.reserve(workers);
    for (size_t i = 0; i < workers; ++i) {
        try {
            threads_.emplace_back([this] { work(); });
        } catch (const std::system_error&) {
            break;  // the process may not start more threads: work with those that exist
        }
    }
    std::lock_guard lock(m_);
    started_ = threads_.size();
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(m_);
        stop_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_) t.join();
}

WorkerPool& WorkerPool::instance() {
    PoolHolder& h = holder();
    std::lock_guard lock(h.m);
    const pid_t self = getpid();
    if (!h.pool || h.owner != self) {
        if (h.pool) (void)h.pool.release();  // inherited from the parent process
        const size_t size = pool_size_from(std::getenv("RAYON_NUM_THREADS"), std::getenv("RAYON_RS_NUM_CPUS"),
                                           available_processors().value_or(1));
        h.pool = std::make_unique<WorkerPool>(size);
        h.owner = self;
    }
    return *h.pool;
}

void WorkerPool::run(size_t pieces, const std::function<void(size_t)>& piece) {
    run_alongside(pieces, piece, [] {});
}

void WorkerPool::run_alongside(size_t pieces, const std::function<void(size_t)>& piece,
                               const std::function<void()>& alongside) {
    if (threads_.empty()) {  // no worker could be started: the caller does the work first
        std::exception_ptr piece_failure;
        for (size_t k = 0; k < pieces; ++k) {
            try {
                piece(k);
            } catch (...) {
                if (!piece_failure) piece_failure = std::current_exception();
            }
        }
        alongside();
        if (piece_failure) std::rethrow_exception(piece_failure);
        return;
    }
    std::lock_guard submit(submit_);
    std::unique_lock lock(m_);
    job_ = &piece;
    pieces_ = pieces;
    next_piece_ = 0;
    unfinished_ = pieces;
    failure_ = nullptr;
    wake_.notify_all();
    lock.unlock();
    std::exception_ptr own_failure;
    try {
        alongside();
    } catch (...) {
        own_failure = std::current_exception();
    }
    lock.lock();
    done_.wait(lock, [this] { return unfinished_ == 0; });
    job_ = nullptr;
    std::exception_ptr piece_failure = std::exchange(failure_, nullptr);
    lock.unlock();
    if (own_failure) std::rethrow_exception(own_failure);
    if (piece_failure) std::rethrow_exception(piece_failure);
}

void WorkerPool::run_sharing(size_t pieces, const std::function<void(size_t)>& piece) {
    run_alongside(pieces, piece, [this] {
        std::unique_lock lock(m_);
        while (may_start_piece()) run_next_piece(lock);
    });
}

void WorkerPool::run_next_piece(std::unique_lock<std::mutex>& lock) {
    const size_t k = next_piece_++;
    const auto* job = job_;
    ++running_;
    lock.unlock();
    std::exception_ptr failure;
    try {
        (*job)(k);
    } catch (...) {
        failure = std::current_exception();
    }
    lock.lock();
    --running_;
    if (failure && !failure_) failure_ = std::move(failure);
    if (--unfinished_ == 0) done_.notify_all();
}

void WorkerPool::work() {
    std::unique_lock lock(m_);
    while (true) {
        wake_.wait(lock, [this] { return stop_ || may_start_piece(); });
        if (stop_) return;
        run_next_piece(lock);
    }
}

}  // namespace quor_core::eval
