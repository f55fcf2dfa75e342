#pragma once
// RankBits: a read-only view of a bit vector and its rank directory: rank1 in O(1) (at most
// eight popcounts). The words and the directory live in memory owned elsewhere (a Column's).

#include <cstddef>
#include <cstdint>

namespace quor_core::signal {

class RankBits {
public:
    static constexpr unsigned kWordsPerBlock = 8;  // one cumulative count per 512 bits

    RankBits() = default;
    // Views length bits in words (word_count(length) of them) and their directory (block_count
    // entries, filled by build_directory).
    RankBits(uint64_t length, const uint64_t* words, const uint64_t* blocks)
        : length_(length), words_(words), blocks_(blocks) {}

    static size_t word_count(uint64_t length) { return static_cast<size_t>((length + 63) / 64); }
    static size_t block_count(uint64_t length) { return (word_count(length) + kWordsPerBlock - 1) / kWordsPerBlock; }
    // Fills blocks with the number of set bits before each block of words.
    static void build_directory(const uint64_t* words, size_t word_count, uint64_t* blocks);

    uint64_t size() const { return length_; }
    bool test(uint64_t i) const { return (words_[i >> 6] >> (i & 63)) & 1U; }
    // The word_count(size()) words holding the bits; bit i is bit i % 64 of word i / 64.
    const uint64_t* words() const { return words_; }
    // The directory: the number of set bits before each block of kWordsPerBlock words.
    const uint64_t* blocks() const { return blocks_; }
    // Number of set bits at positions 0..i inclusive; requires i < size().
    uint64_t rank1(uint64_t i) const;
    // First set bit at a position >= from, or size() when there is none.
    uint64_t next_one(uint64_t from) const;

private:
    uint64_t length_ = 0;
    const uint64_t* words_ = nullptr;
    const uint64_t* blocks_ = nullptr;
};

}  // namespace quor_core::signal
