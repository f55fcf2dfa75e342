#pragma once
// A fixed bit vector with a rank directory: rank1 in O(1) (at most eight popcounts).

#include <cstdint>
#include <vector>

namespace quor_core::signal {

class RankBits {
public:
    RankBits() = default;
    // All bits clear; set() them, then build_ranks() before any rank1().
    explicit RankBits(uint64_t length) : length_(length), words_((length + 63) / 64, 0) {}
    void set(uint64_t i) { words_[i >> 6] |= uint64_t{1} << (i & 63); }
    void build_ranks();

    uint64_t size() const { return length_; }
    bool test(uint64_t i) const { return (words_[i >> 6] >> (i & 63)) & 1U; }
    // Number of set bits at positions 0..i inclusive; requires i < size().
    uint64_t rank1(uint64_t i) const;
    // First set bit at a position >= from, or size() when there is none.
    uint64_t next_one(uint64_t from) const;

private:
    static constexpr unsigned kWordsPerBlock = 8;  // one cumulative count per 512 bits
    uint64_t length_ = 0;
    std::vector<uint64_t> words_;
    std::vector<uint64_t> blocks_;  // set bits before each block
};

}  // namespace quor_core::signal
