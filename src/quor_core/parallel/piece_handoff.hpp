#pragma once
// PieceHandoff: the results of a pool job's pieces, handed to one consuming thread in piece
// order while later pieces are still being computed.
//
// Workers call finish(k) when piece k is written (or failed); the consumer calls wait_for(k)
// before reading piece k. Once the consumer gives up (stop()), pieces not yet started are
// skipped: skipping() tells a worker to leave its piece empty.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

namespace quor_core::eval {

class PieceHandoff {
public:
    explicit PieceHandoff(size_t pieces) : finished_(pieces, 0) {}

    // Marks piece k finished; failed when it could not be computed (its result is unusable).
    void finish(size_t k, bool failed) {
        {
            std::lock_guard lock(m_);
            finished_[k] = failed ? kFailed : kDone;
        }
        changed_.notify_one();
    }

    // Blocks until piece k is finished; false when it failed.
    bool wait_for(size_t k) {
        std::unique_lock lock(m_);
        changed_.wait(lock, [&] { return finished_[k] != 0; });
        return finished_[k] == kDone;
    }

    void stop() { stopped_.store(true, std::memory_order_relaxed); }
    bool skipping() const { return stopped_.load(std::memory_order_relaxed); }

private:
    static constexpr unsigned char kDone = 1;
    static constexpr unsigned char kFailed = 2;
    std::mutex m_;
    std::condition_variable changed_;
    std::vector<unsigned char> finished_;  // 0 while running
    std::atomic<bool> stopped_{false};
};

}  // namespace quor_core::eval
