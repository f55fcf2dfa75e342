#pragma once
// ColumnStream: builds one signal's Column straight from its changes when they arrive in
// ascending index order, with no change log to keep and sort. The column is exactly the one a
// ColumnBuilder with FillRule::SetThenFill freezes from the same changes: a later change at an
// index replaces an earlier one, an Unknown is filled over by the value before it, and indices
// at or past the length are dropped. A change below an earlier index cannot be streamed: the
// stream then reports out_of_order() and its column must not be used.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "signal/column.hpp"
#include "signal/values/value.hpp"

namespace quor_core::signal {

class ColumnStream {
public:
    // The run starts come from arena when one is given. The payloads do not, unless they are few:
    // many streams grow theirs at once, and copies made as each finishes reuse the memory of
    // those finished before.
    // Its growing arrays come from scratch when one is given (it must outlive the stream).
    explicit ColumnStream(uint64_t length, std::shared_ptr<util::Arena> arena = nullptr,
                          util::ScratchPool* scratch = nullptr)
        : writer_(length, std::move(arena), ColumnWriter::ArenaUse::RunStarts, scratch), length_(length) {}

    void set_uint(uint64_t index, uint64_t value) {
        if (!accept(index)) return;
        pending_kind_ = ValueKind::Uint;
        pending_payload_ = value;
    }
    // A Wide value, words least significant first; they are copied.
    void set_wide(uint64_t index, std::span<const uint64_t> words) {
        if (!accept(index)) return;
        pending_kind_ = ValueKind::Wide;
        pending_words_.assign(words.begin(), words.end());
    }
    void set(uint64_t index, SignalValue value);

    bool out_of_order() const { return out_of_order_; }
    Column finish() &&;

private:
    // Makes index the pending one, writing out the value pending before it when the index moves
    // on. At first an Unknown is pending at 0, which writes nothing.
    bool accept(uint64_t index) {
        if (index >= length_) return false;
        if (index != pending_index_) {
            if (index < pending_index_) {
                out_of_order_ = true;
                return false;
            }
            write_pending();
            pending_index_ = index;
        }
        return true;
    }
    // A Uint equal to the last run's value only extends it, which is settled here without a
    // call; an Unknown is filled over by the value before it, so it writes nothing.
    void write_pending() {
        if (pending_kind_ == ValueKind::Uint) {
            if (!(last_is_uint_ && last_uint_ == pending_payload_)) write_uint();
        } else if (pending_kind_ != ValueKind::Unknown) {
            write_other();
        }
    }
    void write_uint();
    void write_other();
    void start_runs();

    ColumnWriter writer_;
    uint64_t length_;
    bool started_ = false;       // the writer holds its first run
    bool last_is_uint_ = false;  // the writer's last run holds the Uint last_uint_
    bool out_of_order_ = false;
    uint64_t last_uint_ = 0;
    ValueKind pending_kind_ = ValueKind::Unknown;
    uint64_t pending_index_ = 0;
    uint64_t pending_payload_ = 0;         // Uint value or Real bits
    std::vector<uint64_t> pending_words_;  // a Wide value (the same array for every one)
    SignalValue pending_heap_;             // a FourState or Text value
};

}  // namespace quor_core::signal
