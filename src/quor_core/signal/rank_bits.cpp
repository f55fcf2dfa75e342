#include "signal/rank_bits.hpp"

#include <algorithm>
#include <bit>

namespace quor_core::signal {

void RankBits::build_directory(const uint64_t* words, size_t word_count, uint64_t* blocks) {
    uint64_t total = 0;
    size_t w = 0;
    for (; w + kWordsPerBlock <= word_count; w += kWordsPerBlock) {
        blocks[w / kWordsPerBlock] = total;
        for (unsigned k = 0; k < kWordsPerBlock; ++k) total += static_cast<uint64_t>(std::popcount(words[w + k]));
    }
    if (w < word_count) blocks[w / kWordsPerBlock] = total;  // the last, partial block
}

uint64_t RankBits::next_one(uint64_t from) const {
    if (from >= length_) return length_;
    const size_t words = word_count(length_);
    uint64_t word = from >> 6;
    uint64_t bits = words_[word] & (~uint64_t{0} << (from & 63));
    while (bits == 0) {
        if (++word >= words) return length_;
        bits = words_[word];
    }
    const uint64_t pos = word * 64 + std::countr_zero(bits);
    return pos < length_ ? pos : length_;
}

}  // namespace quor_core::signal
