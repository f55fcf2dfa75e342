#include "signal/column.hpp"

#include <algorithm>

namespace quor_core::signal {

ValueRef ValueRef::of(const SignalValue& v) {
    switch (v.kind()) {
        case ValueKind::Uint: return of_uint(v.as_uint());
        case ValueKind::Real: return of_real(v.as_real());
        case ValueKind::Unknown: return ValueRef();
        default: return ValueRef(v.kind(), 0, &v);
    }
}

SignalValue ValueRef::to_value() const {
    switch (kind_) {
        case ValueKind::Uint: return SignalValue::uint(payload_);
        case ValueKind::Real: return SignalValue::real(as_real());
        case ValueKind::Unknown: return SignalValue::unknown();
        default: return *heap_;
    }
}

std::optional<uint64_t> ValueRef::to_u64() const {
    switch (kind_) {
        case ValueKind::Uint: return payload_;
        case ValueKind::Real: return real_to_u64(as_real());
        case ValueKind::Unknown: return std::nullopt;
        default: return heap_->to_u64();
    }
}

bool ValueRef::truthy() const {
    switch (kind_) {
        case ValueKind::Uint: return payload_ != 0;
        case ValueKind::Real: return as_real() != 0.0;  // NaN is truthy, -0.0 is not
        case ValueKind::Unknown: return false;
        case ValueKind::Wide: {
            const auto& w = heap_->as_wide().words;
            return std::any_of(w.begin(), w.end(), [](uint64_t x) { return x != 0; });
        }
        case ValueKind::FourState: {
            const auto& b = heap_->as_four_state().bits;
            return std::find(b.begin(), b.end(), kBit1) != b.end();
        }
        case ValueKind::Text: return !heap_->as_text().empty();
    }
    return false;
}

bool identical(const ValueRef& a, const ValueRef& b) {
    if (a.kind_ != b.kind_) return false;
    switch (a.kind_) {
        case ValueKind::Uint: return a.payload_ == b.payload_;
        case ValueKind::Real: return a.as_real() == b.as_real();
        case ValueKind::Unknown: return true;
        default: return *a.heap_ == *b.heap_;
    }
}

ValueRef Column::run_value(size_t run) const {
    const ValueKind k = kinds_.empty() ? ValueKind::Uint : static_cast<ValueKind>(kinds_[run]);
    switch (k) {
        case ValueKind::Uint: return ValueRef::of_uint(payload_[run]);
        case ValueKind::Real: {
            double d = 0;
            std::memcpy(&d, &payload_[run], sizeof d);
            return ValueRef::of_real(d);
        }
        case ValueKind::Unknown: return ValueRef();
        default: return ValueRef::of(heap_[payload_[run]]);
    }
}

void ColumnWriter::convert_to_kinds() {
    col_.kinds_.assign(col_.payload_.size(), static_cast<uint8_t>(ValueKind::Uint));
}

bool ColumnWriter::extends_last_run(const ValueRef& value) const {
    if (col_.payload_.empty()) return false;
    const auto last = col_.kinds_.empty() ? ValueKind::Uint : static_cast<ValueKind>(col_.kinds_.back());
    if (last != value.kind()) return false;
    switch (last) {
        case ValueKind::Uint:
        case ValueKind::Real: return col_.payload_.back() == value.as_uint();  // reals by bits: NaN runs merge
        case ValueKind::Unknown: return true;
        default: return col_.heap_[col_.payload_.back()] == value.heap();
    }
}

void ColumnWriter::append_general(uint64_t start, const ValueRef& value) {
    if (extends_last_run(value)) return;
    mark_start(start);
    push_kind(value.kind());
    col_.payload_.push_back(col_.heap_.size());
    col_.heap_.push_back(value.heap());
}

void ColumnWriter::append(uint64_t start, SignalValue&& value) {
    if (start >= length_) return;
    const ValueRef ref = ValueRef::of(value);
    switch (value.kind()) {
        case ValueKind::Uint:
        case ValueKind::Real:
        case ValueKind::Unknown: append(start, ref); return;
        default:
            if (extends_last_run(ref)) return;
            mark_start(start);
            push_kind(value.kind());
            col_.payload_.push_back(col_.heap_.size());
            col_.heap_.push_back(std::move(value));
            return;
    }
}

Column ColumnWriter::finish() && {
    col_.length_ = col_.payload_.empty() ? 0 : length_;
    if (col_.run_starts_.size() != 0) col_.run_starts_.build_ranks();
    // An array gives back its slack only when that is worth a copy.
    const auto trim = [](auto& v) {
        if (v.capacity() - v.size() > v.capacity() / 8) v.shrink_to_fit();
    };
    trim(col_.payload_);
    trim(col_.kinds_);
    col_.heap_.shrink_to_fit();
    return std::move(col_);
}

}  // namespace quor_core::signal
