#pragma once
// RankBits: a read-only view of a bit vector and its rank directory: rank1 in O(1) (at most
// eight popcounts). The words and the directory live in one array owned elsewhere (a Column's):
// the directory follows the words, so a view is its length and one address, and whoever holds
// that address (a ColumnHead) can ask for a word and its block count at once.

#include <bit>
#include <cstddef>
#include <cstdint>

namespace quor_core::signal {

class RankBits {
public:
    static constexpr unsigned kWordsPerBlock = 8;  // one cumulative count per 512 bits

    RankBits() = default;
    // Views length bits in words: word_count(length) words, then their directory (block_count
    // entries, filled by build_directory).
    RankBits(uint64_t length, const uint64_t* words) : length_(length), words_(words) {}

    static size_t word_count(uint64_t length) { return static_cast<size_t>((length + 63) / 64); }
    static size_t block_count(uint64_t length) { return (word_count(length) + kWordsPerBlock - 1) / kWordsPerBlock; }
    // Words an array for length bits and their directory takes.
    static size_t array_words(uint64_t length) { return word_count(length) + block_count(length); }
    // Fills blocks with the number of set bits before each block of words.
    static void build_directory(const uint64_t* words, size_t word_count, uint64_t* blocks);

    uint64_t size() const { return length_; }
    bool test(uint64_t i) const { return (words_[i >> 6] >> (i & 63)) & 1U; }
    // The word_count(size()) words holding the bits; bit i is bit i % 64 of word i / 64.
    const uint64_t* words() const { return words_; }
    // The directory: the number of set bits before each block of kWordsPerBlock words.
    const uint64_t* blocks() const { return words_ + word_count(length_); }
    // Number of set bits at positions 0..i inclusive; requires i < size().
    uint64_t rank1(uint64_t i) const { return rank1(length_, words_, i); }
    // The same for the view RankBits(length, words), inline for readers that keep only the address.
    static uint64_t rank1(uint64_t length, const uint64_t* words, uint64_t i) {
        const uint64_t word = i >> 6;
        const uint64_t block = word / kWordsPerBlock;
        const uint64_t first = block * kWordsPerBlock;
        // The first block's count is 0: not read, so a short vector is one array line, not two.
        uint64_t r = block == 0 ? 0 : words[word_count(length) + block];
        for (uint64_t w = first; w < word; ++w) r += static_cast<uint64_t>(std::popcount(words[w]));
        const unsigned bit = i & 63;
        const uint64_t mask = bit == 63 ? ~uint64_t{0} : (uint64_t{2} << bit) - 1;
        return r + static_cast<uint64_t>(std::popcount(words[word] & mask));
    }
    // First set bit at a position >= from, or size() when there is none.
    uint64_t next_one(uint64_t from) const;

private:
    uint64_t length_ = 0;
    const uint64_t* words_ = nullptr;
};

}  // namespace quor_core::signal
