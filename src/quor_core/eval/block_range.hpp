#pragma once
// The part of a block of indices that lies inside a range of root indices.

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace quor_core::eval {

__extension__ typedef __int128 Int128;

// Block positions [begin, end) of first..first+n-1 that lie in lo..hi.
inline void clip_block(Int128 lo, Int128 hi, uint64_t first, size_t n, size_t& begin, size_t& end) {
    const Int128 b = std::max<Int128>(lo - Int128(first), 0);
    const Int128 e = std::min<Int128>(hi - Int128(first) + 1, Int128(n));
    begin = static_cast<size_t>(std::min<Int128>(b, Int128(n)));
    end = e > Int128(begin) ? static_cast<size_t>(e) : begin;
}

}  // namespace quor_core::eval
