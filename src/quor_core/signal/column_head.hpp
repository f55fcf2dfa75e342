#pragma once
// ColumnHead: what a point read of a Column needs (its length and the addresses of its arrays),
// copied out of the Column into 48 bytes. Code that reads many columns at random keeps heads
// beside its own data (the name cache of the Python binding keeps one with each name), so a
// read goes straight to the column's arrays instead of first loading the Column object: one
// cache miss fewer per read when the columns are many. Valid as long as the column it came from.

#include <algorithm>
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
          starts_(c.run_starts_.is_sorted() ? static_cast<const void*>(c.run_starts_.sorted_array())
                                            : static_cast<const void*>(c.run_starts_.bits().words())),
          payloads_(c.payload_bytes_),
          kinds_(c.kinds_.empty() ? nullptr : c.kinds_.data()),
          heap_(c.heap_.data()),
          runs_per_index_(c.length_ == 0 ? 0.0f : static_cast<float>(static_cast<double>(c.runs_) / static_cast<double>(c.length_))),
          payload_width_(c.payload_width_),
          sorted_(c.run_starts_.is_sorted()) {
        if (c.run_starts_.size() == 0) starts_ = nullptr;
        // A signal's Wide values all have its word count: the first one among the first runs tells.
        for (size_t run = 0; run < c.kinds_.size() && run < kWideSearchRuns; ++run) {
            if (static_cast<ValueKind>(c.kinds_[run]) != ValueKind::Wide) continue;
            const size_t words = 1 + Column::wide_value(payloads_, c.run_payload(run)).wide_words().size();
            wide_stride_ = static_cast<uint16_t>(std::min<size_t>(words, UINT16_MAX));
            break;
        }
    }

    // The same value as Column::at(index) of the column it came from.
    ValueRef at(uint64_t index) const {
        if (index >= length_) return ValueRef();
        // Where changes are spread evenly, the run holding index is near index * runs / length:
        // its payload, kind and Wide value are asked for now and arrive while the rank is counted,
        // instead of each being waited for after the one before.
        const auto guess = static_cast<size_t>(static_cast<float>(index) * runs_per_index_);
        if (wide_stride_ != 0) {
            // The Wide values lie before the payloads in run order, wide_stride_ words each (other
            // kinds of runs in between only make the guess worse). Integer arithmetic: the guess
            // may point before the array, which a prefetch ignores.
            const auto runs = static_cast<size_t>(static_cast<float>(length_) * runs_per_index_ + 0.5f);
            const size_t later = runs > guess ? runs - guess : 1;
            __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(payloads_) -
                                                             later * wide_stride_ * sizeof(uint64_t)));
        }
        size_t run = 0;
        if (starts_ != nullptr) {
            __builtin_prefetch(payloads_ + guess * payload_width_);
            if (kinds_ != nullptr) __builtin_prefetch(kinds_ + guess);
            if (sorted_) {
                // The sorted starts near the guess are asked for with the run count at the front.
                const auto* sorted = static_cast<const uint32_t*>(starts_);
                __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<uintptr_t>(sorted + 1) +
                                                                 guess * sizeof(uint32_t)));
                run = RunStarts::sorted_run_of(sorted, index, guess);
            } else {
                run = static_cast<size_t>(RankBits::rank1(length_, static_cast<const uint64_t*>(starts_), index) - 1);
            }
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
    // The run-start bits and their directory, or the sorted run starts (see RunStarts) when
    // sorted_; nullptr with at most one run.
    const void* starts_ = nullptr;
    const uint8_t* payloads_ = nullptr;
    const uint8_t* kinds_ = nullptr;  // nullptr when every run is a Uint
    const SignalValue* heap_ = nullptr;
    float runs_per_index_ = 0;  // only a hint where to look
    uint16_t wide_stride_ = 0;  // 1 + the words of a Wide value (a hint); 0 when none was seen
    uint8_t payload_width_ = 8;
    bool sorted_ = false;
    static constexpr size_t kWideSearchRuns = 64;
};

}  // namespace quor_core::signal
