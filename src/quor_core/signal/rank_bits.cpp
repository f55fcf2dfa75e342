#include "signal/rank_bits.hpp"

#include <algorithm>
#include <bit>

namespace quor_core::signal {

void RankBits::build_ranks() {
    const size_t block_count = (words_.size() + kWordsPerBlock - 1) / kWordsPerBlock;
    blocks_.assign(block_count, 0);
    uint64_t total = 0;
    for (size_t b = 0; b < block_count; ++b) {
        blocks_[b] = total;
        const size_t end = std::min(words_.size(), (b + 1) * kWordsPerBlock);
        for (size_t w = b * kWordsPerBlock; w < end; ++w) total += std::popcount(words_[w]);
    }
}

uint64_t RankBits::rank1(uint64_t i) const {
    const uint64_t word = i >> 6;
    uint64_t r = blocks_[word / kWordsPerBlock];
    for (uint64_t w = word - word % kWordsPerBlock; w < word; ++w) r += std::popcount(words_[w]);
    const unsigned bit = i & 63;
    const uint64_t mask = bit == 63 ? ~uint64_t{0} : (uint64_t{2} << bit) - 1;
    return r + std::popcount(words_[word] & mask);
}

uint64_t RankBits::next_one(uint64_t from) const {
    if (from >= length_) return length_;
    uint64_t word = from >> 6;
    uint64_t bits = words_[word] & (~uint64_t{0} << (from & 63));
    while (bits == 0) {
        if (++word >= words_.size()) return length_;
        bits = words_[word];
    }
    const uint64_t pos = word * 64 + std::countr_zero(bits);
    return pos < length_ ? pos : length_;
}

}  // namespace quor_core::signal
