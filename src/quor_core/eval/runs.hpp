#pragma once
// Steps through one signal's values over 0..last as segments of equal stored value.

#include <cstdint>

#include "signal/column.hpp"

namespace quor_core::eval {

// Yields [begin, end) with one stored value each, covering 0..last; past the column's length
// (or for a missing column) the value is Unknown. Adjacent segments hold different stored
// values, but a Real NaN segment is one segment although no two of its samples are identical.
class RunWalker {
public:
    RunWalker(const signal::Column* column, uint64_t last) : column_(column), last_(last) {}

    bool next(uint64_t& begin, uint64_t& end, signal::ValueRef& value) {
        if (done_) return false;
        begin = pos_;
        if (column_ && pos_ < column_->length()) {
            end = column_->run_end_after(pos_);
            value = column_->run_value(run_++);
        } else {
            end = last_ + 1;
            value = signal::ValueRef();
        }
        if (end > last_) {
            end = last_ + 1;
            done_ = true;
        }
        pos_ = end;
        return true;
    }

private:
    const signal::Column* column_;
    uint64_t last_;
    uint64_t pos_ = 0;
    size_t run_ = 0;
    bool done_ = false;
};

inline bool is_nan_real(const signal::ValueRef& v) {
    return v.kind() == signal::ValueKind::Real && v.as_real() != v.as_real();
}

}  // namespace quor_core::eval
