#include "parallel/pool.hpp"

#include <exception>
#include <utility>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>

#include "util/exception_storage.hpp"
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

// How often a caller waiting for its job's pieces asks the job's interrupt.
constexpr std::chrono::milliseconds kWaitPoll{20};

// Blocks the asynchronous signals on this thread for a scope (threads started meanwhile
// inherit the mask), restoring the previous mask at its end. Faults (SIGSEGV, SIGBUS, ...)
// stay deliverable: blocked, they would end the process without a report.
class AsyncSignalsBlocked {
public:
    AsyncSignalsBlocked() {
        sigset_t set;
        sigemptyset(&set);
        for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGCHLD, SIGWINCH, SIGPIPE}) {
            sigaddset(&set, s);
        }
        blocked_ = pthread_sigmask(SIG_BLOCK, &set, &previous_) == 0;
    }
    ~AsyncSignalsBlocked() {
        if (blocked_) pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    AsyncSignalsBlocked(const AsyncSignalsBlocked&) = delete;
    AsyncSignalsBlocked& operator=(const AsyncSignalsBlocked&) = delete;

private:
    sigset_t previous_{};
    bool blocked_ = false;
};

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
    const AsyncSignalsBlocked blocked;
    // One worker at a time, each waited for until it has its exception storage: nothing else
    // allocates meanwhile, so the room its probe found is still there when it takes the storage.
    std::unique_lock lock(m_);
    for (size_t i = 0; i < workers; ++i) {
        starting_ = Start::Waiting;
        lock.unlock();
        try {
            threads_.emplace_back([this] { work(); });
        } catch (...) {
            // No thread or no memory for one (a limit on threads or address space): work with
            // those that exist, or on the caller alone.
            lock.lock();
            break;
        }
        lock.lock();
        done_.wait(lock, [this] { return starting_ != Start::Waiting; });
        if (starting_ == Start::Failed) {
            lock.unlock();
            threads_.back().join();
            threads_.pop_back();
            lock.lock();
            break;
        }
    }
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

void WorkerPool::run(size_t pieces, const std::function<void(size_t)>& piece, const util::Interrupt& interrupt) {
    run_alongside(pieces, piece, [] {}, interrupt);
}

bool WorkerPool::inside_job() const {
    const std::thread::id self = std::this_thread::get_id();
    if (caller_.load(std::memory_order_relaxed) == self) return true;
    return std::any_of(threads_.begin(), threads_.end(), [&](const std::thread& t) { return t.get_id() == self; });
}

void WorkerPool::run_here(size_t pieces, const std::function<void(size_t)>& piece,
                          const std::function<void()>& alongside, const util::Interrupt& interrupt) {
    std::exception_ptr piece_failure;
    for (size_t k = 0; k < pieces && !interrupt.poll_if_due(); ++k) {
        try {
            piece(k);
        } catch (...) {
            if (!piece_failure) piece_failure = std::current_exception();
        }
    }
    alongside();
    if (piece_failure) std::rethrow_exception(piece_failure);
    if (interrupt.stopped()) throw util::Interrupted();
}

void WorkerPool::run_alongside(size_t pieces, const std::function<void(size_t)>& piece,
                               const std::function<void()>& alongside, const util::Interrupt& interrupt) {
    if (threads_.empty() || inside_job()) return run_here(pieces, piece, alongside, interrupt);
    run_job(pieces, piece, alongside, interrupt, false);
}

void WorkerPool::run_job(size_t pieces, const std::function<void(size_t)>& piece,
                         const std::function<void()>& alongside, const util::Interrupt& interrupt,
                         bool caller_runs_first) {
    std::lock_guard submit(submit_);
    caller_.store(std::this_thread::get_id(), std::memory_order_relaxed);
    std::unique_lock lock(m_);
    if (caller_runs_first) ++running_;  // the caller's own work takes a worker's place
    job_ = &piece;
    interrupt_ = &interrupt;
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
    wait_for_pieces(lock, interrupt);
    job_ = nullptr;
    interrupt_ = nullptr;
    std::exception_ptr piece_failure = std::exchange(failure_, nullptr);
    lock.unlock();
    caller_.store(std::thread::id(), std::memory_order_relaxed);
    if (own_failure) std::rethrow_exception(own_failure);
    if (piece_failure) std::rethrow_exception(piece_failure);
    if (interrupt.stopped()) throw util::Interrupted();  // pieces were skipped
}

void WorkerPool::wait_for_pieces(std::unique_lock<std::mutex>& lock, const util::Interrupt& interrupt) {
    const auto all_done = [this] { return unfinished_ == 0; };
    if (!interrupt.can_stop()) return done_.wait(lock, all_done);
    // The caller is asked before the first wait too: when the workers took every piece and
    // finish within one wait, it would otherwise never be asked during the job, and a load made
    // of such short jobs would never see a Ctrl-C.
    do {
        lock.unlock();
        const bool stop = interrupt.poll_if_due();
        lock.lock();
        // Pieces not yet begun are dropped; those running stop at their own checks.
        if (stop && job_) {
            unfinished_ -= pieces_ - next_piece_;
            next_piece_ = pieces_;
        }
    } while (!done_.wait_for(lock, kWaitPoll, all_done));
}

void WorkerPool::run_sharing(size_t pieces, const std::function<void(size_t)>& piece,
                             const util::Interrupt& interrupt) {
    if (threads_.empty() || inside_job()) return run_here(pieces, piece, [] {}, interrupt);
    run_alongside(
        pieces, piece,
        [this] {
            std::unique_lock lock(m_);
            while (may_start_piece()) run_next_piece(lock);
        },
        interrupt);
}

void WorkerPool::run_sharing_after(size_t pieces, const std::function<void(size_t)>& piece,
                                   const std::function<void()>& first, const util::Interrupt& interrupt) {
    if (threads_.empty() || inside_job()) {
        first();
        return run_here(pieces, piece, [] {}, interrupt);
    }
    run_job(
        pieces, piece,
        [this, &first] {
            std::exception_ptr failure;
            try {
                first();
            } catch (...) {
                failure = std::current_exception();
            }
            std::unique_lock lock(m_);
            --running_;
            wake_.notify_one();
            if (failure) std::rethrow_exception(failure);
            while (may_start_piece()) run_next_piece(lock);
        },
        interrupt, true);
}

void WorkerPool::run_next_piece(std::unique_lock<std::mutex>& lock) {
    const size_t k = next_piece_++;
    const auto* job = job_;
    const util::Interrupt* interrupt = interrupt_;
    ++running_;
    lock.unlock();
    std::exception_ptr failure;
    try {
        // Once the job is to stop, the pieces left are skipped (the caller then throws).
        if (!interrupt->poll_if_due()) (*job)(k);
    } catch (...) {
        failure = std::current_exception();
    }
    lock.lock();
    --running_;
    if (failure && !failure_) failure_ = std::move(failure);
    if (--unfinished_ == 0) done_.notify_all();
}

void WorkerPool::work() {
    // Without room for its exception storage a worker could not report a failed allocation:
    // it leaves at once, and the pool does without it.
    const bool ready = util::try_prepare_exception_storage();
    std::unique_lock lock(m_);
    starting_ = ready ? Start::Ready : Start::Failed;
    done_.notify_all();
    if (!ready) return;
    while (true) {
        wake_.wait(lock, [this] { return stop_ || may_start_piece(); });
        if (stop_) return;
        run_next_piece(lock);
    }
}

}  // namespace quor_core::eval
