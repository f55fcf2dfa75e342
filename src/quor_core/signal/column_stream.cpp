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
        default: pending_heap_ = std::move(value); break;
    }
}

void ColumnStream::flush_any() {
    // An Unknown is filled over by the value before it, so it adds no run.
    if (!has_pending_ || pending_kind_ == ValueKind::Unknown) return;
    if (!started_ && pending_index_ > 0) writer_.append(0, ValueRef());
    started_ = true;
    switch (pending_kind_) {
        case ValueKind::Uint: writer_.append(pending_index_, ValueRef::of_uint(pending_payload_)); break;
        case ValueKind::Real: {
            double d = 0;
            std::memcpy(&d, &pending_payload_, sizeof d);
            writer_.append(pending_index_, ValueRef::of_real(d));
            break;
        }
        default: writer_.append(pending_index_, std::move(pending_heap_)); break;
    }
}

Column ColumnStream::finish() && {
    flush();
    has_pending_ = false;
    return std::move(writer_).finish();
}

}  // namespace quor_core::signal
