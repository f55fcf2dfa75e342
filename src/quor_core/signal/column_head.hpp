#pragma once
// ColumnHead: what a point read of a Column needs (its length and the addresses of its arrays),
// copied out of the Column into 48 bytes. Code that reads many columns at random keeps heads
// beside its own data (the name cache of the Python binding keeps one with each name), so a
// read goes straight to the column's arrays instead of first loading the Column object: one
// cache miss fewer per read when the columns are many. Valid as long as the column it came from.

#include <bit>
#include <cstdint>
#include <cstring>

#include "signal/column.hpp"

namespace quor_core::signal {

class ColumnHead {
public:
    // The head of a column without values: every read is Unknown.
    ColumnHead() = default;
    explicit ColumnHead(const Column& c)
        : length_(c.length_),
          start_words_(c.run_starts_.words()),
          payloads_(c.payload_bytes_),
          kinds_(c.kinds_.empty() ? nullptr : c.kinds_.data()),
          heap_(c.heap_.data()),
          runs_per_index_(c.length_ == 0 ? 0.0f : static_cast<float>(static_cast<double>(c.runs_) / static_cast<double>(c.length_))),
          payload_width_(c.payload_width_) {
        if (c.run_starts_.size() == 0) start_words_ = nullptr;
    }

    // The same value as Column::at(index) of the column it came from.
    ValueRef at(uint64_t index) const {
        if (index >= length_) return ValueRef();
        size_t run = 0;
        if (start_words_ != nullptr) {
            // Where changes are spread evenly, the run holding index is near index * runs / length:
            // its payload and kind are asked for now and arrive while the rank is counted, instead
            // of being waited for after it.
            const auto guess = static_cast<size_t>(static_cast<float>(index) * runs_per_index_);
            __builtin_prefetch(payloads_ + guess * payload_width_);
            if (kinds_ != nullptr) __builtin_prefetch(kinds_ + guess);
            run = static_cast<size_t>(RankBits::rank1(length_, start_words_, index) - 1);
        }
        uint64_t payload = 0;
        std::memcpy(&payload, payloads_ + run * payload_width_, sizeof payload);  // the array has slack for this
        if constexpr (std::endian::native == std::endian::big) payload = __builtin_bswap64(payload);
        if (payload_width_ < 8) payload &= (uint64_t{1} << (8 * payload_width_)) - 1;
        const ValueKind kind = kinds_ == nullptr ? ValueKind::Uint : static_cast<ValueKind>(kinds_[run]);
        switch (kind) {
            case ValueKind::Uint: return ValueRef::of_uint(payload);
            case ValueKind::Real: {
                double d = 0;
                std::memcpy(&d, &payload, sizeof d);
                return ValueRef::of_real(d);
            }
            case ValueKind::Unknown: return ValueRef();
            case ValueKind::Wide: return Column::wide_value(payloads_, payload);
            default: return ValueRef::of(heap_[payload]);
        }
    }

private:
    uint64_t length_ = 0;
    const uint64_t* start_words_ = nullptr;  // the run starts and their directory; nullptr with at most one run
    const uint8_t* payloads_ = nullptr;
    const uint8_t* kinds_ = nullptr;  // nullptr when every run is a Uint
    const SignalValue* heap_ = nullptr;
    float runs_per_index_ = 0;  // only a hint where to look
    uint8_t payload_width_ = 8;
};

}  // namespace quor_core::signal
