#pragma once
// The process-wide worker pool of the parallel searches.
//
// Created on first use with a size fixed at creation: RAYON_NUM_THREADS, then RAYON_RS_NUM_CPUS,
// then the processors available to the process. A caller hands a job of n pieces to the workers
// and blocks until every piece is done; it runs none of them itself. After fork() the child
// process gets a fresh pool: the parent's workers do not exist there.
//
// A job may carry an Interrupt: once it says stop, pieces not yet begun are skipped (running
// ones stop at their own checks) and the call throws util::Interrupted when all have left. The
// calling thread asks the Interrupt while it waits, so a caller's poll function runs while the
// caller holds this pool's job: it must not wait for anything that waits for the pool (the
// Python binding never submits a job while holding the interpreter lock, and its poll takes
// that lock).
//
// Workers are started with the asynchronous signals (SIGINT, SIGTERM, ...) blocked, so those
// reach the application's own threads and interrupt their blocking calls. Each worker takes its
// exception storage as it starts (see util/exception_storage.hpp), so a worker whose allocation
// fails can report it; one that finds no room for it leaves, and the pool has fewer workers.
//
// Pieces skipped after an interrupt never run: work done alongside must not wait for them.
// A job submitted from inside a job (by a piece, or by the caller while it waits) runs on the
// submitting thread, one piece after another, instead of waiting for itself.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "util/interrupt.hpp"

namespace quor_core::eval {

class WorkerPool {
public:
    explicit WorkerPool(size_t workers);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // The pool of this process, created on first use.
    static WorkerPool& instance();

    size_t size() const { return threads_.size(); }

    // Runs piece(0) .. piece(pieces - 1) on the workers; returns when all have finished. An
    // exception thrown by a piece (an allocation that failed) is rethrown here once every piece
    // has finished; when several throw, the first is kept.
    // Jobs from several calling threads are run one after another. A pool whose threads could
    // not be started (size() == 0) runs the pieces on the caller.
    void run(size_t pieces, const std::function<void(size_t)>& piece,
             const util::Interrupt& interrupt = util::Interrupt::never());
    // As run, and meanwhile calls alongside() on the calling thread (to consume the results of
    // pieces already finished). Returns only once alongside() and every piece have finished,
    // also when alongside() throws, so no piece outlives the data it writes to. An exception
    // from alongside() is rethrown in preference to one from a piece.
    void run_alongside(size_t pieces, const std::function<void(size_t)>& piece, const std::function<void()>& alongside,
                       const util::Interrupt& interrupt = util::Interrupt::never());

    // As run, but the calling thread takes pieces too. Loading uses it: a worker that sleeps
    // may take milliseconds to wake on a virtual machine, and the caller is awake already.
    void run_sharing(size_t pieces, const std::function<void(size_t)>& piece,
                     const util::Interrupt& interrupt = util::Interrupt::never());

    // As run_sharing, but the calling thread first does first(), in the place of a worker (one
    // worker fewer takes pieces meanwhile), and takes pieces once it is done. Lets one serial
    // task overlap a job without more threads running than there are workers.
    void run_sharing_after(size_t pieces, const std::function<void(size_t)>& piece,
                           const std::function<void()>& first,
                           const util::Interrupt& interrupt = util::Interrupt::never());

private:
    // Publishes a job, runs alongside() on the calling thread and waits for every piece; with
    // caller_runs_first, the caller counts as a running piece until alongside() says otherwise.
    void run_job(size_t pieces, const std::function<void(size_t)>& piece, const std::function<void()>& alongside,
                 const util::Interrupt& interrupt, bool caller_runs_first);
    void work();
    // Runs a job on the calling thread alone: no workers, or a job submitted from inside one.
    static void run_here(size_t pieces, const std::function<void(size_t)>& piece, const std::function<void()>& alongside,
                         const util::Interrupt& interrupt);
    // This thread is a worker, or the caller of the job being run.
    bool inside_job() const;
    // Waits, lock holding m_, until every piece of the job has finished, asking the interrupt
    // once at the start and again every wait period.
    void wait_for_pieces(std::unique_lock<std::mutex>& lock, const util::Interrupt& interrupt);
    // Runs the job's next piece with m_ released; lock holds m_ before and after.
    void run_next_piece(std::unique_lock<std::mutex>& lock);
    // A piece is waiting, and fewer pieces run than there are workers (a caller sharing its
    // job takes a worker's place: more threads than processors would only slow each other).
    bool may_start_piece() const { return job_ && next_piece_ < pieces_ && running_ < started_; }

    std::mutex submit_;  // one job at a time
    std::mutex m_;
    std::condition_variable wake_;
    std::condition_variable done_;
    const std::function<void(size_t)>* job_ = nullptr;
    const util::Interrupt* interrupt_ = nullptr;  // the job's
    std::atomic<std::thread::id> caller_{};       // of the job being run
    size_t pieces_ = 0;
    size_t next_piece_ = 0;
    size_t unfinished_ = 0;
    size_t running_ = 0;  // pieces being run
    size_t started_ = 0;  // threads_.size(), for reading under m_ while workers start
    enum class Start { Waiting, Ready, Failed } starting_ = Start::Waiting;  // the worker starting
    std::exception_ptr failure_;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

// The pool size for these environment values (nullptr when unset) and this processor count.
size_t pool_size_from(const char* rayon_num_threads, const char* rayon_rs_num_cpus, size_t available);

// Processors available to this process: affinity mask, capped by a cgroup CPU quota; nothing
// when neither can be read.
std::optional<size_t> available_processors();

// Parses the quota file of cgroup v2 ("max 100000" or "150000 100000") into whole CPUs,
// rounded up; nothing for no limit or unreadable text.
std::optional<size_t> cpus_from_cpu_max(std::string_view text);

}  // namespace quor_core::eval
