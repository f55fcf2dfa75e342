#pragma once
// ColumnStream: builds one signal's Column straight from its changes when they arrive in
// ascending index order, with no change log to keep and sort. The column is exactly the one a
// ColumnBuilder with FillRule::SetThenFill freezes from the same changes: a later change at an
// index replaces an earlier one, an Unknown is filled over by the value before it, and indices
// at or past the length are dropped. A change below an earlier index cannot be streamed: the
// stream then reports out_of_order() and its column must not be used.

#include <cstdint>

#include "signal/column.hpp"
#include "signal/value.hpp"

namespace quor_core::signal {

class ColumnStream {
public:
    explicit ColumnStream(uint64_t length) : writer_(length), length_(length) {}

    void set_uint(uint64_t index, uint64_t value) {
        if (!accept(index)) return;
        pending_kind_ = ValueKind::Uint;
        pending_payload_ = value;
    }
    void set(uint64_t index, SignalValue value);

    bool out_of_order() const { return out_of_order_; }
    Column finish() &&;

private:
    // Makes index the pending one, writing out the value before it when the index moves on.
    bool accept(uint64_t index) {
        if (index >= length_) return false;
        if (has_pending_) {
            if (index < pending_index_) {
                out_of_order_ = true;
                return false;
            }
            if (index > pending_index_) flush();
        }
        has_pending_ = true;
        pending_index_ = index;
        return true;
    }
    // Writes the pending value out; Uints, the bulk of most traces, without a call.
    void flush() {
        if (has_pending_ && started_ && pending_kind_ == ValueKind::Uint) {
            writer_.append(pending_index_, ValueRef::of_uint(pending_payload_));
        } else {
            flush_any();
        }
    }
    void flush_any();

    ColumnWriter writer_;
    uint64_t length_;
    bool has_pending_ = false;
    bool started_ = false;  // the writer holds its first run
    bool out_of_order_ = false;
    ValueKind pending_kind_ = ValueKind::Unknown;
    uint64_t pending_index_ = 0;
    uint64_t pending_payload_ = 0;  // Uint value or Real bits
    SignalValue pending_heap_;      // a Wide, FourState or Text value
};

}  // namespace quor_core::signal
