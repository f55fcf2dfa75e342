#pragma once
// Interrupt: lets a long operation (a load, a search) stop early when its caller asks, as Python
// does on Ctrl-C.
//
// The thread that makes an Interrupt owns it: check() there asks the caller's poll function, at
// most once per interval. Other threads (the pool's workers) only read the answer, an atomic
// flag, so a worker never calls into the caller. Once the answer is yes, check() throws
// Interrupted on every thread; the operation unwinds and frees what it made on the way.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <thread>

namespace quor_core::util {

// Thrown by Interrupt::check once the caller asked the operation to stop.
class Interrupted final : public std::exception {
public:
    const char* what() const noexcept override { return "interrupted"; }
};

class Interrupt {
public:
    static constexpr std::chrono::milliseconds kDefaultInterval{40};

    // An operation that is never asked to stop.
    Interrupt() = default;
    // Stops the operation once poll() returns true. poll is called on this thread only.
    explicit Interrupt(std::function<bool()> poll, std::chrono::nanoseconds interval = kDefaultInterval);
    Interrupt(const Interrupt&) = delete;
    Interrupt& operator=(const Interrupt&) = delete;

    // An Interrupt that never stops anything, for callers without one.
    static const Interrupt& never();

    // Throws Interrupted when the operation is to stop; on the owning thread it first asks the
    // caller, if the interval has passed since it last asked. Cheap enough for every step of a
    // loop that takes a few hundred microseconds.
    void check() const {
        if (poll_if_due()) throw Interrupted();
    }

    // As check, without throwing: true when the operation is to stop.
    bool poll_if_due() const;

    bool stopped() const { return stopped_.load(std::memory_order_relaxed); }

    // Whether this Interrupt can ever stop anything (it has a poll function).
    bool can_stop() const { return static_cast<bool>(poll_); }

private:
    std::function<bool()> poll_;
    std::thread::id owner_ = std::this_thread::get_id();
    int64_t interval_ns_ = 0;
    mutable int64_t next_poll_ns_ = 0;  // read and written by the owner only
    mutable std::atomic<bool> stopped_{false};
};

}  // namespace quor_core::util
