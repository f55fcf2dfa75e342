#pragma once
// Whole-number readings of two-state values of any width, for the comparisons, Slice and the
// statistics: words least significant first, as a Wide value holds them.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "signal/column.hpp"

namespace quor_core::eval {

// The words of words with its zero words above the highest set bit removed.
inline std::span<const uint64_t> trimmed(std::span<const uint64_t> words) {
    size_t n = words.size();
    while (n > 0 && words[n - 1] == 0) --n;
    return words.first(n);
}

// The whole number a value denotes: a Uint, every word of a Wide, every bit of a FourState
// without x or z bits, or the decimal number of a Text. A Real's number is its truncated reading.
class WholeNumber {
public:
    // Nothing for Unknown, a Wide without words, x or z bits, or a Text that is not a number.
    static std::optional<WholeNumber> of(const signal::ValueRef& v);

    // The words without the zero words above the highest set bit (none for 0). They view the
    // value's own words where it has them: the value must outlive the number.
    std::span<const uint64_t> words() const {
        if (!view_.empty()) return view_;
        return owned_.empty() ? std::span<const uint64_t>(&low_, significant_) : std::span(owned_).first(significant_);
    }
    bool fits_u64() const { return significant_ <= 1; }

private:
    friend class SignedNumber;
    explicit WholeNumber(uint64_t low) : low_(low), significant_(low != 0 ? 1 : 0) {}
    explicit WholeNumber(std::span<const uint64_t> view) : view_(trimmed(view)), significant_(view_.size()) {}
    explicit WholeNumber(std::vector<uint64_t> words);

    uint64_t low_ = 0;                    // the number when it is held in one word
    std::span<const uint64_t> view_;      // a Wide value's words, when they are more than one
    std::vector<uint64_t> owned_;         // the packed bits of a FourState value of more than 64
    size_t significant_ = 0;
};

// -1, 0 or 1 as a is less than, equal to or greater than b (both trimmed of high zero words).
int compare_words(std::span<const uint64_t> a, std::span<const uint64_t> b);

// An integer with a sign, as a comparison reads an operand: the whole number of an unsigned
// value, or a signed() result read as two's complement: a Uint as a signed 64-bit number, a
// Wide over all of its words.
class SignedNumber {
public:
    // Nothing where WholeNumber::of gives nothing.
    static std::optional<SignedNumber> of(const signal::ValueRef& v, bool twos_complement);

    bool negative() const { return negative_; }
    // The words of the magnitude, trimmed; they may view the value's words (see WholeNumber).
    std::span<const uint64_t> magnitude() const { return magnitude_.words(); }

private:
    SignedNumber(bool negative, WholeNumber magnitude) : negative_(negative), magnitude_(std::move(magnitude)) {}
    bool negative_;
    WholeNumber magnitude_;
};

// -1, 0 or 1 as a is less than, equal to or greater than b.
int compare_signed(const SignedNumber& a, const SignedNumber& b);

// Sign-extends a value from bit width - 1, for signed() of a width above 64: the two's
// complement in ceil(width / 64) words when that bit is set (the bits above it all set); else
// the whole number as it is, a Uint when it is below 2^63 and otherwise a Wide with a zero word
// on top, so that read as two's complement it stays positive. A Wide result is held in scratch;
// nothing when the value has no whole number. Allocates no more words than the value has, plus
// one, however large the width.
signal::ValueRef sign_extend_wide(const signal::ValueRef& v, uint64_t width, signal::SignalValue& scratch);

// The number as a double, rounded to the nearest; infinity when it is too large.
double words_to_double(std::span<const uint64_t> words);

// Bits high..low (inclusive) of the number: a Uint when they fit 64 bits, else a Wide held in
// scratch (the result then views it). 0 when high < low or low lies above the number.
signal::ValueRef slice_words(std::span<const uint64_t> words, uint64_t high, uint64_t low, signal::SignalValue& scratch);

// An unsigned number of any size that grows as values are added, for exact sums.
class WordSum {
public:
    // Adds words * times.
    void add_product(std::span<const uint64_t> words, uint64_t times);
    std::span<const uint64_t> words() const { return trimmed(words_); }

private:
    void add_at(size_t position, uint64_t value);  // adds value * 2^(64 * position)
    std::vector<uint64_t> words_;
};

}  // namespace quor_core::eval
