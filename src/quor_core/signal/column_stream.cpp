#include "signal/column_stream.hpp"

#include <cstring>

namespace quor_core::signal {

void ColumnStream::set(uint64_t index, SignalValue value) {
    if (!accept(index)) return;
    pending_kind_ = value.kind();
    switch (pending_kind_) {
        case ValueKind::Uint: pending_payload_ = value.as_uint(); break;
        case ValueKind::Real: pending_payload_ = ValueRef::of_real(value.as_real()).as_uint(); break;
        case ValueKind::Unknown: break;
        case ValueKind::Wide: pending_words_.assign(value.as_wide().words.begin(), value.as_wide().words.end()); break;
        default: pending_heap_ = std::move(value); break;
    }
}

// The first run starts at 0: Unknown up to the first value.
void ColumnStream::start_runs() {
    if (pending_index_ > 0) writer_.append(0, ValueRef());
    started_ = true;
}

// Flattened: the writer's run test, run-start mark and store in one body.
[[gnu::flatten]] void ColumnStream::write_uint() {
    if (!started_) start_runs();
    writer_.append(pending_index_, ValueRef::of_uint(pending_payload_));
    last_is_uint_ = true;
    last_uint_ = pending_payload_;
}

void ColumnStream::write_other() {
    if (!started_) start_runs();
    if (pending_kind_ == ValueKind::Real) {
        double d = 0;
        std::memcpy(&d, &pending_payload_, sizeof d);
        writer_.append(pending_index_, ValueRef::of_real(d));
    } else if (pending_kind_ == ValueKind::Wide) {
        writer_.append_wide(pending_index_, pending_words_);
    } else {
        writer_.append(pending_index_, std::move(pending_heap_));
    }
    last_is_uint_ = false;
}

Column ColumnStream::finish() && {
    write_pending();
    pending_kind_ = ValueKind::Unknown;
    return std::move(writer_).finish();
}

}  // namespace quor_core::signal
