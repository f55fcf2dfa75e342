#pragma once
// RunStarts: where a column's runs begin, in one of two forms. A bit per index with a rank
// directory (RankBits) suits a column that changes often; a column with few runs relative to its
// length keeps the sorted start indices instead, as 32-bit numbers, which is never more memory
// than the bits (at most one run per 32 indices) and needs no zeroed array as long as the trace.
// Both answer the same questions with the same results.
//
// The sorted form is one array of run_count() uint32 entries: entry 0 holds the run count (the
// first run always starts at 0, so its start need not be stored), entry k > 0 the start of run k.
// A reader that keeps only the array's address (a ColumnHead) finds the count there.

#include <cstddef>
#include <cstdint>
#include <span>

#include "signal/rank_bits.hpp"

namespace quor_core::signal {

class RunStarts {
public:
    // At most this many runs per index are kept sorted rather than as bits.
    static constexpr uint64_t kIndicesPerSortedRun = 32;
    // Whether a column of length indices with runs runs keeps its starts sorted.
    static bool sorted_fits(uint64_t length, uint64_t runs) { return length <= UINT32_MAX && runs <= sorted_limit(length); }
    // The most runs the sorted form holds for a column of length indices (0: never sorted).
    static uint64_t sorted_limit(uint64_t length) { return length <= UINT32_MAX ? length / kIndicesPerSortedRun : 0; }

    RunStarts() = default;  // at most one run: nothing to store
    explicit RunStarts(RankBits bits) : bits_(bits) {}
    // The sorted form of a column of length indices: array as described above, array[0] >= 2.
    RunStarts(uint64_t length, const uint32_t* array) : bits_(length, nullptr), sorted_(array) {}

    // The column's length, or 0 when there is at most one run.
    uint64_t size() const { return bits_.size(); }
    bool is_sorted() const { return sorted_ != nullptr; }
    // The bit form; only when !is_sorted().
    const RankBits& bits() const { return bits_; }
    // The sorted array (entry 0 the run count); only when is_sorted().
    const uint32_t* sorted_array() const { return sorted_; }

    // The run holding index (< size()); a column of one run answers 0 for every index.
    size_t run_of(uint64_t index) const {
        if (sorted_ != nullptr) return sorted_run_of(sorted_, index, sorted_guess(index));
        return bits_.size() == 0 ? 0 : static_cast<size_t>(bits_.rank1(index) - 1);
    }
    // The first run start after index, or length when the run holding index is the last.
    // Requires a column of two runs or more.
    uint64_t start_after(uint64_t index) const {
        if (sorted_ == nullptr) return bits_.next_one(index + 1);
        const size_t next = sorted_run_of(sorted_, index, sorted_guess(index)) + 1;
        return next < sorted_[0] ? sorted_[next] : bits_.size();
    }
    // Whether a run starts at index.
    bool test(uint64_t index) const {
        if (sorted_ == nullptr) return bits_.test(index);
        const size_t run = sorted_run_of(sorted_, index, sorted_guess(index));
        return run == 0 ? index == 0 : sorted_[run] == index;
    }
    // The bit words first_word .. first_word + count - 1 of the bit form (bit i of word w marks a
    // run starting at 64 * w + i), whichever form is kept. Words past the column's end are zero.
    void copy_words(uint64_t first_word, size_t count, uint64_t* out) const;

    // The run holding index in a sorted array (entry 0 the run count), searched from guess, a
    // run near the answer: its neighbours first, then steps doubling away from it, then halving.
    static size_t sorted_run_of(const uint32_t* array, uint64_t index, size_t guess) {
        const size_t runs = array[0];
        // Runs are numbered by their start; run k > 0 holds index when array[k] <= index and the
        // next start, if any, lies after it. Find the first k >= 1 whose start lies after index.
        auto after = [&](size_t k) { return k >= runs || array[k] > index; };
        size_t lo = 0;    // a run whose start is not after index (run 0 starts at 0)
        size_t hi = runs;  // a k with after(k)
        size_t k = guess + 1 < runs ? guess + 1 : runs - 1;
        if (k == 0) k = 1;
        if (after(k)) {
            hi = k;
            for (size_t step = 1; hi > step;) {
                const size_t probe = hi - step;
                if (!after(probe)) {
                    lo = probe;
                    break;
                }
                hi = probe;
                step *= 2;
            }
        } else {
            lo = k;
            for (size_t step = 1; lo + step < runs;) {
                const size_t probe = lo + step;
                if (after(probe)) {
                    hi = probe;
                    break;
                }
                lo = probe;
                step *= 2;
            }
        }
        while (hi - lo > 1) {
            const size_t mid = lo + (hi - lo) / 2;
            if (after(mid)) {
                hi = mid;
            } else {
                lo = mid;
            }
        }
        return lo;
    }
    // Where changes are spread evenly, the run holding index is near index * runs / length.
    static size_t sorted_guess(uint64_t index, uint64_t runs, uint64_t length) {
        // runs <= length / 32 < 2^27 and index < 2^32: the product fits.
        return static_cast<size_t>(index * runs / length);
    }

private:
    size_t sorted_guess(uint64_t index) const { return sorted_guess(index, sorted_[0], bits_.size()); }

    RankBits bits_;  // the length, and in the bit form the words
    const uint32_t* sorted_ = nullptr;
};

}  // namespace quor_core::signal
