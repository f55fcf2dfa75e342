#include "util/interrupt.hpp"

#include <utility>

namespace quor_core::util {

namespace {

int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

Interrupt::Interrupt(std::function<bool()> poll, std::chrono::nanoseconds interval)
    : poll_(std::move(poll)), interval_ns_(interval.count()), next_poll_ns_(now_ns() + interval_ns_) {}

const Interrupt& Interrupt::never() {
    static const Interrupt none;
    return none;
}

bool Interrupt::poll_if_due() const {
    if (stopped()) return true;
    if (!poll_ || std::this_thread::get_id() != owner_) return false;
    const int64_t now = now_ns();
    if (now < next_poll_ns_) return false;
    next_poll_ns_ = now + interval_ns_;
    if (!poll_()) return false;
    stopped_.store(true, std::memory_order_relaxed);
    return true;
}

}  // namespace quor_core::util
